// DATE arithmetic. A DATE counts days since 1899-12-30; its fraction is the
// time of day. Before that day the whole part is negative and the fraction
// still counts forward from midnight, so 1899-12-29 06:00 is -1.25, not -0.75.
#include <cmath>
#include <ctime>

#include "OleAuto.h"

namespace {

// 0100-01-01 and 9999-12-31, the range a DATE may express.
constexpr double kMinDate = -657434.0;
constexpr double kMaxDateExclusive = 2958466.0;
constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (m <= 2));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

const int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

bool DateFromParts(const KvDateParts& p, DATE* out) {
  if (!out) return false;
  if (p.year < 100 || p.year > 9999 || p.month < 1 || p.month > 12) return false;
  if (p.day < 1 || p.day > DaysInMonth(p.year, p.month)) return false;
  if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59)
    return false;
  const int64_t days = DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) - kEpochDays;
  const double fraction = static_cast<double>(p.hour * 3600 + p.minute * 60 + p.second) / kSecondsPerDay;
  *out = days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
  return true;
}

bool PartsFromDate(DATE date, KvDateParts* out) {
  if (!out || !std::isfinite(date) || date < kMinDate || date >= kMaxDateExclusive) return false;
  int64_t days = static_cast<int64_t>(std::trunc(date));
  const double fraction = std::fabs(date - static_cast<double>(days));
  int64_t seconds = std::llround(fraction * kSecondsPerDay);
  if (seconds >= kSecondsPerDay) {  // 23:59:59.6 rounds into the next day
    seconds -= kSecondsPerDay;
    ++days;
  }
  CivilFromDays(days + kEpochDays, &out->year, &out->month, &out->day);
  if (out->year > 9999) return false;
  out->hour = static_cast<int>(seconds / 3600);
  out->minute = static_cast<int>(seconds / 60 % 60);
  out->second = static_cast<int>(seconds % 60);
  return true;
}

DATE DateNowLocal() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const KvDateParts parts{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                          local.tm_hour,        local.tm_min,     local.tm_sec > 59 ? 59 : local.tm_sec};
  DATE result = 0;
  DateFromParts(parts, &result);
  return result;
}
