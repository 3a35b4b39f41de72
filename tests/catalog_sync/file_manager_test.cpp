// The package file: the bag layout of a catalogue, the round trip through
// the file, the count limits, damaged files, and replacing an old package.
#include "catalog_sync/records/file_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "catalog_sync/records/catalog_bag.h"
#include "catalog_sync/records/package_format.h"
#include "catalog_sync/records/property_bag.h"
#include "platform/core/error.h"
#include "platform/core/files.h"
#include "tests/catalog_sync/writer_fixture.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace catalog_sync {
namespace {

using platform::Value;
using platform::ValueKind;
using testing::Catalog;
using testing::ExpectSameCatalog;
using testing::SampleCatalog;
using testing_support::TempDir;

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
  ExpectSameCatalog(written, read, /*with_derived=*/false);
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
  ExpectSameCatalog(new_catalog, read, /*with_derived=*/false);
}

}  // namespace
}  // namespace catalog_sync
