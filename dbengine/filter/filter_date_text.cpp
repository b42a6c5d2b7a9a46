#include "dbengine/filter/filter_date_text.h"

#include <cstdint>

namespace zq {

namespace {

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  size_t Pos() const { return pos_; }
  void Reset(size_t pos) { pos_ = pos; }

  bool SkipBlanks() {
    const size_t start = pos_;
    while (!AtEnd() && static_cast<unsigned char>(text_[pos_]) <= ' ') ++pos_;
    return pos_ > start;
  }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }
  // Reads 1 to max_digits decimal digits; the count read goes to `digits`.
  bool Number(int& value, int& digits, int max_digits) {
    value = 0;
    digits = 0;
    while (!AtEnd() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      if (digits == max_digits) return false;
      value = value * 10 + (text_[pos_] - '0');
      ++digits;
      ++pos_;
    }
    return digits > 0;
  }
  bool TakeIgnoringCase(std::string_view word) {
    if (word.empty() || text_.size() - pos_ < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
      char a = text_[pos_ + i];
      char b = word[i];
      if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
      if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
      if (a != b) return false;
    }
    pos_ += word.size();
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

int WindowedYear(int year, int digits, int window, int current_year) {
  if (digits > 2) return year;
  const int century_base = current_year - window;
  year += century_base / 100 * 100;
  if (window > 0 && year < century_base) year += 100;
  return year;
}

// hours[:minutes[:seconds[<sep>fraction]]] [AM|PM]
std::optional<int32_t> ScanTime(Scanner& s, const TFilterFormatSettings& settings) {
  int hour = 0, minute = 0, second = 0, msec = 0, digits = 0;
  if (!s.Number(hour, digits, 2)) return std::nullopt;
  if (s.Take(':')) {
    if (!s.Number(minute, digits, 2)) return std::nullopt;
    if (s.Take(':')) {
      if (!s.Number(second, digits, 2)) return std::nullopt;
      if (s.Take(settings.DecimalSeparator)) {
        if (!s.Number(msec, digits, 3)) return std::nullopt;
        while (digits++ < 3) msec *= 10;
      }
    }
  }
  const size_t before_marker = s.Pos();
  s.SkipBlanks();
  int marker = 0;  // 1 AM, 2 PM
  if (s.TakeIgnoringCase(settings.TimeAMString) || s.TakeIgnoringCase("AM")) {
    marker = 1;
  } else if (s.TakeIgnoringCase(settings.TimePMString) || s.TakeIgnoringCase("PM")) {
    marker = 2;
  } else {
    s.Reset(before_marker);
  }
  if (marker != 0) {
    if (hour < 1 || hour > 12) return std::nullopt;
    if (hour == 12) hour = 0;
    if (marker == 2) hour += 12;
  }
  if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  return ((hour * 60 + minute) * 60 + second) * 1000 + msec;
}

std::optional<TTimeStamp> ScanFixedForms(std::string_view text, const TFilterFormatSettings& settings,
                                         int current_year) {
  Scanner s(text);
  s.SkipBlanks();
  const size_t start = s.Pos();
  int month = 0, day = 0, year = 0, digits = 0;
  if (s.Number(month, digits, 2) && s.Take('/') && s.Number(day, digits, 2) && s.Take('/') &&
      s.Number(year, digits, 4)) {
    year = WindowedYear(year, digits, settings.TwoDigitYearCenturyWindow, current_year);
    std::optional<int32_t> date = TryEncodeDayNumber(year, month, day);
    if (!date) return std::nullopt;
    TTimeStamp stamp{0, *date};
    if (s.SkipBlanks() && !s.AtEnd()) {
      std::optional<int32_t> time = ScanTime(s, settings);
      if (!time) return std::nullopt;
      stamp.Time = *time;
    }
    s.SkipBlanks();
    if (!s.AtEnd()) return std::nullopt;
    return stamp;
  }
  s.Reset(start);
  std::optional<int32_t> time = ScanTime(s, settings);
  if (!time) return std::nullopt;
  s.SkipBlanks();
  if (!s.AtEnd()) return std::nullopt;
  return TTimeStamp{*time, kDateDelta};
}

}  // namespace

std::optional<TTimeStamp> TryFilterTextToTimeStamp(std::string_view text,
                                                   const TFilterFormatSettings& settings,
                                                   int current_year) {
  if (auto stamp = ScanFixedForms(text, settings, current_year)) return stamp;
  std::optional<TDateTime> value = TryIsoTextToDateTime(text);
  if (!value) value = TryIsoTextToTime(text);
  if (!value) return std::nullopt;
  return TryDateTimeToTimeStamp(*value);
}

}  // namespace zq
