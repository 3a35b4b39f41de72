// A value in the form SQLite stores it: what the declared-type conversion
// produces and the statements bind.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "platform/core/value.h"

namespace platform::engine::internal {

struct Blob {
  std::string bytes;
  bool operator==(const Blob&) const = default;
};

// std::monostate is null.
using StoredValue = std::variant<std::monostate, std::int64_t, double, std::string, Blob>;

// A stored value as the engine reads it back (integers as Long when they fit
// 32 bits, else Double; blobs as Text of their bytes).
Value ToValue(const StoredValue& stored);

// `value` as it is stored where no declared type applies: booleans as -1/0,
// Empty as null, error values refused with Type mismatch.
StoredValue StoreUntyped(const Value& value);

}  // namespace platform::engine::internal
