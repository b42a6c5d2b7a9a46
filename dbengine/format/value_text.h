// The text of a stored value for messages (for example the key values of a unique-key error):
// strings up to their NUL, numbers in decimal, booleans "True"/"False", floats in the shortest
// general form, dates and times in the engine's short texts, blobs up to their first NUL. Any
// other type, or a value that cannot be converted, gives the empty text.
#pragma once

#include <cstdint>
#include <string>

namespace zq {

// data holds size bytes in the field type's stored encoding (a blob type: the blob's bytes).
std::string ValueText(const uint8_t* data, int64_t size, uint8_t field_type);

}  // namespace zq
