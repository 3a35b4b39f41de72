#include "platform/engine/rows/column_type.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/engine/connection/engine_error.h"
#include "platform/engine/connection/engine_failure.h"

namespace platform::engine::internal {

namespace {

// The kind of an upper-cased declared type without its size.
TypeKind KindOfName(std::string_view name) {
  struct Entry {
    std::string_view name;
    TypeKind kind;
  };
  static constexpr Entry kTable[] = {
      {"YESNO", TypeKind::kYesNo},       {"BYTE", TypeKind::kByte},
      {"SHORT", TypeKind::kShort},       {"LONG", TypeKind::kLong},
      {"CURRENCY", TypeKind::kCurrency}, {"SINGLE", TypeKind::kSingle},
      {"DOUBLE", TypeKind::kDouble},     {"DATETIME", TypeKind::kDateTime},
      {"BINARY", TypeKind::kBinary},     {"TEXT", TypeKind::kText},
      {"CHAR", TypeKind::kChar},         {"DECIMAL", TypeKind::kDecimal},
      {"FLOAT", TypeKind::kDouble},      {"TIME", TypeKind::kTime},
      {"MEMO", TypeKind::kMemo},         {"COUNTER", TypeKind::kCounter}};
  for (const Entry& e : kTable) {
    if (e.name == name) return e.kind;
  }
  return TypeKind::kOther;
}

}  // namespace

DeclaredType ParseDeclaredType(std::string_view declared) {
  const std::string upper = UpperTrim(declared);
  const std::size_t open = upper.find('(');
  DeclaredType type;
  type.kind = KindOfName(TrimSpaces(upper.substr(0, open)));
  if (open == std::string::npos) return type;
  const std::size_t close = upper.find(')', open);
  if (close == std::string::npos) return DeclaredType{};
  const std::string inside = TrimSpaces(upper.substr(open + 1, close - open - 1));
  if (type.kind == TypeKind::kDecimal) return type;  // DECIMAL(18,0): the kind says it all
  std::size_t n = 0;
  for (char c : inside) {
    if (c < '0' || c > '9' || n > 100000) return DeclaredType{};
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  if (inside.empty()) return DeclaredType{};
  type.size = n;
  return type;
}

namespace {

[[noreturn]] void Refuse(std::string_view table, std::string_view column, std::string_view declared,
                         const Value& value) {
  throw EngineFailure(engine_err::kValueDoesNotFit)
      .AddDetail("table", std::string(table))
      .AddDetail("column", std::string(column))
      .AddDetail("declared type", std::string(declared))
      .AddDetail("value", value.Describe());
}

std::optional<std::int64_t> YesNo(const Value& value) {
  if (value.kind() == ValueKind::kText) {
    const std::string t = UpperTrim(value.text());
    if (t == "TRUE" || t == "YES") return -1;
    if (t == "FALSE" || t == "NO") return 0;
    double number = 0;
    if (!ParseNumber(value.text(), &number)) return std::nullopt;
    return number != 0 ? -1 : 0;
  }
  return value.ToBoolean() ? -1 : 0;
}

bool Digits(std::string_view s, std::size_t from, std::size_t count) {
  for (std::size_t i = from; i < from + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

int Number(std::string_view s, std::size_t from, std::size_t count) {
  int n = 0;
  for (std::size_t i = from; i < from + count; ++i) n = n * 10 + (s[i] - '0');
  return n;
}

// "HH:MM:SS" at `from`.
bool IsTime(std::string_view s, std::size_t from) {
  return s.size() == from + 8 && Digits(s, from, 2) && s[from + 2] == ':' &&
         Digits(s, from + 3, 2) && s[from + 5] == ':' && Digits(s, from + 6, 2) &&
         Number(s, from, 2) < 24 && Number(s, from + 3, 2) < 60 && Number(s, from + 6, 2) < 60;
}

bool IsDate(std::string_view s) {
  if (s.size() < 10 || !Digits(s, 0, 4) || s[4] != '-' || !Digits(s, 5, 2) || s[7] != '-' ||
      !Digits(s, 8, 2)) {
    return false;
  }
  const int year = Number(s, 0, 4), month = Number(s, 5, 2), day = Number(s, 8, 2);
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return !(month == 2 && day == 29 && !leap);
}

std::optional<std::string> DateTimeText(const Value& value) {
  if (value.kind() != ValueKind::kText) return std::nullopt;
  const std::string t = TrimSpaces(value.text());
  if (!IsDate(t)) return std::nullopt;
  if (t.size() == 10) return t + " 00:00:00";
  if (t[10] != ' ' || !IsTime(t, 11)) return std::nullopt;
  return t;
}

std::optional<std::string> TimeText(const Value& value) {
  if (value.kind() != ValueKind::kText) return std::nullopt;
  std::string t = TrimSpaces(value.text());
  if (!IsTime(t, 0)) return std::nullopt;
  return t;
}

std::optional<std::string> SizedText(const Value& value, std::optional<std::size_t> size,
                                     bool pad) {
  std::string text = value.ToText();
  const std::size_t count = CharacterCount(text);
  if (size && count > *size) return std::nullopt;
  if (pad && size) text.append(*size - count, ' ');
  return text;
}

// Converts; std::nullopt when the value does not fit. Conversion errors of
// platform::Value (Overflow, Type mismatch) also mean "does not fit".
std::optional<StoredValue> Convert(const DeclaredType& type, const Value& value) {
  switch (type.kind) {
    case TypeKind::kYesNo:
      if (auto v = YesNo(value)) return *v;
      return std::nullopt;
    case TypeKind::kByte: return std::int64_t{value.ToByte()};
    case TypeKind::kShort: return std::int64_t{value.ToInteger()};
    case TypeKind::kLong: return std::int64_t{value.ToLong()};
    case TypeKind::kCurrency: {
      const double v = value.ToDouble();
      if (!(std::fabs(v) <= 922337203685477.5807)) return std::nullopt;
      return RoundHalfEven(v * 10000.0) / 10000.0;
    }
    case TypeKind::kSingle: {
      const double v = value.ToDouble();
      if (!(std::fabs(v) <= FLT_MAX)) return std::nullopt;
      return static_cast<double>(static_cast<float>(v));
    }
    case TypeKind::kDouble: {
      const double v = value.ToDouble();
      if (std::isnan(v)) return std::nullopt;  // SQLite would store it as null
      return v;
    }
    case TypeKind::kDecimal: {
      const double v = RoundHalfEven(value.ToDouble());
      if (!(std::fabs(v) < 1e18)) return std::nullopt;  // within ±(10^18 - 1)
      return static_cast<std::int64_t>(v);
    }
    case TypeKind::kCounter: {
      const double v = value.ToDouble();
      if (v != std::floor(v) || !(std::fabs(v) < 9.2e18)) return std::nullopt;
      return static_cast<std::int64_t>(v);
    }
    case TypeKind::kDateTime:
      if (auto t = DateTimeText(value)) return *t;
      return std::nullopt;
    case TypeKind::kTime:
      if (auto t = TimeText(value)) return *t;
      return std::nullopt;
    case TypeKind::kBinary:
      if (value.kind() != ValueKind::kText || (type.size && value.text().size() > *type.size)) {
        return std::nullopt;
      }
      return Blob{value.text()};
    case TypeKind::kText:
    case TypeKind::kMemo:
      if (auto t = SizedText(value, type.size, false)) return *t;
      return std::nullopt;
    case TypeKind::kChar:
      if (auto t = SizedText(value, type.size, true)) return *t;
      return std::nullopt;
    case TypeKind::kOther: {
      StoredValue stored = StoreUntyped(value);
      if (const double* v = std::get_if<double>(&stored); v && std::isnan(*v)) return std::nullopt;
      return stored;
    }
  }
  return std::nullopt;
}

}  // namespace

StoredValue ConvertToDeclaredType(std::string_view table, std::string_view column,
                                  std::string_view declared_type, const Value& value) {
  return ConvertToDeclaredType(table, column, declared_type, ParseDeclaredType(declared_type),
                               value);
}

StoredValue ConvertToDeclaredType(std::string_view table, std::string_view column,
                                  std::string_view declared_type, const DeclaredType& type,
                                  const Value& value) {
  // Null is null in every type; Empty, a field assigned nothing, is stored
  // as null too.
  if (value.IsNull() || value.IsEmpty()) return std::monostate{};
  if (value.kind() == ValueKind::kError) Refuse(table, column, declared_type, value);
  std::optional<StoredValue> converted;
  try {
    converted = Convert(type, value);
  } catch (const Error&) {
    Refuse(table, column, declared_type, value);
  }
  if (!converted) Refuse(table, column, declared_type, value);
  return *std::move(converted);
}

}  // namespace platform::engine::internal
