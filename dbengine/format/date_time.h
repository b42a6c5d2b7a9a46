// Date and time conversions of the engine.
//
// A TDateTime counts days since 1899-12-30, with the time of day as the fraction. For values
// before that day the integral part is the day and the fraction still the (positive) time of
// day: -1.25 is 1899-12-29 06:00.
//
// A time stamp splits a moment into a day number and the milliseconds since midnight. Day number
// 1 is 0001-01-01 of the proleptic Gregorian calendar, so 1899-12-30 is day 693594 (kDateDelta).
//
// Stored encodings of the date and time field types:
//   ftDate      int32  day number
//   ftTime      int32  milliseconds since midnight
//   ftDateTime  double day number * 86,400,000 + milliseconds since midnight
//
// Texts:
//   ISO forms (tools and value conversion): "YYYY-MM-DD", "HH:MM:SS.mmm",
//   "YYYY-MM-DDTHH:MM:SS.mmm".
//   Short forms (used in messages): date "YYYY-MM-DD", time "HH:MM:SS", date-time
//   "YYYY-MM-DD HH:MM:SS". They do not depend on the user's locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dbengine/format/variant.h"

namespace zq {

constexpr int32_t kMSecsPerDay = 86400000;
// Day number of 1899-12-30, the zero of TDateTime.
constexpr int32_t kDateDelta = 693594;
// Day numbers of 0001-01-01 and 9999-12-31: the range of valid dates.
constexpr int32_t kMinDayNumber = 1;
constexpr int32_t kMaxDayNumber = 3652059;

struct TTimeStamp {
  int32_t Time = 0;  // milliseconds since midnight, 0 .. 86,399,999
  int32_t Date = 0;  // day number, 1 = 0001-01-01
  bool operator==(const TTimeStamp&) const = default;
};

struct DateParts {
  int Year = 0, Month = 0, Day = 0;
};
struct TimeParts {
  int Hour = 0, Minute = 0, Second = 0, MSec = 0;
};

// Calendar <-> day number. Invalid dates (month 13, 30 February, year 0 or 10000) give nullopt.
std::optional<int32_t> TryEncodeDayNumber(int year, int month, int day);
// Raises EDatabaseError for a day number outside 1 .. kMaxDayNumber.
DateParts DecodeDayNumber(int32_t day_number);

// TDateTime from calendar parts; EDatabaseError when the parts are not a valid date or time.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
DateParts DecodeDate(TDateTime value);
TimeParts DecodeTime(TDateTime value);

// TDateTime <-> time stamp. The milliseconds are rounded to the nearest one.
// DateTimeToTimeStamp raises EDatabaseError for values outside the calendar's range;
// TimeStampToDateTime for a time stamp whose time is outside a day or whose date is below 1.
TTimeStamp DateTimeToTimeStamp(TDateTime value);
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);
std::optional<TTimeStamp> TryDateTimeToTimeStamp(TDateTime value);
std::optional<TDateTime> TryTimeStampToDateTime(const TTimeStamp& stamp);

// Time stamp <-> milliseconds (day number * 86,400,000 + time), the ftDateTime encoding.
double TimeStampToMSecs(const TTimeStamp& stamp);
// Raises EDatabaseError for negative or non-finite milliseconds.
TTimeStamp MSecsToTimeStamp(double msecs);

// Stored encodings of the field types from and to TDateTime. The *ToDateTime functions never
// raise: a stored value that is no valid moment yields 0 (the stored bytes may come from
// anywhere). The encoders raise EDatabaseError for values outside the calendar's range.
int32_t DateTimeToDateField(TDateTime value);
int32_t DateTimeToTimeField(TDateTime value);
double DateTimeToDateTimeField(TDateTime value);
TDateTime DateFieldToDateTime(int32_t day_number);       // time of day 0
TDateTime TimeFieldToDateTime(int32_t msecs);            // on 1899-12-30
TDateTime DateTimeFieldToDateTime(double msecs);         // milliseconds rounded first

// ISO texts. The formatters raise EDatabaseError for values outside the calendar's range.
std::string DateToIsoText(TDateTime value);        // "YYYY-MM-DD"
std::string TimeToIsoText(TDateTime value);        // "HH:MM:SS.mmm"
std::string DateTimeToIsoText(TDateTime value);    // "YYYY-MM-DDTHH:MM:SS.mmm"

// Parsers: "YYYY-MM-DD"; "HH:MM", "HH:MM:SS" or "HH:MM:SS.m" with 1 to 3 fraction digits;
// a date-time is a date, optionally followed by "T" or one space and a time. Surrounding blanks
// are ignored. Anything else gives nullopt.
std::optional<TDateTime> TryIsoTextToDate(std::string_view text);
std::optional<TDateTime> TryIsoTextToTime(std::string_view text);
std::optional<TDateTime> TryIsoTextToDateTime(std::string_view text);

// Short texts used in messages (see the format above).
std::string DateToShortText(TDateTime value);
std::string TimeToShortText(TDateTime value);
std::string DateTimeToShortText(TDateTime value);

// The current local date and time.
TDateTime Now();
TDateTime Today();        // today's date, time 0
TDateTime CurrentTime();  // the time of day on 1899-12-30

}  // namespace zq
