// UtcTimestamp: the civil time in UTC of a point of the system clock.
#include "sysutil/utc_time.h"

#include <cstdint>
#include <cstdio>

namespace vorse {
namespace {

/// The civil date of \p Days since 1970-01-01 (proleptic Gregorian), without the C library's
/// shared state.
void CivilDate(std::int64_t Days, std::int64_t &Year, unsigned &Month, unsigned &Day) {
  Days += 719468;
  const std::int64_t era = (Days >= 0 ? Days : Days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(Days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  Day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  Month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  Year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (Month <= 2 ? 1 : 0);
}

} // namespace

std::string UtcTimestamp(std::chrono::system_clock::time_point Time) {
  using namespace std::chrono;
  const auto millis = duration_cast<milliseconds>(Time.time_since_epoch()).count();
  const std::int64_t perDay = 86'400'000;
  const std::int64_t days = (millis >= 0 ? millis : millis - perDay + 1) / perDay;
  const std::int64_t ofDay = millis - days * perDay;
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilDate(days, year, month, day);
  char text[40];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02u.%03uZ",
                static_cast<long long>(year), month, day, static_cast<unsigned>(ofDay / 3'600'000),
                static_cast<unsigned>(ofDay / 60'000 % 60),
                static_cast<unsigned>(ofDay / 1000 % 60), static_cast<unsigned>(ofDay % 1000));
  return text;
}

} // namespace vorse
