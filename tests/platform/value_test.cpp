#include "platform/core/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "platform/core/error.h"

namespace platform {
namespace {

long ErrorNumberOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

constexpr long kOk = 0;

struct IntCase {
  Value input;
  long expected;  // the converted value when error is kOk
  long error;     // the error number the conversion must fail with
};

TEST(ValueConversion, IntegerKindRoundHalfEvenAndRange) {
  const IntCase cases[] = {
      {Value(2.5), 2, kOk},
      {Value(3.5), 4, kOk},
      {Value(-2.5), -2, kOk},
      {Value(-3.5), -4, kOk},
      {Value(2.4999), 2, kOk},
      {Value(0.5), 0, kOk},
      {Value(1.5), 2, kOk},
      {Value(32767.0), 32767, kOk},
      {Value(32767.5), 0, err::kOverflow},
      {Value(-32768.5), -32768, kOk},
      {Value(-32769.0), 0, err::kOverflow},
      {Value("  12  "), 12, kOk},
      {Value("1e3"), 1000, kOk},
      {Value("-4.5"), -4, kOk},
      {Value("+7"), 7, kOk},
      {Value("abc"), 0, err::kTypeMismatch},
      {Value(""), 0, err::kTypeMismatch},
      {Value("1,5"), 0, err::kTypeMismatch},
      {Value("1e"), 0, err::kTypeMismatch},
      {Value("."), 0, err::kTypeMismatch},
      {Value("\t5"), 0, err::kTypeMismatch},
      {Value(), 0, kOk},
      {Value::Null(), 0, err::kInvalidUseOfNull},
      {Value(true), -1, kOk},
      {Value(false), 0, kOk},
      {Value::FromError(7), 0, err::kTypeMismatch},
      {Value(std::numeric_limits<double>::quiet_NaN()), 0, err::kOverflow},
      {Value("1e999"), 0, err::kOverflow},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.Describe());
    if (c.error == kOk) {
      EXPECT_EQ(c.input.ToInteger(), c.expected);
    } else {
      EXPECT_EQ(ErrorNumberOf([&] { (void)c.input.ToInteger(); }), c.error);
    }
  }
}

TEST(ValueConversion, ByteAndLongRanges) {
  EXPECT_EQ(Value(255.0).ToByte(), 255);
  EXPECT_EQ(Value(254.5).ToByte(), 254);
  EXPECT_EQ(ErrorNumberOf([] { (void)Value(300).ToByte(); }), err::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { (void)Value(-1).ToByte(); }), err::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { (void)Value(true).ToByte(); }), err::kOverflow);
  EXPECT_EQ(Value(-2147483648.0).ToLong(), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(Value(2147483647.4).ToLong(), 2147483647);
  EXPECT_EQ(ErrorNumberOf([] { (void)Value(2147483647.5).ToLong(); }), err::kOverflow);
  EXPECT_EQ(Value(std::int16_t{-5}).ToLong(), -5);
}

TEST(ValueConversion, FloatingKinds) {
  EXPECT_EQ(Value("  2.25 ").ToDouble(), 2.25);
  EXPECT_EQ(Value().ToDouble(), 0.0);
  EXPECT_EQ(Value(true).ToDouble(), -1.0);
  EXPECT_EQ(ErrorNumberOf([] { (void)Value("x1").ToDouble(); }), err::kTypeMismatch);
  EXPECT_EQ(Value("1e-400").ToDouble(), 0.0);
  EXPECT_EQ(Value(0.1).ToSingle(), 0.1f);
  EXPECT_EQ(ErrorNumberOf([] { (void)Value(1e39).ToSingle(); }), err::kOverflow);
  EXPECT_EQ(ErrorNumberOf([] { (void)Value::Null().ToSingle(); }), err::kInvalidUseOfNull);
}

TEST(ValueConversion, Boolean) {
  EXPECT_TRUE(Value(" true ").ToBoolean());
  EXPECT_FALSE(Value("False").ToBoolean());
  EXPECT_TRUE(Value("-1").ToBoolean());
  EXPECT_FALSE(Value("0").ToBoolean());
  EXPECT_TRUE(Value(0.5).ToBoolean());
  EXPECT_FALSE(Value().ToBoolean());
  EXPECT_EQ(ErrorNumberOf([] { (void)Value("yes").ToBoolean(); }), err::kTypeMismatch);
  EXPECT_EQ(ErrorNumberOf([] { (void)Value::Null().ToBoolean(); }), err::kInvalidUseOfNull);
}

TEST(ValueConversion, TextForms) {
  const std::pair<Value, std::string> cases[] = {
      {Value(2.5), "2.5"},
      {Value(1e20), "1E+20"},
      {Value(-3.0), "-3"},
      {Value(0.1), "0.1"},
      {Value(0.0001), "0.0001"},
      {Value(0.00001), "1E-05"},
      {Value(123456789012345.0), "123456789012345"},
      {Value(1e15), "1E+15"},
      {Value(1.0 / 3), "0.333333333333333"},
      {Value(-0.0), "0"},
      {Value(0.1f), "0.1"},
      {Value(std::int32_t{-7}), "-7"},
      {Value(std::uint8_t{200}), "200"},
      {Value(true), "True"},
      {Value(false), "False"},
      {Value(), ""},
      {Value(" as is "), " as is "},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(value.ToText(), text) << value.Describe();
  EXPECT_EQ(ErrorNumberOf([] { (void)Value::Null().ToText(); }), err::kInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([] { (void)Value::FromError(7).ToText(); }), err::kTypeMismatch);
}

TEST(ValueKinds, KindsAndSameness) {
  EXPECT_EQ(Value().kind(), ValueKind::kEmpty);
  EXPECT_EQ(Value::Null().kind(), ValueKind::kNull);
  EXPECT_EQ(Value(std::int16_t{1}).kind(), ValueKind::kInteger);
  EXPECT_EQ(Value(1.0f).kind(), ValueKind::kSingle);
  EXPECT_TRUE(Value(1.0).SameAs(Value(1.0)));
  EXPECT_FALSE(Value(1.0).SameAs(Value(1.0f)));
  EXPECT_FALSE(Value(0.0).SameAs(Value(-0.0)));
  EXPECT_EQ(Value::FromError(7).Describe(), "Error 2007");
}

TEST(ErrorTexts, PlatformNumbersHaveTheirDescriptions) {
  EXPECT_EQ(Error(err::kSubscriptOutOfRange).description(), "Subscript out of range");
  EXPECT_EQ(Error(err::kPermissionDenied).description(), "Permission denied");
  EXPECT_EQ(ErrorFromErrno(ENOSPC, "write", "/x").number(), err::kDiskFull);
  EXPECT_EQ(ErrorFromErrno(ENOENT, "open", "/x").details().front().second, "/x");
}

}  // namespace
}  // namespace platform
