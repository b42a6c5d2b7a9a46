// The fixed initial state of Blowfish (hexadecimal digits of pi).
#pragma once

#include <cstdint>

namespace zq::blowfish_tables {

extern const uint32_t kInitialP[18];
extern const uint32_t kInitialS[4][256];

}  // namespace zq::blowfish_tables
