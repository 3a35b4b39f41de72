// Assay and TestVolume records, their property tables and the two containers.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <tuple>
#include <vector>

#include "catalog_sync/records/assay.h"
#include "catalog_sync/records/assay_collection.h"
#include "catalog_sync/records/record_properties.h"
#include "catalog_sync/records/test_volume_table.h"
#include "platform/core/error.h"

namespace catalog_sync {
namespace {

using platform::Value;
using platform::ValueKind;
constexpr long kOk = 0, kOutOfRange = platform::err::kSubscriptOutOfRange;

long ErrorNumberOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const platform::Error& e) {
    return e.number();
  }
  return kOk;
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
  ASSERT_EQ(AssayProperties().size(), 33u);
  ASSERT_EQ(TestVolumeProperties().size(), 9u);
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

// The converting setters are the package reader's conversions.
TEST(RecordProperties, SettersConvertAsThePackageReader) {
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

}  // namespace
}  // namespace catalog_sync
