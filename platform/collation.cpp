#include "platform/collation.h"

#include <unicode/ucol.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

#include "platform/exception.h"

namespace zq {

namespace {

// Code page 1252 positions 0x80 to 0x9F; the rest of the page equals Latin-1.
constexpr char16_t kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct CollatorCloser {
  void operator()(UCollator* c) const { ucol_close(c); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

CollatorPtr OpenCollator(bool ignore_case) {
  UErrorCode status = U_ZERO_ERROR;
  // The POSIX locale's collation orders capitals and small letters as different base letters,
  // so case could never be ignored; the root collation serves that locale instead.
  const char* locale = uloc_getDefault();
  if (std::string_view(locale).starts_with("en_US_POSIX")) locale = "";
  UCollator* c = ucol_open(locale, &status);
  if (U_FAILURE(status)) {
    status = U_ZERO_ERROR;
    c = ucol_open("", &status);  // root collation
  }
  if (U_FAILURE(status) || c == nullptr) throw Exception("Locale-aware string comparison is unavailable");
  // Case-insensitive: compare base letters and accents only (secondary strength).
  ucol_setStrength(c, ignore_case ? UCOL_SECONDARY : UCOL_TERTIARY);
  return CollatorPtr(c);
}

UCollator* CollatorFor(bool ignore_case) {
  thread_local CollatorPtr exact = OpenCollator(false);
  thread_local CollatorPtr no_case = OpenCollator(true);
  return ignore_case ? no_case.get() : exact.get();
}

std::string_view UpToNul(std::string_view text) {
  size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

}  // namespace

std::u16string Cp1252ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto b = static_cast<unsigned char>(ch);
    out.push_back(b >= 0x80 && b < 0xA0 ? kHigh1252[b - 0x80] : static_cast<char16_t>(b));
  }
  return out;
}

int CompareStringA(std::string_view a, std::string_view b, bool ignore_case) {
  std::u16string ua = Cp1252ToUtf16(UpToNul(a));
  std::u16string ub = Cp1252ToUtf16(UpToNul(b));
  UCollationResult r = ucol_strcoll(CollatorFor(ignore_case), reinterpret_cast<const UChar*>(ua.data()),
                                    static_cast<int32_t>(ua.size()), reinterpret_cast<const UChar*>(ub.data()),
                                    static_cast<int32_t>(ub.size()));
  return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

int CompareStringPrefixA(std::string_view a, std::string_view b, size_t max_chars, bool ignore_case) {
  a = UpToNul(a);
  b = UpToNul(b);
  return CompareStringA(a.substr(0, std::min(a.size(), max_chars)), b.substr(0, std::min(b.size(), max_chars)),
                        ignore_case);
}

}  // namespace zq
