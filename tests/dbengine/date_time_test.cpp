#include "dbengine/format/date_time.h"

#include <gtest/gtest.h>

#include <cmath>

#include "dbengine/format/db_error.h"
#include "tests/dbengine/engine_test_support.h"

namespace zq {
namespace {

using testing_support::ErrorOf;

// Day numbers are rata die (0001-01-01 = 1); published values: 1970-01-01 = 719163,
// 2000-01-01 = 730120. TDateTime serials agree with spreadsheet serials after 1900-03-01:
// 1970-01-01 = 25569, 2000-01-01 = 36526.
TEST(DateTime, DayNumbersMatchPublishedRataDie) {
  EXPECT_EQ(TryEncodeDayNumber(1, 1, 1), 1);
  EXPECT_EQ(TryEncodeDayNumber(1899, 12, 30), kDateDelta);
  EXPECT_EQ(TryEncodeDayNumber(1970, 1, 1), 719163);
  EXPECT_EQ(TryEncodeDayNumber(2000, 1, 1), 730120);
  EXPECT_EQ(TryEncodeDayNumber(9999, 12, 31), kMaxDayNumber);
  const DateParts d = DecodeDayNumber(730120 + 59);  // 2000 is a leap year
  EXPECT_EQ(d.Year, 2000);
  EXPECT_EQ(d.Month, 2);
  EXPECT_EQ(d.Day, 29);
}

TEST(DateTime, InvalidCalendarDatesAreRefused) {
  EXPECT_FALSE(TryEncodeDayNumber(0, 1, 1));
  EXPECT_FALSE(TryEncodeDayNumber(10000, 1, 1));
  EXPECT_FALSE(TryEncodeDayNumber(1900, 2, 29));  // not a leap year
  EXPECT_FALSE(TryEncodeDayNumber(2023, 13, 1));
  EXPECT_FALSE(TryEncodeDayNumber(2023, 4, 31));
  EXPECT_TRUE(TryEncodeDayNumber(2024, 2, 29));
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { EncodeDate(2023, 2, 30); }), "'2023-02-30' is not a valid date");
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { EncodeTime(24, 0, 0, 0); }), "'24:00:00.000' is not a valid time");
  EXPECT_THROW(DecodeDayNumber(0), EDatabaseError);
}

TEST(DateTime, SerialsMatchPublishedSpreadsheetValues) {
  EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
  EXPECT_DOUBLE_EQ(EncodeTime(6, 0, 0, 0), 0.25);
  EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
}

TEST(DateTime, TimeStampBothWays) {
  const TTimeStamp s = DateTimeToTimeStamp(EncodeDate(2013, 1, 15) + EncodeTime(13, 45, 30, 250));
  EXPECT_EQ(s.Date, *TryEncodeDayNumber(2013, 1, 15));
  EXPECT_EQ(s.Time, ((13 * 60 + 45) * 60 + 30) * 1000 + 250);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime(s), EncodeDate(2013, 1, 15) + EncodeTime(13, 45, 30, 250));
  // Before 1899-12-30 the fraction is still a positive time of day.
  const TTimeStamp neg = DateTimeToTimeStamp(-1.25);
  EXPECT_EQ(neg.Date, kDateDelta - 1);
  EXPECT_EQ(neg.Time, 6 * 3600 * 1000);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime(neg), -1.25);
  EXPECT_EQ(DateTimeToTimeStamp(0.0), (TTimeStamp{0, kDateDelta}));
}

TEST(DateTime, TimeStampRangeErrors) {
  EXPECT_FALSE(TryDateTimeToTimeStamp(NAN));
  EXPECT_FALSE(TryDateTimeToTimeStamp(INFINITY));
  EXPECT_FALSE(TryDateTimeToTimeStamp(1e300));
  EXPECT_FALSE(TryDateTimeToTimeStamp(EncodeDate(1, 1, 1) - 1));
  EXPECT_FALSE(TryTimeStampToDateTime(TTimeStamp{kMSecsPerDay, 1}));
  EXPECT_FALSE(TryTimeStampToDateTime(TTimeStamp{-1, 1}));
  EXPECT_FALSE(TryTimeStampToDateTime(TTimeStamp{0, 0}));
  EXPECT_EQ(ErrorOf<EDatabaseError>([&] { TimeStampToDateTime(TTimeStamp{5, 0}); }),
            "'0.5' is not a valid timestamp");
}

TEST(DateTime, MillisecondEncodingOfDateTimeFields) {
  const TDateTime v = EncodeDate(2000, 1, 1) + EncodeTime(0, 0, 1, 500);
  EXPECT_EQ(DateTimeToDateTimeField(v), 730120.0 * 86400000.0 + 1500.0);
  EXPECT_DOUBLE_EQ(DateTimeFieldToDateTime(730120.0 * 86400000.0 + 1500.0), v);
  // Milliseconds are rounded before conversion.
  EXPECT_DOUBLE_EQ(DateTimeFieldToDateTime(730120.0 * 86400000.0 + 1499.6), v);
  const TTimeStamp s = MSecsToTimeStamp(730120.0 * 86400000.0 + 86399999.7);
  EXPECT_EQ(s.Date, 730121);
  EXPECT_EQ(s.Time, 0);
  // Stored values that are no valid moment read as 0.
  EXPECT_EQ(DateTimeFieldToDateTime(-5), 0.0);
  EXPECT_EQ(DateTimeFieldToDateTime(NAN), 0.0);
  EXPECT_EQ(DateTimeFieldToDateTime(1e300), 0.0);
  EXPECT_EQ(DateTimeFieldToDateTime(0), 0.0);  // day 0 does not exist
  EXPECT_THROW(MSecsToTimeStamp(-1), EDatabaseError);
}

TEST(DateTime, DateAndTimeFieldEncodings) {
  EXPECT_EQ(DateTimeToDateField(EncodeDate(1970, 1, 1) + 0.75), 719163);
  EXPECT_EQ(DateFieldToDateTime(719163), 25569.0);
  EXPECT_EQ(DateFieldToDateTime(0), 0.0);
  EXPECT_EQ(DateFieldToDateTime(-7), 0.0);
  EXPECT_EQ(DateFieldToDateTime(kMaxDayNumber + 1), 0.0);
  EXPECT_EQ(DateTimeToTimeField(EncodeDate(1970, 1, 1) + EncodeTime(23, 59, 59, 999)), 86399999);
  EXPECT_DOUBLE_EQ(TimeFieldToDateTime(43200000), 0.5);
  EXPECT_EQ(TimeFieldToDateTime(kMSecsPerDay), 0.0);
  EXPECT_EQ(TimeFieldToDateTime(-1), 0.0);
  EXPECT_THROW(DateTimeToDateField(1e300), EDatabaseError);
}

TEST(DateTime, IsoTextsBothWays) {
  const TDateTime v = EncodeDate(2013, 1, 15) + EncodeTime(9, 5, 7, 42);
  EXPECT_EQ(DateToIsoText(v), "2013-01-15");
  EXPECT_EQ(TimeToIsoText(v), "09:05:07.042");
  EXPECT_EQ(DateTimeToIsoText(v), "2013-01-15T09:05:07.042");
  EXPECT_EQ(DateTimeToIsoText(-1.25), "1899-12-29T06:00:00.000");
  EXPECT_EQ(DateToIsoText(EncodeDate(1, 1, 1)), "0001-01-01");
  EXPECT_DOUBLE_EQ(*TryIsoTextToDateTime("2013-01-15T09:05:07.042"), v);
  EXPECT_DOUBLE_EQ(*TryIsoTextToDateTime("2013-01-15 09:05:07.042"), v);
  EXPECT_DOUBLE_EQ(*TryIsoTextToDateTime(" 2013-01-15 "), EncodeDate(2013, 1, 15));
  EXPECT_DOUBLE_EQ(*TryIsoTextToDateTime("1899-12-29T06:00"), -1.25);
  EXPECT_DOUBLE_EQ(*TryIsoTextToDate("2013-01-15"), EncodeDate(2013, 1, 15));
  EXPECT_DOUBLE_EQ(*TryIsoTextToTime("09:05:07.042"), EncodeTime(9, 5, 7, 42));
  EXPECT_DOUBLE_EQ(*TryIsoTextToTime("09:05:07.5"), EncodeTime(9, 5, 7, 500));
  EXPECT_DOUBLE_EQ(*TryIsoTextToTime("09:05"), EncodeTime(9, 5, 0, 0));
}

TEST(DateTime, MalformedIsoTextsAreRefused) {
  for (const char* t : {"", "2013-1-15", "2013/01/15", "2013-02-30", "0000-01-01", "2013-01-15x",
                        "2013-01-15T", "2013-01-15T25:00:00", "abcd-ef-gh"})
    EXPECT_FALSE(TryIsoTextToDateTime(t)) << t;
  for (const char* t : {"", "9:05", "09:60", "09:05:61", "09:05:07.", "09:05:07.1234",
                        "09:05:07,5", "09-05-07", "24:00:00"})
    EXPECT_FALSE(TryIsoTextToTime(t)) << t;
  EXPECT_FALSE(TryIsoTextToDate("2013-01-15T00:00"));
}

TEST(DateTime, ShortTextsForMessages) {
  const TDateTime v = EncodeDate(2013, 1, 15) + EncodeTime(9, 5, 7, 942);
  EXPECT_EQ(DateToShortText(v), "2013-01-15");
  EXPECT_EQ(TimeToShortText(v), "09:05:07");
  EXPECT_EQ(DateTimeToShortText(v), "2013-01-15 09:05:07");
}

TEST(DateTime, NowIsTodayPlusCurrentTime) {
  const TDateTime before = Now();
  const TDateTime today = Today();
  const TDateTime t = CurrentTime();
  const TDateTime after = Now();
  EXPECT_GT(before, EncodeDate(2020, 1, 1));
  EXPECT_LE(before, after);
  EXPECT_TRUE(testing_support::DateBetween(today, before, after)) << today << " " << before << " " << after;
  EXPECT_GE(t, 0.0);
  EXPECT_LT(t, 1.0);
  EXPECT_TRUE(testing_support::TimeBetween(t, before, after)) << t << " " << before << " " << after;
}

}  // namespace
}  // namespace zq
