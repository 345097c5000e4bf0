// Times as reports and records write them, without the C library's shared state.
#pragma once

#include <chrono>
#include <string>

namespace vorse {

/// \p Time as ISO 8601 in UTC with milliseconds: "2026-05-01T09:30:00.250Z".
std::string UtcTimestamp(std::chrono::system_clock::time_point Time);

} // namespace vorse
