// The declared types of the engine and the conversion of a written value to
// a column's declared type.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/core/value.h"
#include "platform/engine/connection/stored_value.h"

namespace platform::engine::internal {

enum class TypeKind {
  kYesNo,
  kByte,
  kShort,
  kLong,
  kCurrency,
  kSingle,
  kDouble,
  kDateTime,
  kBinary,
  kText,
  kChar,
  kDecimal,
  kTime,
  kMemo,
  kCounter,
  kOther
};

struct DeclaredType {
  TypeKind kind = TypeKind::kOther;
  std::optional<std::size_t> size;  // n of TEXT(n), CHAR(n), BINARY(n)
};

// A declared type's text read once (letter case and spaces ignored); a text
// that is none of the engine's types gives kOther.
DeclaredType ParseDeclaredType(std::string_view declared);

// The same conversion for a type already parsed from `declared_type`, which
// only names the type in a refusal.
StoredValue ConvertToDeclaredType(std::string_view table, std::string_view column,
                                  std::string_view declared_type, const DeclaredType& type,
                                  const Value& value);

// `value` converted for a column of `declared_type`; refused with
// engine_err::kValueDoesNotFit naming table, column and value. A declared
// type that is none of the engine's is left to SQLite's affinity.
StoredValue ConvertToDeclaredType(std::string_view table, std::string_view column,
                                  std::string_view declared_type, const Value& value);

}  // namespace platform::engine::internal
