// Assay and TestVolume records, their property tables and the two containers.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "catalog_sync/records/assay.h"
#include "catalog_sync/records/assay_collection.h"
#include "catalog_sync/records/record_properties.h"
#include "catalog_sync/records/test_volume_table.h"
#include "platform/core/error.h"
#include "tests/catalog_sync/catalog_fixture.h"

namespace catalog_sync {
namespace {

using platform::Value;
using platform::ValueKind;

long ErrorNumberOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const platform::Error& e) {
    return e.number();
  }
  return 0;
}

TEST(AssayMode, SetterUpperCasesAndTrimsSpacesOnly) {
  const struct {
    const char* given;
    const char* stored;
  } cases[] = {
      {" modify ", "MODIFY"},
      {"Add", "ADD"},
      {"delete", "DELETE"},
      {"", ""},
      {"   ", ""},
      {"\tadd", "\tADD"},
      {"add\t ", "ADD\t"},
      {"x  y ", "X  Y"},
      {"renew", "RENEW"},
      {"ADD", "ADD"},
  };
  for (const auto& c : cases) {
    Assay a;
    a.SetMode(c.given);
    EXPECT_EQ(a.Mode(), c.stored) << '"' << c.given << '"';
  }
}

TEST(AssayFlags, FlagRuleForDiluteControlAndActive) {
  const struct {
    Value given;
    bool flag;
  } cases[] = {
      {Value(" yes "), true},       {Value("True"), true},
      {Value(true), true},          {Value("YES"), true},
      {Value(" tRuE  "), true},     {Value("Y"), false},
      {Value("1"), false},          {Value(std::int16_t{-1}), false},
      {Value("FALSE"), false},      {Value(""), false},
      {Value::Null(), false},       {Value(false), false},
      {Value("ON"), false},         {Value("NO"), false},
      {Value(1.0), false},          {Value(), false},
      {Value::FromError(7), false}, {Value("yes\t"), false},
      {Value("ye s"), false},       {Value(std::uint8_t{1}), false},
  };
  using Setter = void (Assay::*)(const Value&);
  using Getter = Value (Assay::*)() const;
  const struct {
    const char* name;
    Setter set;
    Getter get;
  } flags[] = {{"DiluteControl", &Assay::SetDiluteControl, &Assay::DiluteControl},
               {"Active", &Assay::SetActive, &Assay::Active}};
  for (const auto& flag : flags) {
    for (const auto& c : cases) {
      Assay a;
      (a.*flag.set)(c.given);
      const Value got = (a.*flag.get)();
      ASSERT_EQ(got.kind(), ValueKind::kBoolean) << flag.name;
      EXPECT_EQ(got.boolean(), c.flag) << flag.name << " from " << c.given.Describe();
      // What the getter gives, set again, stays.
      (a.*flag.set)(got);
      EXPECT_EQ((a.*flag.get)().boolean(), c.flag) << flag.name << " set again";
    }
  }
}

TEST(RecordProperties, TablesNameEveryPropertyOnceWithItsKind) {
  ASSERT_EQ(AssayProperties().size(), 33u);
  ASSERT_EQ(TestVolumeProperties().size(), 9u);
  const Assay assay;
  for (const AssayProperty& p : AssayProperties()) {
    EXPECT_EQ(&AssayPropertyNamed(p.name), &p) << p.name << " named twice";
    EXPECT_EQ(p.get(assay).kind(), p.kind) << p.name;
  }
  const TestVolume volume;
  for (const TestVolumeProperty& p : TestVolumeProperties()) {
    EXPECT_EQ(&TestVolumePropertyNamed(p.name), &p) << p.name << " named twice";
    EXPECT_EQ(p.get(volume).kind(), p.kind) << p.name;
  }
  EXPECT_EQ(TestVolumePropertyNamed("TestsID").derivation, Derivation::kOwnerTestNumber);
  EXPECT_EQ(TestVolumePropertyNamed("Part").derivation, Derivation::kPartIndex);
}

bool IsDefault(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kText: return v.text().empty();
    case ValueKind::kBoolean: return !v.boolean();
    default: return v.ToDouble() == 0;
  }
}

TEST(RecordProperties, NewRecordsHoldZeroEmptyTextAndFalse) {
  const Assay assay;
  for (const AssayProperty& p : AssayProperties()) {
    EXPECT_TRUE(IsDefault(p.get(assay))) << p.name;
  }
  const TestVolume volume;
  for (const TestVolumeProperty& p : TestVolumeProperties()) {
    EXPECT_TRUE(IsDefault(p.get(volume))) << p.name;
  }
}

// The converting setters are the package reader's conversions.
TEST(RecordProperties, SettersConvertAsThePackageReader) {
  constexpr long kOk = 0;
  const struct {
    const char* property;
    Value given;
    long error;
    Value stored;  // when error is kOk
  } cases[] = {
      {"Formula", Value(2.5), kOk, Value(std::int16_t{2})},
      {"Formula", Value(3.5), kOk, Value(std::int16_t{4})},
      {"TestNumber", Value(std::int32_t{32767}), kOk, Value(std::int16_t{32767})},
      {"TestNumber", Value(std::int32_t{32768}), platform::err::kOverflow, {}},
      {"TestNumber", Value("abc"), platform::err::kTypeMismatch, {}},
      {"NumOfCalibrators", Value(std::int16_t{300}), platform::err::kOverflow, {}},
      {"NumOfCalibrators", Value(std::int16_t{-1}), platform::err::kOverflow, {}},
      {"Cycles", Value(" 12 "), kOk, Value(std::uint8_t{12})},
      {"SampleVol", Value(1e39), platform::err::kOverflow, {}},
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
    if (c.error == kOk) {
      EXPECT_TRUE(p.get(a).SameAs(c.stored)) << c.property << " holds " << p.get(a).Describe();
    }
  }
  TestVolume v;
  TestVolumePropertyNamed("Part").set(v, Value(std::int16_t{2}));
  EXPECT_EQ(v.Part(), 2);
  EXPECT_EQ(
      ErrorNumberOf([&] { TestVolumePropertyNamed("Part").set(v, Value(std::int16_t{256})); }),
      platform::err::kOverflow);
  TestVolumePropertyNamed("TestsID").set(v, Value(std::int16_t{-5}));
  EXPECT_EQ(v.TestsID(), -5);
}

TEST(AssayCollection, OneBasedInOrderAndBoundsChecked) {
  AssayCollection col;
  EXPECT_EQ(col.Count(), 0);
  EXPECT_EQ(ErrorNumberOf([&] { col.Item(1); }), platform::err::kSubscriptOutOfRange);
  for (std::int16_t n : {12, 7, 30}) {
    Assay a;
    a.SetTestNumber(n);
    col.Add(a);
  }
  EXPECT_EQ(col.Count(), 3);
  EXPECT_EQ(col.Item(1).TestNumber(), 12);
  EXPECT_EQ(col.Item(2).TestNumber(), 7);
  EXPECT_EQ(col.Item(3).TestNumber(), 30);
  for (std::int32_t i : {0, -1, 4, std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(ErrorNumberOf([&] { col.Item(i); }), platform::err::kSubscriptOutOfRange) << i;
  }
}

TEST(TestVolumeTable, NeverDimensionedFailsEveryAccess) {
  TestVolumeTable table;
  EXPECT_EQ(table.Size(), 0);
  EXPECT_EQ(ErrorNumberOf([&] { table.At(1, 0); }), platform::err::kSubscriptOutOfRange);
  EXPECT_EQ(ErrorNumberOf([&] { table.Set(1, 0, TestVolume()); }),
            platform::err::kSubscriptOutOfRange);
  EXPECT_EQ(ErrorNumberOf([&] { table.Holds(0, 0); }), platform::err::kSubscriptOutOfRange);
}

TEST(TestVolumeTable, DimensionToFewerThanOneAssayFails) {
  TestVolumeTable table;
  table.Dimension(2);
  table.Set(2, 2, TestVolume());
  for (std::int16_t n :
       {std::int16_t{0}, std::int16_t{-1}, std::numeric_limits<std::int16_t>::min()}) {
    EXPECT_EQ(ErrorNumberOf([&] { table.Dimension(n); }), platform::err::kSubscriptOutOfRange) << n;
  }
  // A refused dimensioning leaves the table as it was.
  EXPECT_EQ(table.Size(), 2);
  EXPECT_TRUE(table.Holds(2, 2));
}

TEST(TestVolumeTable, BoundsAreOneToNByZeroToTwo) {
  TestVolumeTable table;
  table.Dimension(2);
  const struct {
    std::int32_t i, part;
  } outside[] = {{0, 0}, {3, 0}, {1, -1}, {1, 3}, {-1, 1}, {2, 4}};
  for (const auto& c : outside) {
    EXPECT_EQ(ErrorNumberOf([&] { table.At(c.i, c.part); }), platform::err::kSubscriptOutOfRange)
        << c.i << "," << c.part;
    EXPECT_EQ(ErrorNumberOf([&] { table.Set(c.i, c.part, TestVolume()); }),
              platform::err::kSubscriptOutOfRange);
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
}

TEST(TestVolumeTable, RedimensioningDiscardsEverything) {
  TestVolumeTable table;
  table.Dimension(1);
  table.Set(1, 0, TestVolume());
  table.Dimension(3);
  EXPECT_EQ(table.Size(), 3);
  EXPECT_FALSE(table.Holds(1, 0));
}

}  // namespace
}  // namespace catalog_sync
