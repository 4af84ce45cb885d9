#include "report/utc_text.h"

namespace report {

void writeUtc(char* out, std::uint32_t seconds) {
  // Days to a civil date (proleptic Gregorian, March-based years).
  const std::uint32_t days = seconds / 86400;
  std::uint32_t rest = seconds % 86400;
  const std::uint32_t z = days + 719468;
  const std::uint32_t era = z / 146097;
  const std::uint32_t doe = z - era * 146097;
  const std::uint32_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::uint32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::uint32_t mp = (5 * doy + 2) / 153;
  const std::uint32_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::uint32_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::uint32_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  const std::uint32_t hour = rest / 3600;
  rest %= 3600;
  const auto two = [&](std::size_t at, std::uint32_t v) {
    out[at] = static_cast<char>('0' + v / 10);
    out[at + 1] = static_cast<char>('0' + v % 10);
  };
  two(0, year / 100);
  two(2, year % 100);
  out[4] = '-';
  two(5, month);
  out[7] = '-';
  two(8, day);
  out[10] = 'T';
  two(11, hour);
  out[13] = ':';
  two(14, rest / 60);
  out[16] = ':';
  two(17, rest % 60);
  out[19] = 'Z';
}

}  // namespace report
