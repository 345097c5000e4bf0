// WriteTextFile: one whole text-file write step through stdio, which both platforms have.
#include "app/text_file.h"

#include "app/runtime_error.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace vorse {
namespace {

std::string ErrnoText() {
  return std::generic_category().message(errno);
}

} // namespace

void WriteTextFile(const std::string &Path, const char *Mode, const std::string &Lines) {
  std::FILE *file = std::fopen(Path.c_str(), Mode);
  if (file == nullptr)
    throw RuntimeError("Cannot open " + Path + " for writing: " + ErrnoText());
  const bool written = std::fwrite(Lines.data(), 1, Lines.size(), file) == Lines.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed)
    throw RuntimeError("Cannot write " + Path + ": " + ErrnoText());
}

} // namespace vorse
