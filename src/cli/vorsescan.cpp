// vorsescan: the command-line scanner. Parses nothing itself: see RunVorsescan.
#include "cli/run_cli.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  try {
    return vorse::RunVorsescan(args, vorse::PlatformScanOs(), vorse::PlatformCliOs(), std::cout,
                               std::cerr);
  } catch (const std::exception &error) {
    std::cerr << "vorsescan: " << error.what() << '\n';
    return vorse::kExitError;
  }
}
