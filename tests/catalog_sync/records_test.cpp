// The records, their property tables and containers, the property bag's byte block and the package
// file: conversions, bounds and the format.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
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
namespace err = platform::err;
using platform::Value;
using platform::ValueKind;
using testing_support::Catalog;
using testing_support::ErrorOf;
using testing_support::SampleCatalog;
constexpr long kOk = 0, kOutOfRange = err::kSubscriptOutOfRange;
const auto Err = [](const std::function<void()>& f) { return ErrorOf(f).number(); };

// Each property named once, of its kind, zero, empty or false in a new record, and set as the
// package reader converts.
TEST(RecordProperties, NamedOnceOfTheirKindAndDefaultAndConvertedWhenSet) {
  const auto check = [](const auto& table, const auto& named, const auto& record) {
    for (const auto& p : table) {
      const Value v = p.get(record);
      EXPECT_EQ(&named(p.name), &p) << p.name << " named twice";
      EXPECT_EQ(v.kind(), p.kind) << p.name;
      EXPECT_TRUE(v.kind() == ValueKind::kText      ? v.text().empty()
                  : v.kind() == ValueKind::kBoolean ? !v.boolean()
                                                    : v.ToDouble() == 0)
          << p.name;
    }
  };
  check(AssayProperties(), AssayPropertyNamed, Assay());
  check(TestVolumeProperties(), TestVolumePropertyNamed, TestVolume());
  EXPECT_EQ(TestVolumePropertyNamed("TestsID").derivation, Derivation::kOwnerTestNumber);
  EXPECT_EQ(TestVolumePropertyNamed("Part").derivation, Derivation::kPartIndex);
  // Mode is upper-cased with spaces (only) trimmed; what a getter gives, set again, stays.
  // clang-format off
  std::vector<std::tuple<std::string, Value, long, Value>> cases = {  // the value stored when kOk
      {"TestNumber", Value("abc"), err::kTypeMismatch, {}},
      {"SampleVol", Value(0.5), kOk, Value(0.5f)},
      {"Cycles", Value(" 12 "), kOk, Value(std::uint8_t{12})},
      {"TestName", Value::Null(), err::kInvalidUseOfNull, {}},
      {"AssayLow", Value(std::int16_t{-3}), kOk, Value(-3.0)},
      {"TestName", Value(std::int32_t{42}), kOk, Value("42")},
      {"CalibrationFreq", Value(), kOk, Value(std::int32_t{0})}};
  const std::pair<const char*, const char*> modes[] = {{" modify ", "MODIFY"}, {"   ", ""},
      {"\tadd", "\tADD"}, {"add\t ", "ADD\t"}, {"x  y ", "X  Y"}};
  // A boolean as it is; a text, trimmed of spaces and upper-cased, when YES or TRUE; else false.
  const std::pair<Value, bool> flags[] = {{Value(" yes "), true}, {Value(" tRuE  "), true},
      {Value(true), true}, {Value(false), false}, {Value("Y"), false}, {Value("yes\t"), false},
      {Value(std::int16_t{-1}), false}, {Value::Null(), false}};
  // clang-format on
  for (const auto& [given, stored] : modes)
    cases.emplace_back("Mode", Value(given), kOk, Value(stored));
  for (const char* flag : {"DiluteControl", "Active"}) {
    for (const auto& [given, yes] : flags) cases.emplace_back(flag, given, kOk, Value(yes));
  }
  for (const auto& [property, given, error, stored] : cases) {
    const AssayProperty& p = AssayPropertyNamed(property);
    Assay a;
    EXPECT_EQ(Err([&] { p.set(a, given); }), error) << property << " from " << given.Describe();
    EXPECT_TRUE(error != kOk || p.get(a).SameAs(stored))
        << property << " from " << given.Describe() << " holds " << p.get(a).Describe();
    p.set(a, p.get(a));
    EXPECT_TRUE(error != kOk || p.get(a).SameAs(stored)) << property << " set again";
  }
  TestVolume v;
  const TestVolumeProperty& part = TestVolumePropertyNamed("Part");
  part.set(v, Value(std::int16_t{2}));
  EXPECT_EQ(Err([&] { part.set(v, Value(std::int16_t{256})); }), err::kOverflow);
  TestVolumePropertyNamed("TestsID").set(v, Value(std::int16_t{-5}));
  EXPECT_EQ(v.Part() * 100 + v.TestsID(), 195);
}

// Positions 1 to n, parts 0 to 2; a cell never set is an unset object; a refused dimensioning
// leaves the table as it was, any other discards it.
TEST(Containers, OneBasedBoundsCheckedAndUnsetCells) {
  AssayCollection col;
  TestVolumeTable table;
  EXPECT_EQ(Err([&] { col.Item(1); }), kOutOfRange);
  EXPECT_EQ(Err([&] { table.At(1, 0); }), kOutOfRange);
  EXPECT_EQ(Err([&] { table.Set(1, 0, TestVolume()); }), kOutOfRange);
  EXPECT_EQ(std::pair(Err([&] { table.Holds(0, 0); }), table.Size()), std::pair(kOutOfRange, 0));
  for (std::int16_t n : {12, 7, 30}) col.Add(testing_support::MakeAssay(n, "A", "ADD"));
  EXPECT_EQ(col.Count(), 3);
  EXPECT_EQ(
      col.Item(1).TestNumber() * 10000 + col.Item(2).TestNumber() * 100 + col.Item(3).TestNumber(),
      120730);
  for (std::int32_t i : {0, -1, 4, std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(Err([&] { col.Item(i); }), kOutOfRange) << i;
  }
  table.Dimension(2);
  for (const auto& [i, part] : {std::pair{0, 0}, {3, 0}, {1, -1}, {1, 3}, {-1, 1}, {2, 4}}) {
    EXPECT_EQ(Err([&] { table.At(i, part); }), kOutOfRange) << i << "," << part;
    EXPECT_EQ(Err([&] { table.Set(i, part, TestVolume()); }), kOutOfRange);
  }
  for (std::int32_t i = 1; i <= 2; ++i) {
    for (std::int32_t part = 0; part <= 2; ++part) {
      EXPECT_FALSE(table.Holds(i, part));
      EXPECT_EQ(Err([&] { table.At(i, part); }), kObjectNotSet);
      table.Set(i, part, testing_support::MakeVolume(i * 10 + part));
    }
  }
  EXPECT_EQ(table.At(2, 1).ReagentVol() * 100 + table.At(1, 2).ReagentVol(), 2112);
  for (std::int16_t n : {0, -1, -32768}) {
    EXPECT_EQ(Err([&] { table.Dimension(n); }), kOutOfRange) << n;
  }
  EXPECT_EQ(std::pair(table.Size(), table.Holds(2, 2)), std::pair(2, true));
  table.Dimension(3);
  EXPECT_EQ(std::pair(table.Size(), table.Holds(1, 0)), std::pair(3, false));
}

// Every kind comes back with its kind and bits; a rewritten name keeps its place; names are exact;
// an absent one fails to read, naming itself; what the bag cannot store it refuses.
TEST(PropertyBag, KindsAndBitsComeBackNamesKeepTheirPlaceAndAreExact) {
  // clang-format off
  const std::pair<const char*, Value> entries[] = {{"TestName1", Value("first")},
      {"yes", Value(true)}, {"no", Value(false)}, {"byte", Value(std::uint8_t{255})},
      {"int", Value(std::int16_t{-32768})},
      {"long", Value(std::int32_t{std::numeric_limits<std::int32_t>::min()})},
      {"single", Value(std::numeric_limits<float>::denorm_min())},
      {"single nan", Value(std::bit_cast<float>(0x7FC01234u))},
      {"double", Value(0.1)}, {"double -0", Value(-0.0)},
      {"double nan", Value(std::bit_cast<double>(0x7FF8000000ABCDEFull))},
      {"double inf", Value(-std::numeric_limits<double>::infinity())},
      {"text", Value("\u00b5mol/L \u00e9\u4e2d")}, {"empty text", Value("")},
      {"\u00c4nderung", Value("name in UTF-8")}, {"TestName1", Value("GLU")}};
  // clang-format on
  // The names new to the bag written as such, with a lookup half way (which builds the index), then
  // the rewrite.
  PropertyBag bag;
  for (std::size_t k = 0; k + 1 < std::size(entries); ++k) {
    bag.WriteNewProperty(entries[k].first, entries[k].second);
    if (k == 5) {
      EXPECT_TRUE(bag.Contains("yes"));
    }
  }
  bag.WriteProperty(std::rbegin(entries)->first, std::rbegin(entries)->second);
  PropertyBag back = PropertyBag::FromContents(bag.Contents());
  ASSERT_EQ(back.Count(), std::size(entries) - 1);
  for (std::size_t k = 1; k < back.Count(); ++k) {
    EXPECT_EQ(back.NameAt(k), entries[k].first);
    EXPECT_TRUE(back.ValueAt(k).SameAs(entries[k].second)) << entries[k].first;
    EXPECT_TRUE(back.ReadProperty(entries[k].first).SameAs(entries[k].second));
  }
  EXPECT_EQ(back.NameAt(0), "TestName1");
  EXPECT_TRUE(back.ReadProperty("TestName1").SameAs(Value("GLU")));
  // The block of a loaded bag is the block it was loaded from, also when moved out.
  EXPECT_EQ(back.Contents(), bag.Contents());
  EXPECT_EQ(PropertyBag(bag).Contents(), PropertyBag(back).Contents());
  // A bag's own name given back to it.
  back.WriteProperty(back.NameAt(0), Value("again"));
  EXPECT_TRUE(back.ReadProperty("TestName1").SameAs(Value("again")));
  const std::string empty = PropertyBag().Contents();
  EXPECT_EQ(empty.size(), fmt::kHeaderSize + fmt::kTrailerSize);
  EXPECT_EQ(PropertyBag::FromContents(empty).Count(), 0u);
  EXPECT_TRUE(bag.Contains("TestName1"));
  EXPECT_FALSE(bag.Contains("testname1"));
  EXPECT_FALSE(PropertyBag().Contains("x"));
  const platform::Error absent = ErrorOf([&] { bag.ReadProperty("TestName2"); });
  EXPECT_EQ(absent.number(), fmt::kInvalidFileFormat);
  ASSERT_EQ(absent.details().size(), 1u);
  EXPECT_EQ(absent.details()[0].second, "TestName2");
  EXPECT_THROW(PropertyBag().ReadProperty("x"), platform::Error);
  // What it cannot store is refused.
  PropertyBag refusing;
  // clang-format off
  const std::pair<std::string, Value> refused[] = {{"", Value(true)},
      {std::string(fmt::kMaxNameSize + 1, 'n'), Value(true)}, {"\xff", Value(true)},
      {"empty", Value()}, {"null", Value::Null()}, {"error", Value::FromError(7)},
      {"bad text", Value("\xc3")}};
  // clang-format on
  for (const auto& [name, value] : refused) {
    EXPECT_EQ(Err([&] { refusing.WriteProperty(name, value); }), err::kTypeMismatch) << name;
  }
  EXPECT_EQ(refusing.Count(), 0u);
  refusing.WriteProperty(std::string(fmt::kMaxNameSize, 'n'), Value(true));
  EXPECT_EQ(PropertyBag::FromContents(refusing.Contents()).Count(), 1u);
}

// `block` with `width` bytes at `at` set to `value` (little-endian, as the format), its checksum
// made right again unless told not to.
std::string Poke(std::string block, std::size_t at, std::uint32_t value, std::size_t width = 1,
                 bool reseal = true) {
  std::memcpy(block.data() + at, &value, width);
  const std::size_t end = block.size() - fmt::kTrailerSize;
  const std::uint32_t crc = fmt::Checksum(std::string_view(block).substr(0, end));
  if (reseal) std::memcpy(block.data() + end, &crc, sizeof crc);
  return block;
}

// Malformed blocks, each made from a valid one, are read failures naming the cause; a refused block
// leaves a bag as it was.
TEST(PropertyBag, MalformedBlocksAreReadFailuresNamingTheCause) {
  PropertyBag valid;
  valid.WriteProperty("A", Value(true));
  valid.WriteProperty("B", Value("text"));
  valid.WriteProperty("C", Value(std::int16_t{7}));
  const std::string v = valid.Contents();
  // Entry A at 20 (size 2, name 1, kind 1, bool 1), entry B at 25 (size 2, name 1, kind 1, text
  // size 4, "text"), entry C at 37.
  constexpr std::size_t kAKind = 23, kABool = 24, kBName = 27, kBTextSize = 29, kBText = 33;
  const std::size_t kCount = fmt::kEntryCountOffset;
  // clang-format off
  const std::pair<std::string, const char*> cases[] = {  // the block, the cause its detail holds
      {"", "truncated"}, {v.substr(0, fmt::kHeaderSize), "truncated"},
      {v.substr(0, v.size() - 1), "truncated"}, {Poke(v, 1, 'X'), "magic"},
      {Poke(v, fmt::kVersionOffset, 2, 4), "version 2"}, {v + '\0', "trailing"},
      {Poke(v, v.size() - 1, v.back() ^ 1, 1, false), "checksum"},
      {Poke(v, kBText, 'T', 1, false), "checksum"},  // the payload changed
      {Poke(v, kAKind, 9), "unknown kind 9"}, {Poke(v, kAKind, 0), "unknown kind 0"},
      {Poke(v, kABool, 2), "boolean"}, {Poke(v, kBName, 'A'), "duplicate"},
      {Poke(v, kBName, 0xff), "UTF-8"}, {Poke(v, kBText, 0xc3), "UTF-8"},  // a name, a text
      {Poke(v, kBTextSize, 0xFFFFFFF0u, 4), "past the end"},
      {Poke(v, kCount, 4, 4), "past the end"}, {Poke(v, kCount, 0xFFFFFFFFu, 4), "cannot fit"},
      {Poke(v, kCount, 2, 4), "after the last entry"},
      {Poke(v, fmt::kBodySizeOffset, 0xFFFFFFFFu, 4), "truncated"},
      {Poke(v, fmt::kHeaderSize, 0), "empty name"}};
  // clang-format on
  for (const auto& [block, cause] : cases) {
    const platform::Error e = ErrorOf([&] { PropertyBag::FromContents(block); });
    ASSERT_EQ(e.details().size(), 1u) << cause;
    EXPECT_EQ(std::to_string(e.number()) + " " + e.description() + ": " + e.details()[0].first,
              std::to_string(fmt::kInvalidFileFormat) + " Invalid file format: package format");
    EXPECT_NE(e.details()[0].second.find(cause), std::string::npos) << e.details()[0].second;
  }
  PropertyBag bag = PropertyBag::FromContents(v);
  EXPECT_THROW(bag.SetContents("garbage"), platform::Error);
  EXPECT_EQ(bag.Count(), 3u);
  EXPECT_TRUE(bag.ReadProperty("B").SameAs(Value("text")));
}

// Eleven sample assays give one package, byte for byte: the entries' names by position (and part),
// their order and kinds, TestsID and Part derived from the position whatever the records hold. A
// cell without a record fails the write.
TEST(CatalogBag, ElevenAssaysGiveTheSamePackageByteForByte) {
  Catalog c = SampleCatalog(11);
  const std::string block = CatalogToBag(c.assays, c.volumes).Contents();
  EXPECT_EQ(std::to_string(block.size()) + " " + std::to_string(fmt::Checksum(block)),
            "12586 558161692");
  c.volumes.Dimension(11);  // every cell empty again
  EXPECT_EQ(Err([&] { CatalogToBag(c.assays, c.volumes); }), kObjectNotSet);
  c.volumes.Dimension(1);
  EXPECT_THROW(CatalogToBag(c.assays, c.volumes), platform::Error);
}

// Written and read back: the catalogue and the file's block again, TestsID and Part derived from
// the position; an old read-only package replaced. A missing or empty file (named in the failure),
// a count outside 1 to 32,766 or a bad entry fails to read, what was read before staying; 32,767
// assays fail to write.
TEST(FileManager, ReadsBackWhatItWroteAndRefusesWhatItCannot) {
  testing_support::TempDir dir;
  const FileManager files{dir.Sub("CatalogSync.dat")};
  Catalog read;
  platform::Error failure{0, ""};
  const auto Read = [&] {
    read = Catalog();
    return files.ReadProperties(read.assays, read.volumes, &failure) ? kOk : failure.number();
  };
  const auto Write = [&](const Catalog& c) { files.WriteProperties(c.assays, c.volumes); };
  EXPECT_EQ(Read(), err::kFileNotFound);
  testing_support::WriteFile(files.PackagePath(), "");
  EXPECT_EQ(Read(), fmt::kInvalidFileFormat);
  EXPECT_EQ(testing_support::DetailOf(failure, "file"), files.PackagePath());
  Write(SampleCatalog(3));
  testing_support::ChmodFile(files.PackagePath(), 0444);
  const Catalog written = SampleCatalog(12);
  Write(written);
  ASSERT_EQ(Read(), kOk) << failure.what();
  testing_support::ExpectSameCatalog(written, read, /*with_derived=*/false);
  for (std::int32_t i = 1; i <= 12; ++i) {
    for (std::int32_t part = 0; part <= 2; ++part) {
      EXPECT_EQ(read.volumes.At(i, part).TestsID(), read.assays.Item(i).TestNumber());
      EXPECT_EQ(read.volumes.At(i, part).Part(), part);
    }
  }
  EXPECT_EQ(CatalogToBag(read.assays, read.volumes).Contents(), files.LoadPackage());
  // clang-format off
  const std::pair<Value, long> counts[] = {
      {Value(std::int32_t{32767}), err::kOverflow}, {Value(std::int32_t{40000}), err::kOverflow},
      {Value(std::int32_t{0}), kOutOfRange}, {Value(std::int32_t{-1}), kOutOfRange},
      {Value(std::int32_t{-40000}), err::kOverflow}, {Value("two"), err::kTypeMismatch}};
  // clang-format on
  for (const auto& [count, error] : counts) {
    PropertyBag bag;
    bag.WriteProperty("nAssayCount", count);
    files.SavePackage(bag.Contents());
    EXPECT_EQ(Read(), error) << count.Describe();
    EXPECT_EQ(read.assays.Count(), 0);
  }
  PropertyBag bag = CatalogToBag(written.assays, written.volumes);
  bag.WriteProperty("InitWater21", Value("lots"));
  files.SavePackage(bag.Contents());
  EXPECT_EQ(Read(), err::kTypeMismatch);
  EXPECT_EQ(testing_support::DetailOf(failure, "entry"), "InitWater21");
  EXPECT_EQ(read.assays.Count(), 2);
  EXPECT_TRUE(read.volumes.Holds(2, 0));
  EXPECT_FALSE(read.volumes.Holds(2, 1));
  // The largest package, 32,766 assays, is written and read by the program's rows.
  Catalog c;
  c.volumes.Dimension(kMaxAssayCount + 1);
  for (std::int32_t i = 1; i <= kMaxAssayCount + 1; ++i) {
    c.assays.Add(Assay());
    for (std::int32_t part = 0; part <= 2; ++part) c.volumes.Set(i, part, TestVolume());
  }
  files.SavePackage("old package");
  EXPECT_EQ(Err([&] { Write(c); }), err::kOverflow);
  EXPECT_EQ(testing_support::ReadFile(files.PackagePath()), "old package");
}

// Every shorter prefix and every single changed byte of a valid package is refused (the sanitizer
// build checks the reads).
TEST(CatalogFromBag, EveryTruncationAndSingleByteCorruptionIsRefused) {
  const Catalog written = SampleCatalog(1);
  const std::string block = CatalogToBag(written.assays, written.volumes).Contents();
  const auto refused = [](const std::string& bytes) {
    Catalog read;
    return Err(
        [&] { CatalogFromBag(PropertyBag::FromContents(bytes), read.assays, read.volumes); });
  };
  for (std::size_t at = 0; at < block.size(); ++at) {
    EXPECT_NE(refused(block.substr(0, at)), kOk) << "prefix of " << at << " bytes";
    std::string damaged = block;
    for (int flip = 1; flip < 256; ++flip) {
      damaged[at] = static_cast<char>(block[at] ^ flip);
      EXPECT_NE(refused(damaged), kOk) << "byte " << at << " ^ " << flip;
    }
  }
}

}  // namespace
}  // namespace catalog_sync
