// The property bag: kinds kept through its byte block, and every kind of
// malformed block refused as "Invalid file format".
#include "catalog_sync/records/property_bag.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
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
}

TEST(PropertyBag, RewritingANameKeepsItsPlace) {
  PropertyBag bag;
  bag.WriteProperty("a", Value("first"));
  bag.WriteProperty("b", Value(std::int16_t{2}));
  bag.WriteProperty("a", Value(3.0));
  ASSERT_EQ(bag.Count(), 2u);
  EXPECT_EQ(bag.NameAt(0), "a");
  EXPECT_TRUE(PropertyBag::FromContents(bag.Contents()).ReadProperty("a").SameAs(Value(3.0)));
}

TEST(PropertyBag, NamesAreExactAndAbsentOnesFailToRead) {
  PropertyBag bag;
  bag.WriteProperty("TestName1", Value("GLU"));
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

TEST(PropertyBag, EmptyBagIsAValidBlock) {
  const std::string block = PropertyBag().Contents();
  EXPECT_EQ(block.size(), fmt::kHeaderSize + fmt::kTrailerSize);
  EXPECT_EQ(PropertyBag::FromContents(block).Count(), 0u);
}

// Malformed blocks, each made from a valid one.

std::string Reseal(std::string block) {
  const std::uint32_t crc =
      fmt::Checksum(std::string_view(block).substr(0, block.size() - fmt::kTrailerSize));
  std::memcpy(block.data() + block.size() - fmt::kTrailerSize, &crc, sizeof crc);
  return block;
}

void PutU32(std::string& block, std::size_t offset, std::uint32_t v) {
  std::memcpy(block.data() + offset, &v, sizeof v);
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
  const struct {
    const char* what;
    std::function<std::string(std::string)> mutate;
    const char* cause;  // part of the "package format" detail
  } cases[] = {
      {"empty", [](std::string) { return std::string(); }, "truncated"},
      {"header only", [](std::string b) { return b.substr(0, fmt::kHeaderSize); }, "truncated"},
      {"last byte cut",
       [](std::string b) {
         b.pop_back();
         return b;
       },
       "truncated"},
      {"wrong magic",
       [](std::string b) {
         b[1] = 'X';
         return Reseal(b);
       },
       "magic"},
      {"version 2",
       [](std::string b) {
         PutU32(b, fmt::kVersionOffset, 2);
         return Reseal(b);
       },
       "version 2"},
      {"bad checksum",
       [](std::string b) {
         b.back() ^= 1;
         return b;
       },
       "checksum"},
      {"payload changed",
       [](std::string b) {
         b[kBText] = 'T';
         return b;
       },
       "checksum"},
      {"trailing garbage", [](std::string b) { return b + '\0'; }, "trailing"},
      {"unknown kind",
       [](std::string b) {
         b[kAKind] = 9;
         return Reseal(b);
       },
       "unknown kind 9"},
      {"kind zero",
       [](std::string b) {
         b[kAKind] = 0;
         return Reseal(b);
       },
       "unknown kind 0"},
      {"boolean 2",
       [](std::string b) {
         b[kABool] = 2;
         return Reseal(b);
       },
       "boolean"},
      {"duplicate name",
       [](std::string b) {
         b[kBName] = 'A';
         return Reseal(b);
       },
       "duplicate"},
      {"name not UTF-8",
       [](std::string b) {
         b[kBName] = '\xff';
         return Reseal(b);
       },
       "UTF-8"},
      {"text not UTF-8",
       [](std::string b) {
         b[kBText] = '\xc3';
         return Reseal(b);
       },
       "UTF-8"},
      {"text runs past the end",
       [](std::string b) {
         PutU32(b, kBTextSize, 0xFFFFFFF0u);
         return Reseal(b);
       },
       "past the end"},
      {"more entries than the body holds",
       [](std::string b) {
         PutU32(b, fmt::kEntryCountOffset, 4);
         return Reseal(b);
       },
       "past the end"},
      {"count beyond any body",
       [](std::string b) {
         PutU32(b, fmt::kEntryCountOffset, 0xFFFFFFFFu);
         return Reseal(b);
       },
       "cannot fit"},
      {"fewer entries than the body holds",
       [](std::string b) {
         PutU32(b, fmt::kEntryCountOffset, 2);
         return Reseal(b);
       },
       "after the last entry"},
      {"body size beyond the block",
       [](std::string b) {
         PutU32(b, fmt::kBodySizeOffset, 0xFFFFFFFFu);
         return Reseal(b);
       },
       "truncated"},
      {"empty name",
       [](std::string b) {
         b[fmt::kHeaderSize] = 0;
         return Reseal(b);
       },
       "empty name"},
  };
  for (const auto& c : cases) {
    const std::string block = c.mutate(ValidBlock());
    try {
      PropertyBag::FromContents(block);
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
