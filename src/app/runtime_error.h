// RuntimeError: an error no procedure handles; it ends the program after a message naming it.
#pragma once

#include <stdexcept>
#include <string>

namespace vorse {

/// Thrown where a step cannot go on (a wininit.ini that cannot be written, for one). It travels
/// out of the running event handler, which shows it in a message box; the program then ends.
class RuntimeError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

} // namespace vorse
