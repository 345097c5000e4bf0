// vorsescan: the command-line scanner. Parses nothing itself: see RunVorsescan.
#include "cli/cli_os.h"
#include "cli/run_cli.h"

#include <cstdio>
#include <exception>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

/// Writes straight through to a C stream, as std::cout does while synchronised with stdio, or
/// to the console behind it as the console needs (WriteToConsole). Kept apart from <iostream>,
/// whose standard streams bring libstdc++'s file streams along, and with them C runtime calls
/// (_fstat64, _wfopen) that Windows 98 and 2000 lack.
class StdioBuf final : public std::streambuf {
public:
  explicit StdioBuf(std::FILE *File) : file_(File) {}

protected:
  int_type overflow(int_type Char) override {
    if (traits_type::eq_int_type(Char, traits_type::eof()))
      return std::fflush(file_) == 0 ? traits_type::not_eof(Char) : traits_type::eof();
    const char text = traits_type::to_char_type(Char);
    if (vorse::WriteToConsole(file_, {&text, 1}))
      return Char;
    return std::fputc(text, file_) == EOF ? traits_type::eof() : Char;
  }
  std::streamsize xsputn(const char *Text, std::streamsize Count) override {
    const auto size = static_cast<std::size_t>(Count);
    if (vorse::WriteToConsole(file_, {Text, size}))
      return Count;
    return static_cast<std::streamsize>(std::fwrite(Text, 1, size, file_));
  }
  int sync() override { return std::fflush(file_); }

private:
  std::FILE *file_;
};

} // namespace

int main(int argc, char **argv) {
  StdioBuf outBuf(stdout);
  StdioBuf errBuf(stderr);
  std::ostream out(&outBuf);
  std::ostream err(&errBuf);
  const std::vector<std::string> args = vorse::ProgramArguments(argc, argv);
  int status = vorse::kExitError;
  try {
    status = vorse::RunVorsescan(args, vorse::PlatformScanOs(), vorse::PlatformCliOs(), out, err);
  } catch (const std::exception &error) {
    err << "vorsescan: " << error.what() << '\n';
  }
  out.flush();
  return status;
}
