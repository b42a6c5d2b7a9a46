#include "dbengine/format/date_time.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "dbengine/format/db_error.h"

namespace zq {
namespace {

// Days from 1970-01-01 to the given proleptic Gregorian date (negative before it).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

DateParts CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  DateParts p;
  p.Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  p.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  p.Year = static_cast<int>(yoe + era * 400 + (p.Month <= 2));
  return p;
}

// 0001-01-01 is day number 1; 1970-01-01 is day number 719163.
constexpr int64_t kUnixDayNumber = 719163;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

std::string ValueText(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

[[noreturn]] void RaiseInvalidDateTime(TDateTime value) {
  throw EDatabaseError(FormatMessage("'%s' is not a valid date and time", {ValueText(value)}));
}

// Parses exactly `count` decimal digits at text[pos].
bool Digits(std::string_view text, size_t pos, size_t count, int& out) {
  if (pos + count > text.size()) return false;
  int v = 0;
  for (size_t i = 0; i < count; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

std::string_view Trim(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  return t;
}

std::optional<int32_t> ParseDateDays(std::string_view t) {
  int y, m, d;
  if (t.size() != 10 || t[4] != '-' || t[7] != '-') return std::nullopt;
  if (!Digits(t, 0, 4, y) || !Digits(t, 5, 2, m) || !Digits(t, 8, 2, d)) return std::nullopt;
  return TryEncodeDayNumber(y, m, d);
}

std::optional<int32_t> ParseTimeMSecs(std::string_view t) {
  int h, n, s = 0, ms = 0;
  if (t.size() < 5 || t[2] != ':') return std::nullopt;
  if (!Digits(t, 0, 2, h) || !Digits(t, 3, 2, n)) return std::nullopt;
  size_t pos = 5;
  if (pos < t.size()) {
    if (t[pos] != ':' || !Digits(t, pos + 1, 2, s)) return std::nullopt;
    pos += 3;
    if (pos < t.size()) {
      if (t[pos] != '.') return std::nullopt;
      const size_t frac = t.size() - pos - 1;
      if (frac < 1 || frac > 3 || !Digits(t, pos + 1, frac, ms)) return std::nullopt;
      for (size_t i = frac; i < 3; ++i) ms *= 10;
    }
  }
  if (h > 23 || n > 59 || s > 59) return std::nullopt;
  return ((h * 60 + n) * 60 + s) * 1000 + ms;
}

}  // namespace

std::optional<int32_t> TryEncodeDayNumber(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return std::nullopt;
  return static_cast<int32_t>(DaysFromCivil(year, month, day) + kUnixDayNumber);
}

DateParts DecodeDayNumber(int32_t day_number) {
  if (day_number < kMinDayNumber || day_number > kMaxDayNumber)
    throw EDatabaseError(
        FormatMessage("'%s' is not a valid day number", {std::to_string(day_number)}));
  return CivilFromDays(static_cast<int64_t>(day_number) - kUnixDayNumber);
}

TDateTime EncodeDate(int year, int month, int day) {
  const auto n = TryEncodeDayNumber(year, month, day);
  if (!n) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
    throw EDatabaseError(FormatMessage("'%s' is not a valid date", {buf}));
  }
  return static_cast<TDateTime>(*n - kDateDelta);
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      msec < 0 || msec > 999) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", hour, minute, second, msec);
    throw EDatabaseError(FormatMessage("'%s' is not a valid time", {buf}));
  }
  return static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + msec) / kMSecsPerDay;
}

DateParts DecodeDate(TDateTime value) { return DecodeDayNumber(DateTimeToTimeStamp(value).Date); }

TimeParts DecodeTime(TDateTime value) {
  int32_t t = DateTimeToTimeStamp(value).Time;
  TimeParts p;
  p.MSec = t % 1000;
  t /= 1000;
  p.Second = t % 60;
  t /= 60;
  p.Minute = t % 60;
  p.Hour = t / 60;
  return p;
}

std::optional<TTimeStamp> TryDateTimeToTimeStamp(TDateTime value) {
  if (!std::isfinite(value)) return std::nullopt;
  const double ms = std::round(value * kMSecsPerDay);
  // Well beyond the calendar's range either way; keeps the integer conversion defined.
  if (std::fabs(ms) > 1e18) return std::nullopt;
  const int64_t total = static_cast<int64_t>(ms);
  const int64_t days = total / kMSecsPerDay;  // toward zero: the integral part is the day
  const int64_t time = (total < 0 ? -total : total) % kMSecsPerDay;
  const int64_t date = kDateDelta + days;
  if (date < kMinDayNumber || date > kMaxDayNumber) return std::nullopt;
  return TTimeStamp{static_cast<int32_t>(time), static_cast<int32_t>(date)};
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  const auto s = TryDateTimeToTimeStamp(value);
  if (!s) RaiseInvalidDateTime(value);
  return *s;
}

std::optional<TDateTime> TryTimeStampToDateTime(const TTimeStamp& stamp) {
  if (stamp.Time < 0 || stamp.Time >= kMSecsPerDay || stamp.Date < kMinDayNumber ||
      stamp.Date > kMaxDayNumber)
    return std::nullopt;
  const double day = static_cast<double>(stamp.Date - kDateDelta);
  const double frac = static_cast<double>(stamp.Time) / kMSecsPerDay;
  return day < 0 ? day - frac : day + frac;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
  const auto v = TryTimeStampToDateTime(stamp);
  if (!v)
    throw EDatabaseError(FormatMessage("'%s.%s' is not a valid timestamp",
                                       {std::to_string(stamp.Date), std::to_string(stamp.Time)}));
  return *v;
}

double TimeStampToMSecs(const TTimeStamp& stamp) {
  return static_cast<double>(stamp.Date) * kMSecsPerDay + stamp.Time;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  if (!std::isfinite(msecs) || msecs < 0 ||
      msecs >= (static_cast<double>(kMaxDayNumber) + 1) * kMSecsPerDay)
    throw EDatabaseError(
        FormatMessage("'%s' is not a valid timestamp", {ValueText(msecs)}));
  double days = std::floor(msecs / kMSecsPerDay);
  double time = std::round(msecs - days * kMSecsPerDay);
  if (time >= kMSecsPerDay) {
    days += 1;
    time -= kMSecsPerDay;
  }
  return TTimeStamp{static_cast<int32_t>(time), static_cast<int32_t>(days)};
}

int32_t DateTimeToDateField(TDateTime value) { return DateTimeToTimeStamp(value).Date; }
int32_t DateTimeToTimeField(TDateTime value) { return DateTimeToTimeStamp(value).Time; }
double DateTimeToDateTimeField(TDateTime value) {
  return TimeStampToMSecs(DateTimeToTimeStamp(value));
}

TDateTime DateFieldToDateTime(int32_t day_number) {
  return TryTimeStampToDateTime(TTimeStamp{0, day_number}).value_or(0.0);
}

TDateTime TimeFieldToDateTime(int32_t msecs) {
  return TryTimeStampToDateTime(TTimeStamp{msecs, kDateDelta}).value_or(0.0);
}

TDateTime DateTimeFieldToDateTime(double msecs) {
  if (!std::isfinite(msecs)) return 0.0;
  try {
    return TimeStampToDateTime(MSecsToTimeStamp(std::round(msecs)));
  } catch (const EDatabaseError&) {
    return 0.0;
  }
}

std::string DateToIsoText(TDateTime value) {
  const DateParts d = DecodeDate(value);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.Year, d.Month, d.Day);
  return buf;
}

std::string TimeToIsoText(TDateTime value) {
  const TimeParts t = DecodeTime(value);
  char buf[24];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", t.Hour, t.Minute, t.Second, t.MSec);
  return buf;
}

std::string DateTimeToIsoText(TDateTime value) {
  return DateToIsoText(value) + "T" + TimeToIsoText(value);
}

std::optional<TDateTime> TryIsoTextToDate(std::string_view text) {
  const auto days = ParseDateDays(Trim(text));
  if (!days) return std::nullopt;
  return static_cast<TDateTime>(*days - kDateDelta);
}

std::optional<TDateTime> TryIsoTextToTime(std::string_view text) {
  const auto ms = ParseTimeMSecs(Trim(text));
  if (!ms) return std::nullopt;
  return static_cast<double>(*ms) / kMSecsPerDay;
}

std::optional<TDateTime> TryIsoTextToDateTime(std::string_view text) {
  text = Trim(text);
  const auto days = ParseDateDays(text.substr(0, 10));
  if (!days) return std::nullopt;
  int32_t ms = 0;
  if (text.size() > 10) {
    if (text[10] != 'T' && text[10] != ' ') return std::nullopt;
    const auto t = ParseTimeMSecs(text.substr(11));
    if (!t) return std::nullopt;
    ms = *t;
  }
  return TryTimeStampToDateTime(TTimeStamp{ms, *days});
}

std::string DateToShortText(TDateTime value) { return DateToIsoText(value); }

std::string TimeToShortText(TDateTime value) {
  const TimeParts t = DecodeTime(value);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.Hour, t.Minute, t.Second);
  return buf;
}

std::string DateTimeToShortText(TDateTime value) {
  return DateToShortText(value) + " " + TimeToShortText(value);
}

TDateTime Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  const auto days = TryEncodeDayNumber(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  const int32_t ms = ((tm.tm_hour * 60 + tm.tm_min) * 60 + (tm.tm_sec > 59 ? 59 : tm.tm_sec)) *
                         1000 +
                     static_cast<int32_t>(ts.tv_nsec / 1000000);
  return TryTimeStampToDateTime(TTimeStamp{ms, days.value_or(kDateDelta)}).value_or(0.0);
}

TDateTime Today() { return std::floor(Now()); }

TDateTime CurrentTime() {
  const TDateTime n = Now();
  return n - std::floor(n);
}

}  // namespace zq
