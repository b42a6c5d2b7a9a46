// The schema document of `zqdb create`, read into the engine's creation description. The tool
// only checks the document's shape and turns JSON values into field values; sizes, names and the
// file layout are the creation facility's business.
#pragma once

#include <nlohmann/json.hpp>

#include "dbengine/storage/db_creator.h"

namespace zq::zqdb {

// EUsageError for a document of the wrong shape: an unknown key, type or option, a value of the
// wrong JSON kind for its field, a record without a value for a non-blob field, or text that
// code page 1252 cannot hold.
TDbSchema ParseSchema(const nlohmann::json& document);

}  // namespace zq::zqdb
