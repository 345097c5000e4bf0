// The report of an error that no procedure handles: it names the error and the step it ended.
#pragma once

#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>

namespace vorse {

/// Runs \p Handler, the event handler of \p Step ("start-up", "Find and Fix"). Returns nothing
/// when it ends normally; when an exception escapes it, returns the text that tells the user
/// which error ended the program. Nothing escapes this call.
template <typename Fn>
std::optional<std::string> RunHandler(std::string_view Step, Fn &&Handler) noexcept {
  std::string error;
  try {
    Handler();
    return std::nullopt;
  } catch (const std::bad_alloc &) {
    error = "Out of memory.";
  } catch (const std::exception &e) {
    error = e.what();
  } catch (...) {
    error = "An error of unknown kind.";
  }
  try {
    return "Run-time error in " + std::string(Step) + ":\n\n" + error +
           "\n\nThe program will now end.";
  } catch (...) {
    // Out of memory again while building the report: a text short enough to need no
    // allocation still says why the program ends.
    return std::string("Out of memory.");
  }
}

} // namespace vorse
