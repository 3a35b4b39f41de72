// A loosely typed value: the kind of value that workbook cells, package
// entries and database fields carry, with the conversions of the original
// platform to each fixed kind.
//
// Conversions (all of them may throw platform::Error):
//  - Empty converts to 0, "" or false.
//  - Null converting to any fixed kind fails with "Invalid use of Null" (94).
//  - An error value (a spreadsheet error cell) fails with "Type mismatch" (13).
//  - A boolean is -1 (true) or 0 (false) as a number, "True"/"False" as text.
//  - A text is a number when, trimmed of spaces, it reads as one (optional
//    sign, digits with at most one '.', optional exponent); otherwise the
//    conversion to a number fails with "Type mismatch".
//  - Fractions to integer kinds round to nearest, halves to even; a result
//    outside the kind's range fails with "Overflow" (6).
//  - A number as text is its short form: at most 15 significant digits (7 for
//    a single), no trailing zeros, exponent form outside 1E-5 .. 1E15
//    ("2.5", "1E+20", "-3", "0.1", "1E-05").
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace platform {

enum class ValueKind {
  kEmpty,
  kNull,
  kBoolean,
  kByte,     // 8-bit unsigned
  kInteger,  // 16-bit signed
  kLong,     // 32-bit signed
  kSingle,   // 32-bit float
  kDouble,   // 64-bit float
  kText,     // UTF-8
  kError,    // a spreadsheet error value, e.g. #DIV/0!
};

// The name of a kind as the programs print it ("Long", "Text", ...).
const char* KindName(ValueKind kind);

class Value {
 public:
  struct ErrorCode {
    int code;  // the spreadsheet's error code (0x07 for #DIV/0!, ...)
    bool operator==(const ErrorCode&) const = default;
  };

  Value() = default;  // Empty
  static Value Null();
  static Value FromError(int code);
  Value(bool v) : data_(v) {}
  Value(std::uint8_t v) : data_(v) {}
  Value(std::int16_t v) : data_(v) {}
  Value(std::int32_t v) : data_(v) {}
  Value(float v) : data_(v) {}
  Value(double v) : data_(v) {}
  Value(std::string v) : data_(std::move(v)) {}
  Value(const char* v) : data_(std::string(v)) {}

  ValueKind kind() const noexcept;
  bool IsEmpty() const noexcept { return kind() == ValueKind::kEmpty; }
  bool IsNull() const noexcept { return kind() == ValueKind::kNull; }
  bool IsNumeric() const noexcept;  // byte, integer, long, single, double

  // REQUIRES: kind() is the accessor's kind; other kinds are a logic error.
  bool boolean() const { return std::get<bool>(data_); }
  const std::string& text() const { return std::get<std::string>(data_); }
  int error_code() const { return std::get<ErrorCode>(data_).code; }

  bool ToBoolean() const;
  std::uint8_t ToByte() const;
  std::int16_t ToInteger() const;
  std::int32_t ToLong() const;
  float ToSingle() const;
  double ToDouble() const;
  std::string ToText() const;

  // A readable form for `detail:` lines: texts quoted, others by ToText,
  // "Null", "Empty", "Error 2007".
  std::string Describe() const;

  // Same kind and same content (floats compared bit for bit).
  bool SameAs(const Value& other) const;

 private:
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };
  std::variant<std::monostate, NullTag, bool, std::uint8_t, std::int16_t, std::int32_t, float,
               double, std::string, ErrorCode>
      data_;
  // The value as a double for the numeric conversions; text is parsed.
  double NumericForConversion() const;
};

// Parses a numeric text as the conversions do (trimmed of spaces). Returns
// false when the text is no number; throws Overflow when it is one beyond
// the double range.
bool ParseNumber(const std::string& text, double* out);

// Rounds to the nearest integer, halves to the even neighbour.
double RoundHalfEven(double v);

// The short text form of a double (15 digits) or of a single (7 digits).
std::string FormatDouble(double v);
std::string FormatSingle(float v);

}  // namespace platform
