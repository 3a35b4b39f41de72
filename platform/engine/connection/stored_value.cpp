#include "platform/engine/connection/stored_value.h"

#include <limits>

#include "platform/core/error.h"

namespace platform::engine::internal {

namespace {

Value IntegerValue(std::int64_t v) {
  if (v >= std::numeric_limits<std::int32_t>::min() &&
      v <= std::numeric_limits<std::int32_t>::max()) {
    return Value(static_cast<std::int32_t>(v));
  }
  return Value(static_cast<double>(v));
}

}  // namespace

Value ToValue(const StoredValue& stored) {
  struct Visitor {
    Value operator()(std::monostate) const { return Value::Null(); }
    Value operator()(std::int64_t v) const { return IntegerValue(v); }
    Value operator()(double v) const { return Value(v); }
    Value operator()(const std::string& v) const { return Value(v); }
    Value operator()(const Blob& v) const { return Value(v.bytes); }
  };
  return std::visit(Visitor{}, stored);
}

StoredValue StoreUntyped(const Value& value) {
  switch (value.kind()) {
    case ValueKind::kEmpty:
    case ValueKind::kNull: return std::monostate{};
    case ValueKind::kBoolean: return std::int64_t{value.boolean() ? -1 : 0};
    case ValueKind::kByte:
    case ValueKind::kInteger:
    case ValueKind::kLong: return std::int64_t{value.ToLong()};
    case ValueKind::kSingle:
    case ValueKind::kDouble: return value.ToDouble();
    case ValueKind::kText: return value.text();
    case ValueKind::kError: break;
  }
  throw Error(err::kTypeMismatch).AddDetail("value", value.Describe());
}

}  // namespace platform::engine::internal
