// The property bag: kinds kept through its byte block, and every kind of
// malformed block refused as "Invalid file format".
#include "catalog_sync/records/property_bag.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "catalog_sync/records/package_format.h"
#include "platform/core/error.h"

namespace catalog_sync {
namespace {

namespace fmt = package_format;
using platform::Value;
using platform::ValueKind;

TEST(PropertyBag, EveryKindComesBackWithItsKindAndBits) {
  const std::pair<const char*, Value> entries[] = {
      {"yes", Value(true)},
      {"no", Value(false)},
      {"byte", Value(std::uint8_t{255})},
      {"int", Value(std::int16_t{-32768})},
      {"long", Value(std::int32_t{std::numeric_limits<std::int32_t>::min()})},
      {"single", Value(std::numeric_limits<float>::denorm_min())},
      {"single nan", Value(std::bit_cast<float>(0x7FC01234u))},
      {"double", Value(0.1)},
      {"double -0", Value(-0.0)},
      {"double nan", Value(std::bit_cast<double>(0x7FF8000000ABCDEFull))},
      {"double inf", Value(-std::numeric_limits<double>::infinity())},
      {"text", Value("\u00b5mol/L \u00e9\u4e2d")},
      {"empty text", Value("")},
      {"\u00c4nderung", Value("name in UTF-8")},
  };
  PropertyBag bag;
  for (const auto& [name, value] : entries) bag.WriteProperty(name, value);
  const PropertyBag back = PropertyBag::FromContents(bag.Contents());
  ASSERT_EQ(back.Count(), std::size(entries));
  for (std::size_t k = 0; k < std::size(entries); ++k) {
    EXPECT_EQ(back.NameAt(k), entries[k].first);
    EXPECT_TRUE(back.ValueAt(k).SameAs(entries[k].second)) << entries[k].first;
    EXPECT_TRUE(back.ReadProperty(entries[k].first).SameAs(entries[k].second));
  }
  // The block of a loaded bag is the block it was loaded from.
  EXPECT_EQ(back.Contents(), bag.Contents());
  const std::string empty = PropertyBag().Contents();
  EXPECT_EQ(empty.size(), fmt::kHeaderSize + fmt::kTrailerSize);
  EXPECT_EQ(PropertyBag::FromContents(empty).Count(), 0u);
}

// A rewritten name keeps its place; names are exact; an absent one fails to
// read, naming itself.
TEST(PropertyBag, NamesKeepTheirPlaceAreExactAndAbsentOnesFailToRead) {
  PropertyBag bag;
  bag.WriteProperty("TestName1", Value("first"));
  bag.WriteProperty("b", Value(std::int16_t{2}));
  bag.WriteProperty("TestName1", Value("GLU"));
  ASSERT_EQ(bag.Count(), 2u);
  EXPECT_EQ(bag.NameAt(0), "TestName1");
  EXPECT_TRUE(
      PropertyBag::FromContents(bag.Contents()).ReadProperty("TestName1").SameAs(Value("GLU")));
  EXPECT_TRUE(bag.Contains("TestName1"));
  EXPECT_FALSE(bag.Contains("testname1"));
  EXPECT_FALSE(PropertyBag().Contains("x"));
  try {
    bag.ReadProperty("TestName2");
    FAIL() << "absent entry was read";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), fmt::kInvalidFileFormat);
    ASSERT_EQ(e.details().size(), 1u);
    EXPECT_EQ(e.details()[0].second, "TestName2");
  }
  EXPECT_THROW(PropertyBag().ReadProperty("x"), platform::Error);
}

TEST(PropertyBag, RefusesWhatItCannotStore) {
  PropertyBag bag;
  const std::pair<std::string, Value> refused[] = {
      {"", Value(true)},           {std::string(fmt::kMaxNameSize + 1, 'n'), Value(true)},
      {"\xff", Value(true)},       {"empty", Value()},
      {"null", Value::Null()},     {"error", Value::FromError(7)},
      {"bad text", Value("\xc3")},
  };
  for (const auto& [name, value] : refused) {
    try {
      bag.WriteProperty(name, value);
      ADD_FAILURE() << "stored " << value.Describe();
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.number(), platform::err::kTypeMismatch);
    }
  }
  EXPECT_EQ(bag.Count(), 0u);
  bag.WriteProperty(std::string(fmt::kMaxNameSize, 'n'), Value(true));
  EXPECT_EQ(PropertyBag::FromContents(bag.Contents()).Count(), 1u);
}

// Malformed blocks, each made from a valid one.

std::string Reseal(std::string block) {
  const std::uint32_t crc =
      fmt::Checksum(std::string_view(block).substr(0, block.size() - fmt::kTrailerSize));
  std::memcpy(block.data() + block.size() - fmt::kTrailerSize, &crc, sizeof crc);
  return block;
}

// `block` with the byte at `at` replaced, resealed unless told not to.
std::string Poke(std::string block, std::size_t at, char byte, bool reseal = true) {
  block[at] = byte;
  return reseal ? Reseal(block) : block;
}
std::string Poke32(std::string block, std::size_t at, std::uint32_t v) {
  std::memcpy(block.data() + at, &v, sizeof v);
  return Reseal(block);
}

std::string ValidBlock() {
  PropertyBag bag;
  bag.WriteProperty("A", Value(true));
  bag.WriteProperty("B", Value("text"));
  bag.WriteProperty("C", Value(std::int16_t{7}));
  return bag.Contents();
}

// Offsets in ValidBlock(): entry A at 20 (size 2, name 1, kind 1, bool 1),
// entry B at 25 (size 2, name 1, kind 1, text size 4, "text"), entry C at 37.
constexpr std::size_t kAKind = 23, kABool = 24, kBName = 27, kBTextSize = 29, kBText = 33;

TEST(PropertyBag, MalformedBlocksAreReadFailuresNamingTheCause) {
  const std::string v = ValidBlock();
  const struct {
    const char* what;
    std::string block;
    const char* cause;  // part of the "package format" detail
  } cases[] = {
      {"empty", "", "truncated"},
      {"header only", v.substr(0, fmt::kHeaderSize), "truncated"},
      {"last byte cut", v.substr(0, v.size() - 1), "truncated"},
      {"wrong magic", Poke(v, 1, 'X'), "magic"},
      {"version 2", Poke32(v, fmt::kVersionOffset, 2), "version 2"},
      {"bad checksum", Poke(v, v.size() - 1, static_cast<char>(v.back() ^ 1), false), "checksum"},
      {"payload changed", Poke(v, kBText, 'T', false), "checksum"},
      {"trailing garbage", v + '\0', "trailing"},
      {"unknown kind", Poke(v, kAKind, 9), "unknown kind 9"},
      {"kind zero", Poke(v, kAKind, 0), "unknown kind 0"},
      {"boolean 2", Poke(v, kABool, 2), "boolean"},
      {"duplicate name", Poke(v, kBName, 'A'), "duplicate"},
      {"name not UTF-8", Poke(v, kBName, '\xff'), "UTF-8"},
      {"text not UTF-8", Poke(v, kBText, '\xc3'), "UTF-8"},
      {"text runs past the end", Poke32(v, kBTextSize, 0xFFFFFFF0u), "past the end"},
      {"more entries than the body holds", Poke32(v, fmt::kEntryCountOffset, 4), "past the end"},
      {"count beyond any body", Poke32(v, fmt::kEntryCountOffset, 0xFFFFFFFFu), "cannot fit"},
      {"fewer entries than the body holds", Poke32(v, fmt::kEntryCountOffset, 2),
       "after the last entry"},
      {"body size beyond the block", Poke32(v, fmt::kBodySizeOffset, 0xFFFFFFFFu), "truncated"},
      {"empty name", Poke(v, fmt::kHeaderSize, 0), "empty name"},
  };
  for (const auto& c : cases) {
    try {
      PropertyBag::FromContents(c.block);
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.number(), fmt::kInvalidFileFormat) << c.what;
      EXPECT_EQ(e.description(), "Invalid file format");
      ASSERT_EQ(e.details().size(), 1u) << c.what;
      EXPECT_EQ(e.details()[0].first, "package format");
      EXPECT_NE(e.details()[0].second.find(c.cause), std::string::npos)
          << c.what << ": " << e.details()[0].second;
    }
  }
}

TEST(PropertyBag, RefusedSetContentsLeavesTheBagAsItWas) {
  PropertyBag bag = PropertyBag::FromContents(ValidBlock());
  EXPECT_THROW(bag.SetContents("garbage"), platform::Error);
  EXPECT_EQ(bag.Count(), 3u);
  EXPECT_TRUE(bag.ReadProperty("B").SameAs(Value("text")));
}

}  // namespace
}  // namespace catalog_sync
