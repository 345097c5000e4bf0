// SAMPLE_VERSION: the version resource shared by the samples, one string table in U.S. English.
#pragma once

// Resource-script syntax, which clang-format would mangle.
// clang-format off

// Id is the resource name, Key and Value the one entry that sets a sample apart; the entries
// around it stand where a real file keeps them.
#define SAMPLE_VERSION(Id, Key, Value)                                                           \
  Id VERSIONINFO FILEVERSION 1, 0, 0, 0 PRODUCTVERSION 1, 0, 0, 0 FILEOS 0x40004 FILETYPE 0x1    \
  BEGIN                                                                                          \
    BLOCK "StringFileInfo"                                                                       \
    BEGIN                                                                                        \
      BLOCK "040904b0"                                                                           \
      BEGIN                                                                                      \
        VALUE "CompanyName", "VorseFix test samples"                                             \
        VALUE "FileDescription", "Sample executable"                                             \
        VALUE Key, Value                                                                         \
        VALUE "OriginalFilename", "sample.exe"                                                   \
      END                                                                                        \
    END                                                                                          \
    BLOCK "VarFileInfo"                                                                          \
    BEGIN                                                                                        \
      VALUE "Translation", 0x409, 1200                                                           \
    END                                                                                          \
  END
// clang-format on
