// Platform core: value conversions, errors, texts, the message box, paths, clock, file operations.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <limits>
#include <regex>
#include <set>

#include "platform/core/clock.h"
#include "platform/core/files.h"
#include "platform/core/message_box.h"
#include "platform/core/text.h"
#include "platform/core/value.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"

namespace platform {
namespace {

using namespace testing_support;

enum To { kInt, kByte, kLong, kDbl, kSgl, kBool, kText };

// Each input converted `to`: its ToText (Describe for kText) or "E<number>", '|' after each.
template <typename... Inputs>
void ExpectConversions(To to, const std::string& expected, const Inputs&... inputs) {
  std::string got;
  for (const Value& v : {Value(inputs)...}) {
    try {
      const Value r = to == kInt    ? Value(v.ToInteger())
                      : to == kByte ? Value(v.ToByte())
                      : to == kLong ? Value(v.ToLong())
                      : to == kDbl  ? Value(v.ToDouble())
                      : to == kSgl  ? Value(v.ToSingle())
                      : to == kBool ? Value(v.ToBoolean())
                                    : Value(v.ToText());
      got += (to == kText ? r.Describe() : r.ToText()) + "|";
    } catch (const Error& e) {
      got += "E" + std::to_string(e.number()) + "|";
    }
  }
  EXPECT_EQ(got, expected + "|") << "kind " << to;
}

// Rounding half to even, texts trimmed of spaces (not tabs), booleans -1 and 0; Null (94) and
// errors (13) never convert; out of range (NaN to an integer too) is Overflow (6).
TEST(Value, EveryKindRoundsChecksItsRangeAndReadsTexts) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Value null = Value::Null(), error = Value::FromError(7);
  ExpectConversions(kInt, "2|4|-2|-4|2|0|2|32767|E6|-32768|E6|12|1000|-4|7|0|-1|0|E94|E13|E6|E6",
                    2.5, 3.5, -2.5, -3.5, 2.4999, 0.5, 1.5, 32767.0, 32767.5, -32768.5, -32769.0,
                    "  12  ", "1e3", "-4.5", "+7", Value(), true, false, null, error, nan, "1e999");
  ExpectConversions(kInt, "E13|E13|E13|E13|E13|E13", "abc", "", "1,5", "1e", ".", "\t5");
  ExpectConversions(kByte, "255|254|E6|E6|E6|E6", 255.0, 254.5, std::int32_t{300}, std::int32_t{-1},
                    true, nan);
  ExpectConversions(kLong, "-2147483648|2147483647|E6|-5|E6", -2147483648.0, 2147483647.4,
                    2147483647.5, std::int16_t{-5}, nan);
  ExpectConversions(kDbl, "2.25|0|-1|E13|0", "  2.25 ", Value(), true, "x1", "1e-400");
  ExpectConversions(kSgl, "0.1|E6|E94|E6|0.5", 0.1, 1e39, null, -1e39, 0.5f);
  ExpectConversions(kBool, "True|False|True|False|True|False|E13|E94|E13", " true ", "False", "-1",
                    "0", 0.5, Value(), "yes", null, error);
  ExpectConversions(kText,
                    R"("2.5"|"1E+20"|"-3"|"0.1"|"0.0001"|"1E-05"|"123456789012345"|"1E+15")"
                    R"(|"0.333333333333333"|"0"|"0.1"|"-7"|"200"|"-2"|"True"|"False"|""|" as is ")"
                    R"(|E94|E13)",
                    2.5, 1e20, -3.0, 0.1, 0.0001, 0.00001, 123456789012345.0, 1e15, 1.0 / 3, -0.0,
                    0.1f, std::int32_t{-7}, std::uint8_t{200}, std::int16_t{-2}, true, false,
                    Value(), " as is ", null, error);
  EXPECT_EQ(Value(0.1).ToSingle(), 0.1f);
}

TEST(Value, KindsSamenessAndDescriptions) {
  std::string kinds;
  for (const Value& v :
       {Value(), Value::Null(), Value(true), Value(std::uint8_t{1}), Value(std::int16_t{1}),
        Value(1), Value(1.0f), Value(1.0), Value("t"), Value::FromError(7)}) {
    kinds += std::string(KindName(v.kind())) + (v.IsNumeric() ? "# " : " ") + v.Describe() + ";";
  }
  EXPECT_EQ(kinds,
            "Empty Empty;Null Null;Boolean True;Byte# 1;Integer# 1;Long# 1;Single# 1;Double# 1;"
            "Text \"t\";Error Error 2007;");
  EXPECT_TRUE(Value(1.0f).SameAs(Value(1.0f)) && !Value(1.0).SameAs(Value(1.0f)));
  EXPECT_FALSE(Value(0.0).SameAs(Value(-0.0)) || Value(0.0f).SameAs(Value(-0.0f)));
}

// Each errno: the platform number and description, the file and the system's text as details.
TEST(Error, ErrnoOfAFileAndDescriptions) {
  // clang-format off
  const std::pair<int, std::string> cases[] = {
      {ENOENT, "53 File not found"}, {ENOTDIR, "76 Path not found"}, {EIO, "57 Device I/O error"},
      {EACCES, "70 Permission denied"}, {EPERM, "70 Permission denied"}, {ENOSPC, "61 Disk full"},
      {EROFS, "70 Permission denied"}, {ETXTBSY, "70 Permission denied"}, {EDQUOT, "61 Disk full"}};
  // clang-format on
  for (const auto& [errnum, number] : cases) {
    const Error e = ErrorFromErrno(errnum, "open", "/d/f");
    EXPECT_EQ(std::to_string(e.number()) + " " + e.description(), number) << errnum;
    EXPECT_EQ(e.details(),
              (std::vector<Error::Detail>{{"file", "/d/f"},
                                          {"system", "open: " + std::string(strerror(errnum))}}));
  }
  EXPECT_EQ(DescribeError(6) + ";" + DescribeError(9) + ";" + DescribeError(94) + ";" +
                DescribeError(err::kObjectErrorBase),
            "Overflow;Subscript out of range;Invalid use of Null;"
            "Application-defined or object-defined error");
}

TEST(Text, TrimUpperCaseAndUtf8) {
  EXPECT_EQ(TrimSpaces("  a b  ") + "|" + TrimSpaces("\tx\t") + "|" + TrimSpaces("   ") + "|" +
                UpperTrim(" add "),
            "a b|\tx\t||ADD");
  EXPECT_EQ(UpperCase("Glucose-2 \xC3\xA0\xC3\xA9\xC3\xBE \xC3\xB7\xC3\xBF"),
            "GLUCOSE-2 \xC3\x80\xC3\x89\xC3\x9E \xC3\xB7\xC3\xBF");
  EXPECT_EQ(CharacterCount("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), 3u);  // é€😀
  EXPECT_EQ(CharacterCount("\xFF\xFE"), 2u);
  EXPECT_TRUE(IsValidUtf8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
  for (const char* bad : {"\xC0\x80", "\xE2\x82", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;  // overlong, cut, surrogate, > U+10FFFF, lone
  }
}

TEST(MessageBox, TitleColonPromptWithCrLfAsLineBreakThenDetailsOnOneLine) {
  testing::internal::CaptureStderr();
  MessageBox("An unexpected error occurred.\r\n" + ErrorNumberLine(13, "Type mismatch"),
             kCriticalOkOnly, "UpdateAssay 12");
  WriteDetails(Error(err::kTypeMismatch).AddDetail("value", "two\nlines\rand"));
  ShowBox({"T", "a\rb\r\nc", {{"d", "x\r\ny"}}}, kOkOnly);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "UpdateAssay 12: An unexpected error occurred.\nError Number: 13 Type mismatch\n"
            "detail: value: two lines and\nT: a\rb\nc\ndetail: d: x  y\n");
}

TEST(Files, SystemPathsAndNames) {
  const std::string under = "/Corvista1000/Databases/Corvista1k.mdb";
  const std::pair<const char*, std::string> cases[] = {
      {"/srv/a", "/srv/a" + under}, {"/srv/a/", "/srv/a" + under}, {"", under}, {nullptr, under}};
  for (const auto& [drive, path] : cases) {
    drive ? ::setenv("SYSTEM_DRIVE", drive, 1) : ::unsetenv("SYSTEM_DRIVE");
    EXPECT_EQ(SystemPath("C:\\Corvista1000\\Databases\\Corvista1k.mdb"), path);
  }
  EXPECT_EQ(SystemPath("D:\\x\\y.txt"), "D:/x/y.txt");
  EXPECT_EQ(FolderOf("/a/b/c.mdb") + " " + FolderOf("/c.mdb") + " " + FolderOf("c.mdb"),
            "/a/b / .");
  EXPECT_EQ(FileNameOf("/a/b/c.mdb") + " " + FileNameOf("c.mdb"), "c.mdb c.mdb");
  EXPECT_TRUE(FileExists(ProgramFolder() + "/" + ProgramBaseName()));
  EXPECT_EQ(ProgramBaseName(), "platform_test");
  EXPECT_TRUE(std::regex_match(NowGeneralDate(),
                               std::regex(R"(20\d\d-[01]\d-[0-3]\d [0-2]\d:[0-5]\d:[0-5]\d)")));
}

// A copy or write killed half-way leaves its temporary file, which the next one takes over.
TEST(Files, DeleteCopyWriteAppendAndTheirRefusals) {
  TempDir dir;
  const std::string ro = dir.Sub("ro"), src = dir.Sub("a"), dst = dir.Sub("b"),
                    log = dir.Sub("log");
  WriteFile(ro, "x");
  WriteFile(src, std::string(200000, 'n'));
  WriteFile(dst, "old");
  WriteFile(dir.Sub(".b.tmp"), std::string(300000, 'x'));
  ChmodFile(ro, 0444);
  ChmodFile(dst, 0440);
  CopyFileOver(src, dst);  // over a read-only file: replaced, its mode kept
  EXPECT_EQ(ReadFile(dst), std::string(200000, 'n'));
  EXPECT_EQ(std::filesystem::status(dst).permissions(), std::filesystem::perms(0440));
  WriteFile(dir.Sub(".b.tmp"), std::string(100000, 'y'));
  WriteFileAtomically(dst, "second");
  AppendToFile(log, "a\r\n");
  AppendToFile(log, "b\r\n");
  ChmodFile(log, 0444);
  CreateEmptyFile(src);
  EXPECT_EQ(ReadWholeFile(dst) + "|" + ReadFile(log) + "|" + ReadFile(src), "second|a\r\nb\r\n|");
  EXPECT_TRUE(IsReadOnly(ro) && !IsReadOnly(dir.Sub("none")));
  // clang-format off
  const std::function<void()> refusals[] = {
      [&] { DeleteFile(ro, false); }, [&] { AppendToFile(log, "c"); },
      [&] { CopyFileOver(dir.Sub("none"), dir.Sub("x")); },
      [&] { CopyFileOver(dst, dir.Sub("no/x")); },
      [&] { AppendToFile(dir.Sub("no/log"), "c"); }, [&] { DeleteFile(dir.Sub("none"), true); }};
  // clang-format on
  std::string numbers;
  for (const auto& call : refusals) numbers += std::to_string(ErrorOf(call).number()) + " ";
  EXPECT_EQ(numbers, "70 70 53 53 53 53 ");  // permission denied, file not found
  EXPECT_EQ(DetailOf(ErrorOf(refusals[5]), "file") + "|" + ReadFile(log),
            dir.Sub("none") + "|a\r\nb\r\n");
  DeleteFile(ro, true);
  SetAttributesNormal(log);
  EXPECT_EQ(std::filesystem::status(log).permissions(), std::filesystem::perms(0644));
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"a", "b", "log"}));
}

}  // namespace
}  // namespace platform
