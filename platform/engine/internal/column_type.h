// The declared types of the engine and the conversion of a written value to
// a column's declared type.
#pragma once

#include <string_view>

#include "platform/core/value.h"
#include "platform/engine/internal/stored_value.h"

namespace platform::engine::internal {

// `value` converted for a column of `declared_type`; refused with
// engine_err::kValueDoesNotFit naming table, column and value. A declared
// type that is none of the engine's is left to SQLite's affinity.
StoredValue ConvertToDeclaredType(std::string_view table, std::string_view column,
                                  std::string_view declared_type, const Value& value);

}  // namespace platform::engine::internal
