// Date and time texts of filter constants: the fixed month/day/year forms, the two-digit-year
// window, times with AM/PM, and the locale's own forms.
#include <gtest/gtest.h>

#include <optional>

#include "dbengine/filter/filter_date_text.h"

namespace zq {
namespace {

std::optional<TTimeStamp> Read(std::string_view text, int current_year = 2026,
                               TFilterFormatSettings settings = {}) {
  return TryFilterTextToTimeStamp(text, settings, current_year);
}

int32_t Day(int y, int m, int d) { return *TryEncodeDayNumber(y, m, d); }
int32_t Ms(int h, int mi, int s, int ms = 0) { return ((h * 60 + mi) * 60 + s) * 1000 + ms; }

TEST(FilterDateText, MonthDayYear) {
  EXPECT_EQ(Read("1/15/2024"), (TTimeStamp{0, Day(2024, 1, 15)}));
  EXPECT_EQ(Read(" 12/31/9999 "), (TTimeStamp{0, Day(9999, 12, 31)}));
  EXPECT_EQ(Read("2/29/2024"), (TTimeStamp{0, Day(2024, 2, 29)}));
  EXPECT_EQ(Read("01/02/0003"), (TTimeStamp{0, Day(3, 1, 2)}));  // four digits: as written
  EXPECT_EQ(Read("1/2/123"), (TTimeStamp{0, Day(123, 1, 2)}));
  EXPECT_EQ(Read("2/29/2023"), std::nullopt);
  EXPECT_EQ(Read("13/1/2024"), std::nullopt);
  EXPECT_EQ(Read("0/1/2024"), std::nullopt);
  EXPECT_EQ(Read("1/32/2024"), std::nullopt);
  EXPECT_EQ(Read("1/15"), std::nullopt);
  EXPECT_EQ(Read("1/15/20245"), std::nullopt);
  EXPECT_EQ(Read("1-15-2024"), std::nullopt);
  EXPECT_EQ(Read("1/15/2024x"), std::nullopt);
  EXPECT_EQ(Read(""), std::nullopt);
  EXPECT_EQ(Read("abc"), std::nullopt);
}

TEST(FilterDateText, TwoDigitYearWindow) {
  // Window 50 in 2026: two-digit years fall in 1976 .. 2075.
  EXPECT_EQ(Read("1/1/75")->Date, Day(2075, 1, 1));
  EXPECT_EQ(Read("1/1/76")->Date, Day(1976, 1, 1));
  EXPECT_EQ(Read("1/1/00")->Date, Day(2000, 1, 1));
  EXPECT_EQ(Read("1/1/5")->Date, Day(2005, 1, 1));
  EXPECT_EQ(Read("1/1/99")->Date, Day(1999, 1, 1));
  // The window moves with the current year.
  EXPECT_EQ(Read("1/1/75", 2024)->Date, Day(1975, 1, 1));
  EXPECT_EQ(Read("1/1/74", 2024)->Date, Day(1974, 1, 1));
  EXPECT_EQ(Read("1/1/73", 2024)->Date, Day(2073, 1, 1));
  // Window 0: the current century.
  TFilterFormatSettings no_window;
  no_window.TwoDigitYearCenturyWindow = 0;
  EXPECT_EQ(Read("1/1/99", 2026, no_window)->Date, Day(2099, 1, 1));
  EXPECT_EQ(Read("1/1/99", 1950, no_window)->Date, Day(1999, 1, 1));
}

TEST(FilterDateText, DateWithTime) {
  EXPECT_EQ(Read("1/15/2024 13:45"), (TTimeStamp{Ms(13, 45, 0), Day(2024, 1, 15)}));
  EXPECT_EQ(Read("1/15/2024 1:45:30 PM"), (TTimeStamp{Ms(13, 45, 30), Day(2024, 1, 15)}));
  EXPECT_EQ(Read("1/15/2024  12:00 am"), (TTimeStamp{0, Day(2024, 1, 15)}));
  EXPECT_EQ(Read("1/15/2024 12:00PM"), (TTimeStamp{Ms(12, 0, 0), Day(2024, 1, 15)}));
  EXPECT_EQ(Read("1/15/2024 7"), (TTimeStamp{Ms(7, 0, 0), Day(2024, 1, 15)}));
  EXPECT_EQ(Read("1/15/2024 0:00:01.5"), (TTimeStamp{1500, Day(2024, 1, 15)}));
  EXPECT_EQ(Read("1/15/2024 23:59:59.999"), (TTimeStamp{Ms(23, 59, 59, 999), Day(2024, 1, 15)}));
  EXPECT_EQ(Read("1/15/2024 24:00"), std::nullopt);
  EXPECT_EQ(Read("1/15/2024 13:00 PM"), std::nullopt);  // with a marker: hours 1 to 12
  EXPECT_EQ(Read("1/15/2024 0:00 AM"), std::nullopt);
  EXPECT_EQ(Read("1/15/2024 10:60"), std::nullopt);
  EXPECT_EQ(Read("1/15/2024 10:00:60"), std::nullopt);
  EXPECT_EQ(Read("1/15/2024 10:00:00.1234"), std::nullopt);
  EXPECT_EQ(Read("1/15/2024 10:"), std::nullopt);
  EXPECT_EQ(Read("1/15/2024 10:00 XM"), std::nullopt);
}

TEST(FilterDateText, TimeAlone) {
  // A time alone falls on 1899-12-30.
  EXPECT_EQ(Read("14:05"), (TTimeStamp{Ms(14, 5, 0), kDateDelta}));
  EXPECT_EQ(Read("2:05:09 pm"), (TTimeStamp{Ms(14, 5, 9), kDateDelta}));
  EXPECT_EQ(Read("12 AM"), (TTimeStamp{0, kDateDelta}));
  EXPECT_EQ(Read("9"), (TTimeStamp{Ms(9, 0, 0), kDateDelta}));
  EXPECT_EQ(Read("123"), std::nullopt);
}

TEST(FilterDateText, LocaleMarkersAndSeparator) {
  TFilterFormatSettings settings;
  settings.DecimalSeparator = ',';
  settings.TimeAMString = "vorm.";
  settings.TimePMString = "nachm.";
  EXPECT_EQ(Read("3:00:00,25 nachm.", 2026, settings), (TTimeStamp{Ms(15, 0, 0, 250), kDateDelta}));
  EXPECT_EQ(Read("3:00 VORM.", 2026, settings), (TTimeStamp{Ms(3, 0, 0), kDateDelta}));
  // "AM"/"PM" are always understood.
  EXPECT_EQ(Read("3:00 PM", 2026, settings), (TTimeStamp{Ms(15, 0, 0), kDateDelta}));
  EXPECT_EQ(Read("3:00:00.25", 2026, settings), std::nullopt);
}

TEST(FilterDateText, LocaleForms) {
  EXPECT_EQ(Read("2024-01-15"), (TTimeStamp{0, Day(2024, 1, 15)}));
  EXPECT_EQ(Read("2024-01-15T10:20:30.400"), (TTimeStamp{Ms(10, 20, 30, 400), Day(2024, 1, 15)}));
  EXPECT_EQ(Read("2024-01-15 10:20"), (TTimeStamp{Ms(10, 20, 0), Day(2024, 1, 15)}));
  EXPECT_EQ(Read("2024-02-30"), std::nullopt);
}

}  // namespace
}  // namespace zq
