#include "platform/core/value.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/core/error.h"
#include "platform/core/text.h"

namespace platform {

const char* KindName(ValueKind kind) {
  switch (kind) {
    case ValueKind::kEmpty: return "Empty";
    case ValueKind::kNull: return "Null";
    case ValueKind::kBoolean: return "Boolean";
    case ValueKind::kByte: return "Byte";
    case ValueKind::kInteger: return "Integer";
    case ValueKind::kLong: return "Long";
    case ValueKind::kSingle: return "Single";
    case ValueKind::kDouble: return "Double";
    case ValueKind::kText: return "Text";
    case ValueKind::kError: return "Error";
  }
  return "?";
}

Value Value::Null() {
  Value v;
  v.data_ = NullTag{};
  return v;
}

Value Value::FromError(int code) {
  Value v;
  v.data_ = ErrorCode{code};
  return v;
}

ValueKind Value::kind() const noexcept {
  return static_cast<ValueKind>(data_.index());
}

bool Value::IsNumeric() const noexcept {
  switch (kind()) {
    case ValueKind::kByte:
    case ValueKind::kInteger:
    case ValueKind::kLong:
    case ValueKind::kSingle:
    case ValueKind::kDouble: return true;
    default: return false;
  }
}

bool ParseNumber(const std::string& raw, double* out) {
  const std::string s = TrimSpaces(raw);
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  if (i != s.size()) return false;
  // from_chars takes no leading '+'.
  const char* begin = s.data() + (s[0] == '+' ? 1 : 0);
  double v = 0;
  const auto [ptr, ec] = std::from_chars(begin, s.data() + s.size(), v);
  if (ec == std::errc::result_out_of_range) {
    // Underflow reads as 0; overflow is an error.
    bool tiny = false;
    for (const char* p = begin; p < s.data() + s.size(); ++p) {
      if (*p == 'e' || *p == 'E') tiny = p[1] == '-';
    }
    if (!tiny) throw Error(err::kOverflow);
    v = 0;
  } else if (ec != std::errc() || ptr != s.data() + s.size()) {
    return false;
  }
  *out = v;
  return true;
}

double RoundHalfEven(double v) {
  const double floor = std::floor(v);
  const double diff = v - floor;
  if (diff < 0.5) return floor;
  if (diff > 0.5) return floor + 1;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

namespace {

std::string FormatSignificant(double v, int digits) {
  if (v == 0) return "0";  // also -0
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", digits, v);
  return buf;
}

}  // namespace

std::string FormatDouble(double v) {
  return FormatSignificant(v, 15);
}
std::string FormatSingle(float v) {
  return FormatSignificant(v, 7);
}

double Value::NumericForConversion() const {
  switch (kind()) {
    case ValueKind::kEmpty: return 0;
    case ValueKind::kNull: throw Error(err::kInvalidUseOfNull);
    case ValueKind::kError: throw Error(err::kTypeMismatch);
    case ValueKind::kBoolean: return boolean() ? -1 : 0;
    case ValueKind::kByte: return std::get<std::uint8_t>(data_);
    case ValueKind::kInteger: return std::get<std::int16_t>(data_);
    case ValueKind::kLong: return std::get<std::int32_t>(data_);
    case ValueKind::kSingle: return std::get<float>(data_);
    case ValueKind::kDouble: return std::get<double>(data_);
    case ValueKind::kText: {
      double v = 0;
      if (!ParseNumber(text(), &v)) throw Error(err::kTypeMismatch);
      return v;
    }
  }
  throw Error(err::kTypeMismatch);
}

namespace {

template <typename Int>
Int ToIntegerKind(double v) {
  if (std::isnan(v)) throw Error(err::kOverflow);
  const double r = RoundHalfEven(v);
  if (r < static_cast<double>(std::numeric_limits<Int>::min()) ||
      r > static_cast<double>(std::numeric_limits<Int>::max())) {
    throw Error(err::kOverflow);
  }
  return static_cast<Int>(r);
}

}  // namespace

bool Value::ToBoolean() const {
  if (kind() == ValueKind::kText) {
    const std::string t = UpperTrim(text());
    if (t == "TRUE") return true;
    if (t == "FALSE") return false;
  }
  return NumericForConversion() != 0;
}

std::uint8_t Value::ToByte() const {
  return ToIntegerKind<std::uint8_t>(NumericForConversion());
}

std::int16_t Value::ToInteger() const {
  return ToIntegerKind<std::int16_t>(NumericForConversion());
}

std::int32_t Value::ToLong() const {
  return ToIntegerKind<std::int32_t>(NumericForConversion());
}

float Value::ToSingle() const {
  if (kind() == ValueKind::kSingle) return std::get<float>(data_);
  const double v = NumericForConversion();
  if (std::isfinite(v) && std::fabs(v) > FLT_MAX) throw Error(err::kOverflow);
  return static_cast<float>(v);
}

double Value::ToDouble() const {
  return NumericForConversion();
}

std::string Value::ToText() const {
  switch (kind()) {
    case ValueKind::kEmpty: return {};
    case ValueKind::kNull: throw Error(err::kInvalidUseOfNull);
    case ValueKind::kError: throw Error(err::kTypeMismatch);
    case ValueKind::kBoolean: return boolean() ? "True" : "False";
    case ValueKind::kByte: return std::to_string(std::get<std::uint8_t>(data_));
    case ValueKind::kInteger: return std::to_string(std::get<std::int16_t>(data_));
    case ValueKind::kLong: return std::to_string(std::get<std::int32_t>(data_));
    case ValueKind::kSingle: return FormatSingle(std::get<float>(data_));
    case ValueKind::kDouble: return FormatDouble(std::get<double>(data_));
    case ValueKind::kText: return text();
  }
  return {};
}

std::string Value::Describe() const {
  switch (kind()) {
    case ValueKind::kEmpty: return "Empty";
    case ValueKind::kNull: return "Null";
    case ValueKind::kError: return "Error " + std::to_string(2000 + error_code());
    case ValueKind::kText: return "\"" + text() + "\"";
    default: return ToText();
  }
}

bool Value::SameAs(const Value& other) const {
  if (kind() != other.kind()) return false;
  if (kind() == ValueKind::kSingle) {
    const float a = std::get<float>(data_), b = std::get<float>(other.data_);
    return std::memcmp(&a, &b, sizeof a) == 0;
  }
  if (kind() == ValueKind::kDouble) {
    const double a = std::get<double>(data_), b = std::get<double>(other.data_);
    return std::memcmp(&a, &b, sizeof a) == 0;
  }
  return data_ == other.data_;
}

}  // namespace platform
