// The records, their property tables and containers, the property bag's
// byte block and the package file: conversions, bounds and the format.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "catalog_sync/records/catalog_bag.h"
#include "catalog_sync/records/file_manager.h"
#include "catalog_sync/records/package_format.h"
#include "catalog_sync/records/property_bag.h"
#include "catalog_sync/records/record_properties.h"
#include "tests/support/catalog.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"

namespace catalog_sync {
namespace {

namespace fmt = package_format;
using platform::Value;
using platform::ValueKind;
using testing_support::Catalog;
using testing_support::SampleCatalog;
using testing_support::TempDir;
constexpr long kOk = 0, kOutOfRange = platform::err::kSubscriptOutOfRange;

long ErrorNumberOf(const std::function<void()>& f) {
  return testing_support::ErrorOf(f).number();
}

TEST(AssayMode, SetterUpperCasesAndTrimsSpacesOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {" modify ", "MODIFY"}, {"Add", "ADD"},      {"", ""},          {"   ", ""},
      {"\tadd", "\tADD"},     {"add\t ", "ADD\t"}, {"x  y ", "X  Y"}, {"renew", "RENEW"},
  };
  for (const auto& [given, stored] : cases) {
    Assay a;
    a.SetMode(given);
    EXPECT_EQ(a.Mode(), stored) << '"' << given << '"';
  }
}

// True only for "TRUE" or "YES" (any case, spaces trimmed) or true itself.
TEST(AssayFlags, FlagRuleForDiluteControlAndActive) {
  const std::pair<Value, bool> cases[] = {
      {Value(" yes "), true},
      {Value("True"), true},
      {Value(true), true},
      {Value("YES"), true},
      {Value(" tRuE  "), true},
      {Value("Y"), false},
      {Value("1"), false},
      {Value(std::int16_t{-1}), false},
      {Value("FALSE"), false},
      {Value(""), false},
      {Value::Null(), false},
      {Value(false), false},
      {Value("ON"), false},
      {Value(1.0), false},
      {Value(), false},
      {Value::FromError(7), false},
      {Value("yes\t"), false},
      {Value("ye s"), false},
      {Value(std::uint8_t{1}), false},
  };
  using Setter = void (Assay::*)(const Value&);
  using Getter = Value (Assay::*)() const;
  const std::tuple<const char*, Setter, Getter> flags[] = {
      {"DiluteControl", &Assay::SetDiluteControl, &Assay::DiluteControl},
      {"Active", &Assay::SetActive, &Assay::Active}};
  for (const auto& [flag, set, get] : flags) {
    for (const auto& [given, expected] : cases) {
      Assay a;
      (a.*set)(given);
      const Value got = (a.*get)();
      ASSERT_EQ(got.kind(), ValueKind::kBoolean) << flag;
      EXPECT_EQ(got.boolean(), expected) << flag << " from " << given.Describe();
      (a.*set)(got);  // what the getter gives, set again, stays
      EXPECT_EQ((a.*get)().boolean(), expected) << flag << " set again";
    }
  }
}

// Each property named once, of its kind, zero, empty or false in a new record.
TEST(RecordProperties, TablesNameEveryPropertyOnceWithItsKindAndDefault) {
  const auto is_default = [](const Value& v) {
    return v.kind() == ValueKind::kText      ? v.text().empty()
           : v.kind() == ValueKind::kBoolean ? !v.boolean()
                                             : v.ToDouble() == 0;
  };
  for (const AssayProperty& p : AssayProperties()) {
    EXPECT_EQ(&AssayPropertyNamed(p.name), &p) << p.name << " named twice";
    EXPECT_EQ(p.get(Assay()).kind(), p.kind) << p.name;
    EXPECT_TRUE(is_default(p.get(Assay()))) << p.name;
  }
  for (const TestVolumeProperty& p : TestVolumeProperties()) {
    EXPECT_EQ(&TestVolumePropertyNamed(p.name), &p) << p.name << " named twice";
    EXPECT_EQ(p.get(TestVolume()).kind(), p.kind) << p.name;
    EXPECT_TRUE(is_default(p.get(TestVolume()))) << p.name;
  }
  EXPECT_EQ(TestVolumePropertyNamed("TestsID").derivation, Derivation::kOwnerTestNumber);
  EXPECT_EQ(TestVolumePropertyNamed("Part").derivation, Derivation::kPartIndex);
}

// The converting setters are the package reader's conversions; the value
// conversions themselves (rounding, overflow of a kind) are the platform's.
TEST(RecordProperties, SettersConvertAsThePackageReader) {
  const struct {
    const char* property;
    Value given;
    long error;
    Value stored;  // when error is kOk
  } cases[] = {
      {"TestNumber", Value("abc"), platform::err::kTypeMismatch, {}},
      {"Cycles", Value(" 12 "), kOk, Value(std::uint8_t{12})},
      {"SampleVol", Value(0.5), kOk, Value(0.5f)},
      {"AssayLow", Value(std::int16_t{-3}), kOk, Value(-3.0)},
      {"TestName", Value::Null(), platform::err::kInvalidUseOfNull, {}},
      {"TestName", Value(std::int32_t{42}), kOk, Value("42")},
      {"Mode", Value(" add "), kOk, Value("ADD")},
      {"Active", Value(" yes "), kOk, Value(true)},
      {"Active", Value(std::int16_t{-1}), kOk, Value(false)},
      {"CalibrationFreq", Value(), kOk, Value(std::int32_t{0})},
  };
  for (const auto& c : cases) {
    const AssayProperty& p = AssayPropertyNamed(c.property);
    Assay a;
    EXPECT_EQ(ErrorNumberOf([&] { p.set(a, c.given); }), c.error)
        << c.property << " from " << c.given.Describe();
    EXPECT_TRUE(c.error != kOk || p.get(a).SameAs(c.stored))
        << c.property << " holds " << p.get(a).Describe();
  }
  TestVolume v;
  const TestVolumeProperty& part = TestVolumePropertyNamed("Part");
  part.set(v, Value(std::int16_t{2}));
  EXPECT_EQ(v.Part(), 2);
  EXPECT_EQ(ErrorNumberOf([&] { part.set(v, Value(std::int16_t{256})); }),
            platform::err::kOverflow);
  TestVolumePropertyNamed("TestsID").set(v, Value(std::int16_t{-5}));
  EXPECT_EQ(v.TestsID(), -5);
}

TEST(AssayCollection, OneBasedInOrderAndBoundsChecked) {
  AssayCollection col;
  EXPECT_EQ(ErrorNumberOf([&] { col.Item(1); }), kOutOfRange);
  for (std::int16_t n : {12, 7, 30}) {
    Assay a;
    a.SetTestNumber(n);
    col.Add(a);
  }
  EXPECT_EQ(col.Count(), 3);
  EXPECT_EQ(
      col.Item(1).TestNumber() * 10000 + col.Item(2).TestNumber() * 100 + col.Item(3).TestNumber(),
      120730);
  for (std::int32_t i : {0, -1, 4, std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(ErrorNumberOf([&] { col.Item(i); }), kOutOfRange) << i;
  }
}

// Positions 1 to n, parts 0 to 2; a cell never set is an unset object; a
// refused dimensioning leaves the table as it was, any other discards it.
TEST(TestVolumeTable, BoundsUnsetCellsAndDimensioning) {
  TestVolumeTable table;
  EXPECT_EQ(table.Size(), 0);
  EXPECT_EQ(ErrorNumberOf([&] { table.At(1, 0); }), kOutOfRange);
  EXPECT_EQ(ErrorNumberOf([&] { table.Set(1, 0, TestVolume()); }), kOutOfRange);
  EXPECT_EQ(ErrorNumberOf([&] { table.Holds(0, 0); }), kOutOfRange);
  table.Dimension(2);
  for (const auto& [i, part] : {std::pair{0, 0}, {3, 0}, {1, -1}, {1, 3}, {-1, 1}, {2, 4}}) {
    EXPECT_EQ(ErrorNumberOf([&] { table.At(i, part); }), kOutOfRange) << i << "," << part;
    EXPECT_EQ(ErrorNumberOf([&] { table.Set(i, part, TestVolume()); }), kOutOfRange);
  }
  for (std::int32_t i = 1; i <= 2; ++i) {
    for (std::int32_t part = 0; part <= 2; ++part) {
      EXPECT_FALSE(table.Holds(i, part));
      EXPECT_EQ(ErrorNumberOf([&] { table.At(i, part); }), kObjectNotSet);
      TestVolume v;
      v.SetReagentVol(i * 10 + part);
      table.Set(i, part, v);
    }
  }
  EXPECT_EQ(table.At(2, 1).ReagentVol(), 21);
  EXPECT_EQ(table.At(1, 2).ReagentVol(), 12);
  for (std::int16_t n :
       {std::int16_t{0}, std::int16_t{-1}, std::numeric_limits<std::int16_t>::min()}) {
    EXPECT_EQ(ErrorNumberOf([&] { table.Dimension(n); }), kOutOfRange) << n;
  }
  EXPECT_EQ(table.Size(), 2);
  EXPECT_TRUE(table.Holds(2, 2));
  table.Dimension(3);
  EXPECT_EQ(table.Size(), 3);
  EXPECT_FALSE(table.Holds(1, 0));
}

// --- The property bag ---------------------------------------------------------

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

// --- The package file ---------------------------------------------------------

// The entries of one assay as the package stores them, written out here
// independently of the property tables.
constexpr ValueKind B = ValueKind::kBoolean, T = ValueKind::kText, D = ValueKind::kDouble,
                    L = ValueKind::kLong, I = ValueKind::kInteger, Y = ValueKind::kByte,
                    S = ValueKind::kSingle;
// clang-format off
const std::pair<const char*, ValueKind> kAssayEntries[] = {
    {"Active", B}, {"AlternateUnits", T}, {"AssayLow", D}, {"AssayMax", D},
    {"CalibrationFreq", L}, {"Color", L}, {"ConversionFactor", D}, {"Cycles", Y},
    {"DefaultUnits", T}, {"DiluentID", L}, {"DiluteControl", B}, {"DilutionFactor", L},
    {"DilutionRequired", L}, {"Formula", I}, {"HighCV", D}, {"LowCV", D}, {"MaxSlope", D},
    {"MinSlope", D}, {"Mode", T}, {"NormalHigh", D}, {"NormalLow", D}, {"NumOfCalibrators", Y},
    {"NumOfReagents", I}, {"NumOfReplicates", Y}, {"P5", D}, {"P6", D}, {"RoundOffMethod", I},
    {"SampleVol", S}, {"SampleVolKey", L}, {"TestFullName", T}, {"TestName", T},
    {"TestNumber", I}, {"NumOfRepeatTests", L}};
const std::pair<const char*, ValueKind> kVolumeEntries[] = {
    {"TestsID", I}, {"Part", I}, {"ReagentVol", L}, {"RegentVolKey", L}, {"WaterToAssayB", L},
    {"InitWater", L}, {"WaterToAssayA", L}, {"WashFill", L}, {"LastWash", L}};
// clang-format on

// The entries in order, named by position (and part), with TestsID and Part
// derived from the position whatever the records hold (9999 and 7 here).
TEST(CatalogBag, ElevenAssaysGiveTheEntriesInOrderWithDerivedVolumeFields) {
  const Catalog c = SampleCatalog(11);
  const PropertyBag bag = CatalogToBag(c.assays, c.volumes);
  std::vector<std::pair<std::string, ValueKind>> expected = {{"nAssayCount", ValueKind::kLong}};
  for (int i = 1; i <= 11; ++i) {
    for (const auto& [name, kind] : kAssayEntries)
      expected.emplace_back(name + std::to_string(i), kind);
    for (int part = 0; part <= 2; ++part) {
      for (const auto& [name, kind] : kVolumeEntries) {
        expected.emplace_back(name + std::to_string(i) + std::to_string(part), kind);
      }
      const std::string suffix = std::to_string(i) + std::to_string(part);
      EXPECT_TRUE(
          bag.ReadProperty("TestsID" + suffix).SameAs(Value(c.assays.Item(i).TestNumber())));
      EXPECT_TRUE(bag.ReadProperty("Part" + suffix).SameAs(Value(static_cast<std::int16_t>(part))));
    }
  }
  ASSERT_EQ(bag.Count(), 1u + 60 * 11);
  ASSERT_EQ(bag.Count(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(bag.NameAt(k), expected[k].first) << "entry " << k;
    EXPECT_EQ(bag.ValueAt(k).kind(), expected[k].second) << expected[k].first;
  }
  EXPECT_TRUE(bag.ReadProperty("nAssayCount").SameAs(Value(std::int32_t{11})));
}

TEST(CatalogBag, ACellWithoutARecordFailsTheWrite) {
  Catalog c = SampleCatalog(2);
  c.volumes.Dimension(2);  // every cell empty again
  try {
    CatalogToBag(c.assays, c.volumes);
    FAIL() << "written";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), kObjectNotSet);
  }
  c.volumes.Dimension(1);
  EXPECT_THROW(CatalogToBag(c.assays, c.volumes), platform::Error);
}

TEST(FileManager, WrittenCatalogueReadsBackEqual) {
  TempDir dir;
  const FileManager files(dir.Sub("CatalogSync.dat"));
  const Catalog written = SampleCatalog(12);
  files.WriteProperties(written.assays, written.volumes);

  Catalog read;
  platform::Error failure(0, "");
  ASSERT_TRUE(files.ReadProperties(read.assays, read.volumes, &failure)) << failure.what();
  testing_support::ExpectSameCatalog(written, read, /*with_derived=*/false);
  for (std::int32_t i = 1; i <= 12; ++i) {
    for (std::int32_t part = 0; part <= 2; ++part) {
      EXPECT_EQ(read.volumes.At(i, part).TestsID(), read.assays.Item(i).TestNumber());
      EXPECT_EQ(read.volumes.At(i, part).Part(), part);
    }
  }
  // What was read gives the file's block again, entry kinds and all.
  EXPECT_EQ(CatalogToBag(read.assays, read.volumes).Contents(), files.LoadPackage());
}

// Writes a package holding only the given count entry.
void WriteCountOnly(const FileManager& files, const Value& count) {
  PropertyBag bag;
  bag.WriteProperty("nAssayCount", count);
  files.SavePackage(bag.Contents());
}

TEST(FileManager, CountsOutsideOneTo32766FailToRead) {
  TempDir dir;
  const FileManager files(dir.Sub("CatalogSync.dat"));
  const struct {
    Value count;
    long error;
  } cases[] = {
      {Value(std::int32_t{32767}), platform::err::kOverflow},
      {Value(std::int32_t{40000}), platform::err::kOverflow},
      {Value(std::int32_t{0}), platform::err::kSubscriptOutOfRange},
      {Value(std::int32_t{-1}), platform::err::kSubscriptOutOfRange},
      {Value(std::int32_t{-40000}), platform::err::kOverflow},
      {Value("two"), platform::err::kTypeMismatch},
  };
  for (const auto& c : cases) {
    WriteCountOnly(files, c.count);
    Catalog read;
    platform::Error failure(0, "");
    EXPECT_FALSE(files.ReadProperties(read.assays, read.volumes, &failure)) << c.count.Describe();
    EXPECT_EQ(failure.number(), c.error) << c.count.Describe();
    EXPECT_EQ(read.assays.Count(), 0);
  }
}

// The largest package, 32,766 assays, is written and read by the hostile
// input tests; one more fails to write and leaves the package as it was.
TEST(FileManager, MoreThanTheLargestCatalogueFailsToWrite) {
  Catalog c;
  c.volumes.Dimension(kMaxAssayCount + 1);
  for (std::int32_t i = 1; i <= kMaxAssayCount + 1; ++i) {
    c.assays.Add(Assay());
    for (std::int32_t part = 0; part <= 2; ++part) c.volumes.Set(i, part, TestVolume());
  }
  TempDir dir;
  const FileManager files(dir.Sub("CatalogSync.dat"));
  files.SavePackage("old package");
  try {
    files.WriteProperties(c.assays, c.volumes);
    FAIL() << "32,767 assays written";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.number(), platform::err::kOverflow);
  }
  EXPECT_EQ(testing_support::ReadFile(files.PackagePath()), "old package");
}

TEST(FileManager, MissingOrEmptyFileFailsToRead) {
  TempDir dir;
  const FileManager files(dir.Sub("CatalogSync.dat"));
  Catalog read;
  platform::Error failure(0, "");
  EXPECT_FALSE(files.ReadProperties(read.assays, read.volumes, &failure));
  EXPECT_EQ(failure.number(), platform::err::kFileNotFound);
  testing_support::WriteFile(files.PackagePath(), "");
  EXPECT_FALSE(files.ReadProperties(read.assays, read.volumes, &failure));
  EXPECT_EQ(failure.number(), package_format::kInvalidFileFormat);
  const platform::Error::Detail names_file{"file", files.PackagePath()};
  EXPECT_NE(std::find(failure.details().begin(), failure.details().end(), names_file),
            failure.details().end());
}

TEST(FileManager, WhatWasReadBeforeAFailureStays) {
  const Catalog written = SampleCatalog(3);
  PropertyBag bag = CatalogToBag(written.assays, written.volumes);
  bag.WriteProperty("InitWater21", Value("lots"));
  TempDir dir;
  const FileManager files(dir.Sub("CatalogSync.dat"));
  files.SavePackage(bag.Contents());
  Catalog read;
  platform::Error failure(0, "");
  EXPECT_FALSE(files.ReadProperties(read.assays, read.volumes, &failure));
  EXPECT_EQ(failure.number(), platform::err::kTypeMismatch);
  EXPECT_EQ(read.assays.Count(), 2);
  EXPECT_TRUE(read.volumes.Holds(2, 0));
  EXPECT_FALSE(read.volumes.Holds(2, 1));
  const auto& details = failure.details();
  EXPECT_NE(
      std::find(details.begin(), details.end(), platform::Error::Detail{"entry", "InitWater21"}),
      details.end());
}

// Every shorter prefix and every single changed byte of a valid package is
// refused, and none crashes (the sanitizer build checks the reads).
TEST(FileManager, EveryTruncationAndSingleByteCorruptionIsRefused) {
  const Catalog written = SampleCatalog(1);
  const std::string block = CatalogToBag(written.assays, written.volumes).Contents();
  const auto refused = [](const std::string& bytes) {
    try {
      Catalog read;
      CatalogFromBag(PropertyBag::FromContents(bytes), read.assays, read.volumes);
    } catch (const platform::Error&) {
      return true;
    }
    return false;
  };
  for (std::size_t size = 0; size < block.size(); ++size) {
    EXPECT_TRUE(refused(block.substr(0, size))) << "prefix of " << size << " bytes";
  }
  std::string damaged = block;
  for (std::size_t at = 0; at < block.size(); ++at) {
    for (int flip = 1; flip < 256; ++flip) {
      damaged[at] = static_cast<char>(block[at] ^ flip);
      EXPECT_TRUE(refused(damaged)) << "byte " << at << " ^ " << flip;
    }
    damaged[at] = block[at];
  }
}

TEST(FileManager, WritingReplacesAnOldReadOnlyPackage) {
  TempDir dir;
  const FileManager files(dir.Sub("CatalogSync.dat"));
  const Catalog old_catalog = SampleCatalog(3);
  files.WriteProperties(old_catalog.assays, old_catalog.volumes);
  testing_support::ChmodFile(files.PackagePath(), 0444);

  const Catalog new_catalog = SampleCatalog(1);
  files.WriteProperties(new_catalog.assays, new_catalog.volumes);
  Catalog read;
  ASSERT_TRUE(files.ReadProperties(read.assays, read.volumes));
  testing_support::ExpectSameCatalog(new_catalog, read, /*with_derived=*/false);
}

}  // namespace
}  // namespace catalog_sync
