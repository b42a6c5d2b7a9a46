// Reading the date and time texts of filter constants ('1/15/2024', '1/15/24 3:30 PM', '14:05').
//
// Fixed forms first: a date as month/day/year, optionally followed by blanks and a time; or a
// time alone. A time is hours[:minutes[:seconds[<decimal separator>fraction]]] (1 to 3 fraction
// digits) with an optional AM/PM marker (the locale's or "AM"/"PM", any case), which requires an
// hour from 1 to 12. One- and two-digit years are placed by the two-digit-year window. Then the
// locale's forms: "YYYY-MM-DD", "HH:MM[:SS[.fff]]" and "YYYY-MM-DD[T| ]HH:MM[:SS[.fff]]".
#pragma once

#include <optional>
#include <string_view>

#include "dbengine/format/date_time.h"
#include "dbengine/filter/syntax_parser.h"

namespace zq {

// The moment a text stands for; a time alone falls on 1899-12-30. nullopt when the text is no
// valid date or time in any of the forms.
std::optional<TTimeStamp> TryFilterTextToTimeStamp(std::string_view text,
                                                   const TFilterFormatSettings& settings,
                                                   int current_year);

}  // namespace zq
