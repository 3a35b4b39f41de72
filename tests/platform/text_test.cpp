#include "platform/core/text.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Text, TrimSpacesTakesOnlySpaces) {
  EXPECT_EQ(TrimSpaces("  a b  "), "a b");
  EXPECT_EQ(TrimSpaces("\tx\t"), "\tx\t");
  EXPECT_EQ(TrimSpaces("   "), "");
  EXPECT_EQ(TrimSpaces(""), "");
}

TEST(Text, UpperCaseAsciiAndLatin1) {
  EXPECT_EQ(UpperCase("modify"), "MODIFY");
  EXPECT_EQ(UpperCase("Glucose-2"), "GLUCOSE-2");
  EXPECT_EQ(UpperCase("\xC3\xA9t\xC3\xA9"), "\xC3\x89T\xC3\x89");  // été
  EXPECT_EQ(UpperCase("\xC3\xB7"), "\xC3\xB7");                    // ÷ stays
  EXPECT_EQ(UpperTrim(" add "), "ADD");
}

TEST(Text, CharacterCountAndValidity) {
  EXPECT_EQ(CharacterCount("abc"), 3u);
  EXPECT_EQ(CharacterCount("\xC3\xA9\xE2\x82\xAC"), 2u);  // é€
  EXPECT_EQ(CharacterCount("\xFF\xFE"), 2u);
  EXPECT_TRUE(IsValidUtf8("\xE2\x82\xAC"));
  EXPECT_FALSE(IsValidUtf8("\xC0\x80"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));      // truncated
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
}

}  // namespace
}  // namespace platform
