// The maker's contact details shown by both windows and in the missing-package message. The
// values are fictional: the domain is a reserved example domain, the numbers are not assigned.
#pragma once

namespace zq::maker {

inline constexpr char kName[] = "QUORVANT";
inline constexpr char kWebAddress[] = "http://www.quorvant.example";
inline constexpr char kEmail[] = "contact@quorvant.example";
inline constexpr char kSalesPhone[] = "+00 555 0100 10";
inline constexpr char kPartnersPhone[] = "+00 555 0100 20";
inline constexpr char kNotice[] = "Logiciel distribu\u00e9 sous licence par QUORVANT, tous droits r\u00e9serv\u00e9s.";

}  // namespace zq::maker
