// Platform core: value conversions, texts, the message box's lines, paths and
// the file operations the programs rely on.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <set>

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/core/message_box.h"
#include "platform/core/text.h"
#include "platform/core/value.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace platform {
namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

long ErrorNumberOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

enum To { kInt, kByte, kLong, kDbl, kSgl, kBool, kText };

Value Convert(To to, const Value& v) {
  switch (to) {
    case kInt: return v.ToInteger();
    case kByte: return v.ToByte();
    case kLong: return v.ToLong();
    case kDbl: return v.ToDouble();
    case kSgl: return v.ToSingle();
    case kBool: return v.ToBoolean();
    case kText: return v.ToText();
  }
  return Value();
}

// Converts each input with `to`: `expected` holds, separated by '|', each
// result's ToText (its Describe when `to` is kText) or "E<number>" of the
// error it fails with.
template <typename... Inputs>
void ExpectConversions(To to, const std::string& expected, const Inputs&... inputs) {
  std::string got;
  for (const Value& input : {Value(inputs)...}) {
    try {
      const Value result = Convert(to, input);
      got += (to == kText ? result.Describe() : result.ToText()) + "|";
    } catch (const Error& e) {
      got += "E" + std::to_string(e.number()) + "|";
    }
  }
  EXPECT_EQ(got, expected + "|") << "kind " << to;
}

// Rounding is half to even, texts read as numbers only when trimmed of spaces
// (not tabs), booleans are -1 and 0, Null (94) and error values (13) never
// convert, a result out of range is Overflow (6).
TEST(ValueConversion, EveryKindRoundsChecksItsRangeAndReadsTexts) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Value null = Value::Null(), error = Value::FromError(7);
  ExpectConversions(kInt, "2|4|-2|-4|2|0|2|32767|E6|-32768|E6|12|1000|-4|7|0|-1|0|E94|E13|E6|E6",
                    2.5, 3.5, -2.5, -3.5, 2.4999, 0.5, 1.5, 32767.0, 32767.5, -32768.5, -32769.0,
                    "  12  ", "1e3", "-4.5", "+7", Value(), true, false, null, error, nan, "1e999");
  ExpectConversions(kInt, "E13|E13|E13|E13|E13|E13", "abc", "", "1,5", "1e", ".", "\t5");
  ExpectConversions(kByte, "255|254|E6|E6|E6", 255.0, 254.5, std::int32_t{300}, std::int32_t{-1},
                    true);
  ExpectConversions(kLong, "-2147483648|2147483647|E6|-5", -2147483648.0, 2147483647.4,
                    2147483647.5, std::int16_t{-5});
  ExpectConversions(kDbl, "2.25|0|-1|E13|0", "  2.25 ", Value(), true, "x1", "1e-400");
  ExpectConversions(kSgl, "0.1|E6|E94", 0.1, 1e39, null);
  ExpectConversions(kBool, "True|False|True|False|True|False|E13|E94", " true ", "False", "-1", "0",
                    0.5, Value(), "yes", null);
  ExpectConversions(kText,
                    R"("2.5"|"1E+20"|"-3"|"0.1"|"0.0001"|"1E-05"|"123456789012345"|"1E+15")"
                    R"(|"0.333333333333333"|"0"|"0.1"|"-7"|"200"|"True"|"False"|""|" as is ")"
                    R"(|E94|E13)",
                    2.5, 1e20, -3.0, 0.1, 0.0001, 0.00001, 123456789012345.0, 1e15, 1.0 / 3, -0.0,
                    0.1f, std::int32_t{-7}, std::uint8_t{200}, true, false, Value(), " as is ",
                    null, error);
  EXPECT_EQ(Value(0.1).ToSingle(), 0.1f);
}

TEST(ValueKinds, KindsSamenessAndErrorTexts) {
  EXPECT_EQ(Value().kind(), ValueKind::kEmpty);
  EXPECT_EQ(Value::Null().kind(), ValueKind::kNull);
  EXPECT_EQ(Value(std::int16_t{1}).kind(), ValueKind::kInteger);
  EXPECT_EQ(Value(1.0f).kind(), ValueKind::kSingle);
  EXPECT_TRUE(Value(1.0).SameAs(Value(1.0)));
  EXPECT_FALSE(Value(1.0).SameAs(Value(1.0f)));
  EXPECT_FALSE(Value(0.0).SameAs(Value(-0.0)));
  EXPECT_EQ(Value::FromError(7).Describe(), "Error 2007");
  EXPECT_EQ(Error(err::kSubscriptOutOfRange).description(), "Subscript out of range");
  EXPECT_EQ(Error(err::kPermissionDenied).description(), "Permission denied");
  EXPECT_EQ(ErrorFromErrno(ENOSPC, "write", "/x").number(), err::kDiskFull);
  EXPECT_EQ(ErrorFromErrno(ENOENT, "open", "/x").details().front().second, "/x");
}

TEST(Text, TrimUpperCaseAndUtf8) {
  EXPECT_EQ(TrimSpaces("  a b  ") + "|" + TrimSpaces("\tx\t") + "|" + TrimSpaces("   "),
            "a b|\tx\t|");
  EXPECT_EQ(UpperCase("Glucose-2 \xC3\xA9t\xC3\xA9 \xC3\xB7"),
            "GLUCOSE-2 \xC3\x89T\xC3\x89 \xC3\xB7");
  EXPECT_EQ(UpperTrim(" add "), "ADD");
  EXPECT_EQ(CharacterCount("\xC3\xA9\xE2\x82\xAC"), 2u);  // é€
  EXPECT_EQ(CharacterCount("\xFF\xFE"), 2u);
  EXPECT_TRUE(IsValidUtf8("\xE2\x82\xAC"));
  for (const char* bad : {"\xC0\x80", "\xE2\x82", "\xED\xA0\x80"}) {  // overlong, cut, surrogate
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  }
}

TEST(MessageBox, TitleColonPromptWithCrLfAsLineBreak) {
  testing::internal::CaptureStderr();
  MessageBox("An unexpected error occurred while running the Catalog Sync.\r\n" +
                 ErrorNumberLine(13, "Type mismatch"),
             kCriticalOkOnly, "UpdateAssay 12");
  Error e(err::kTypeMismatch);
  e.AddDetail("column", "Tests.Tests_Name").AddDetail("value", "two\nlines");
  WriteDetails(e);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "UpdateAssay 12: An unexpected error occurred while running the Catalog Sync.\n"
            "Error Number: 13 Type mismatch\n"
            "detail: column: Tests.Tests_Name\n"
            "detail: value: two lines\n");
}

TEST(SystemPath, MapsTheDriveFromTheEnvironmentAndNamesParts) {
  const std::pair<const char*, std::string> cases[] = {
      {"/srv/analyser", "/srv/analyser/Corvista1000/Databases/Corvista1k.mdb"},
      {"/srv/analyser/", "/srv/analyser/Corvista1000/Databases/Corvista1k.mdb"},
      {"", "/Corvista1000/Databases/Corvista1k.mdb"},
      {nullptr, "/Corvista1000/Databases/Corvista1k.mdb"}};
  for (const auto& [drive, path] : cases) {
    drive ? ::setenv("SYSTEM_DRIVE", drive, 1) : ::unsetenv("SYSTEM_DRIVE");
    EXPECT_EQ(SystemPath("C:\\Corvista1000\\Databases\\Corvista1k.mdb"), path)
        << (drive ? drive : "unset");
  }
  EXPECT_EQ(SystemPath("C:\\CatalogSync.txt"), "/CatalogSync.txt");
  EXPECT_EQ(FolderOf("/a/b/c.mdb"), "/a/b");
  EXPECT_EQ(FolderOf("/c.mdb"), "/");
  EXPECT_EQ(FolderOf("c.mdb"), ".");
  EXPECT_EQ(FileNameOf("/a/b/c.mdb"), "c.mdb");
  EXPECT_TRUE(FileExists(ProgramFolder() + "/platform_core_test"));
  EXPECT_EQ(ProgramBaseName(), "platform_core_test");
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 0777;
}

TEST(Files, DeleteCopyAppendAndTheirRefusals) {
  TempDir dir;
  const std::string ro = dir.Sub("ro.txt");
  WriteFile(ro, "x");
  ::chmod(ro.c_str(), 0444);
  EXPECT_TRUE(IsReadOnly(ro));
  EXPECT_EQ(ErrorNumberOf([&] { DeleteFile(ro, false); }), err::kPermissionDenied);
  EXPECT_TRUE(FileExists(ro));
  DeleteFile(ro, true);
  EXPECT_FALSE(FileExists(ro));
  EXPECT_EQ(ErrorNumberOf([&] { DeleteFile(ro, true); }), err::kFileNotFound);

  // A copy over a read-only destination replaces it and keeps its mode.
  const std::string src = dir.Sub("a"), dst = dir.Sub("b");
  WriteFile(src, std::string(200000, 'n'));
  WriteFile(dst, "old, longer or shorter");
  ::chmod(dst.c_str(), 0440);
  CopyFileOver(src, dst);
  EXPECT_EQ(ReadFile(dst), std::string(200000, 'n'));
  EXPECT_EQ(ModeOf(dst), 0440u);
  EXPECT_EQ(ErrorNumberOf([&] { CopyFileOver(dir.Sub("missing"), dir.Sub("x")); }),
            err::kFileNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { CopyFileOver(src, dir.Sub("no/such/x")); }), err::kFileNotFound);

  WriteFileAtomically(dst, "first version, long");
  WriteFileAtomically(dst, "second");
  EXPECT_EQ(ReadFile(dst), "second");
  const std::string marker = dir.Sub("marker.txt");
  WriteFile(marker, "stale");
  CreateEmptyFile(marker);
  EXPECT_EQ(ReadFile(marker), "");

  const std::string log = dir.Sub("log");
  AppendToFile(log, "a\r\n");
  AppendToFile(log, "b\r\n");
  ::chmod(log.c_str(), 0444);
  EXPECT_EQ(ErrorNumberOf([&] { AppendToFile(log, "c"); }), err::kPermissionDenied);
  EXPECT_EQ(ReadFile(log), "a\r\nb\r\n");
  SetAttributesNormal(log);
  EXPECT_FALSE(IsReadOnly(log));
  EXPECT_EQ(ErrorNumberOf([&] { AppendToFile(dir.Sub("nofolder/log"), "c"); }), err::kFileNotFound);
}

// A copy or write killed half-way leaves its temporary file; the next one
// takes it over (longer content truncated) so that nothing accumulates.
TEST(Files, ReplacementTakesOverALeftoverTemporaryFile) {
  TempDir dir;
  const std::string src = dir.Sub("a"), dst = dir.Sub("b");
  WriteFile(src, "new");
  WriteFile(dir.Sub(".b.tmp"), std::string(100000, 'x'));
  CopyFileOver(src, dst);
  WriteFile(dir.Sub(".b.tmp"), std::string(100000, 'y'));
  WriteFileAtomically(dst, "newer");
  EXPECT_EQ(ReadFile(dst), "newer");
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace platform
