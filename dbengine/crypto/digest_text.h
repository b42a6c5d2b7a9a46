// The engine's Base64 digest text, used for the password check text of a database file.
//
// Standard alphabet. Bytes are taken three at a time (missing bytes of the last group count as
// zero) as the value b0<<24 | b1<<16 | b2<<8; while that value is not zero it is rotated left by
// 6 bits and the character for its low 6 bits is emitted, then those bits are cleared. A group
// therefore stops as soon as its remaining bits are zero (three zero bytes give nothing). After
// the last group "==" is appended when length mod 3 is 1, "=" when it is 2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zq {

std::string EngineBase64(const uint8_t* data, size_t size);

}  // namespace zq
