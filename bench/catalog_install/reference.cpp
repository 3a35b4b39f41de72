// catalog_install_reference <database> <package>
//
// The floor for CatalogSync's INSTALL: the same package read the same way,
// then the same lookups and row writes made directly with prepared SQLite
// statements in one transaction; no backup copy, no declared-type
// conversion, no lock file, no marker.
#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

#include "catalog_sync/records/file_manager.h"
#include "catalog_sync/records/record_properties.h"
#include "platform/core/value.h"

namespace {

using platform::Value;
using platform::ValueKind;

struct CloseDb {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct Finalize {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Db = std::unique_ptr<sqlite3, CloseDb>;
using Stmt = std::unique_ptr<sqlite3_stmt, Finalize>;

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

Stmt Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) !=
      SQLITE_OK) {
    Fail(db, sql);
  }
  return Stmt(s);
}

void Bind(sqlite3_stmt* s, int index, const Value& v) {
  switch (v.kind()) {
    case ValueKind::kBoolean: sqlite3_bind_int(s, index, v.boolean() ? -1 : 0); break;
    case ValueKind::kSingle:
    case ValueKind::kDouble: sqlite3_bind_double(s, index, v.ToDouble()); break;
    case ValueKind::kText:
      sqlite3_bind_text(s, index, v.text().data(), static_cast<int>(v.text().size()),
                        SQLITE_STATIC);
      break;
    default: sqlite3_bind_int64(s, index, v.ToLong()); break;
  }
}

// Steps a lookup: whether it found a row.
bool Found(sqlite3* db, sqlite3_stmt* s) {
  const int rc = sqlite3_step(s);
  sqlite3_reset(s);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(db, "lookup");
  return rc == SQLITE_ROW;
}

void Run(sqlite3* db, sqlite3_stmt* s) {
  if (sqlite3_step(s) != SQLITE_DONE) Fail(db, "write");
  sqlite3_reset(s);
}

// The Tests columns in the writer's order, as property names.
constexpr std::array<const char*, 29> kTestProperties = {"TestName",
                                                         "TestFullName",
                                                         "DefaultUnits",
                                                         "AlternateUnits",
                                                         "ConversionFactor",
                                                         "CalibrationFreq",
                                                         "AssayLow",
                                                         "AssayMax",
                                                         "Formula",
                                                         "NumOfReagents",
                                                         "RoundOffMethod",
                                                         "LowCV",
                                                         "HighCV",
                                                         "Color",
                                                         "DilutionRequired",
                                                         "DilutionFactor",
                                                         "DiluentID",
                                                         "DiluteControl",
                                                         "NumOfCalibrators",
                                                         "NumOfReplicates",
                                                         "Cycles",
                                                         "MaxSlope",
                                                         "MinSlope",
                                                         "Active",
                                                         "SampleVol",
                                                         "SampleVolKey",
                                                         "P5",
                                                         "P6",
                                                         "NumOfRepeatTests"};

Value (*Getter(const char* name))(const catalog_sync::Assay&) {
  for (const auto& p : catalog_sync::AssayProperties()) {
    if (p.name == name) return p.get;
  }
  throw std::logic_error(name);
}

void Install(sqlite3* db, const catalog_sync::AssayCollection& colAssay,
             const catalog_sync::TestVolumeTable& colObjTV) {
  std::array<Value (*)(const catalog_sync::Assay&), 29> getters{};
  for (std::size_t c = 0; c < getters.size(); ++c) getters[c] = Getter(kTestProperties[c]);

  const Stmt find_test = Prepare(db, "SELECT rowid FROM Tests WHERE Tests_ID = ?");
  const Stmt add_test = Prepare(
      db,
      "INSERT INTO Tests (Tests_ID, Tests_Name, Tests_FullName, Tests_DefUnits, Tests_AltUnits, "
      "Tests_ConvertUnitMultiplier, Tests_CalibrationFreq, Tests_AssayMin, Tests_AssayMax, "
      "Tests_Formula, Tests_NumReagents, Tests_SigDigits, Tests_CVLow, Tests_CVHigh, "
      "Tests_Color, Tests_DiluentReq, Tests_DilFactorID, Tests_DiluentID, Tests_DiluteControl, "
      "Tests_NumOfCalibrators, Tests_NumOfReplicates, Tests_Cycles, Tests_MaxSlope, "
      "Tests_MinSlope, Tests_Active, Tests_SampleVol, Tests_SampleVolKey, Tests_P5, Tests_P6, "
      "Tests_NumOfRepeatTests, Tests_ReportingUnits) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
      "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  const Stmt find_volume =
      Prepare(db, "SELECT rowid FROM TestVolumes WHERE TV_TestsID = ? AND TV_Part = ?");
  const Stmt add_volume =
      Prepare(db,
              "INSERT INTO TestVolumes (TV_TestsID, TV_Part, TV_ReagentVol, TV_RegentVolKey, "
              "TV_WaterToAssayB, TV_InitWater, TV_WaterToAssayA, TV_WashFill, TV_LastWash) "
              "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
  const Stmt find_range =
      Prepare(db, "SELECT rowid FROM TestRanges WHERE TR_TestsID = ? AND TR_RangeNum = 1");
  const Stmt add_range =
      Prepare(db,
              "INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High, TR_Desc, "
              "TR_LowOperator, TR_HighOperator) VALUES (?, 1, ?, ?, 'NORMAL', 0, 0)");

  for (std::int32_t j = 1; j <= colAssay.Count(); ++j) {
    const catalog_sync::Assay& a = colAssay.Item(j);
    const int number = a.TestNumber();
    sqlite3_bind_int(find_test.get(), 1, number);
    if (!Found(db, find_test.get())) {
      sqlite3_bind_int(add_test.get(), 1, number);
      for (std::size_t c = 0; c < getters.size(); ++c) {
        Bind(add_test.get(), static_cast<int>(c) + 2, getters[c](a));
      }
      Bind(add_test.get(), 31, Value(a.DefaultUnits()));
      Run(db, add_test.get());
    }
    for (int part = 0; part < catalog_sync::TestVolumeTable::kParts; ++part) {
      sqlite3_bind_int(find_volume.get(), 1, number);
      sqlite3_bind_int(find_volume.get(), 2, part);
      const catalog_sync::TestVolume& v = colObjTV.At(j, part);
      if (!Found(db, find_volume.get()) && v.ReagentVol() != 0) {
        const std::array<std::int32_t, 9> values = {number,
                                                    part,
                                                    v.ReagentVol(),
                                                    v.RegentVolKey(),
                                                    v.WaterToAssayB(),
                                                    v.InitWater(),
                                                    v.WaterToAssayA(),
                                                    v.WashFill(),
                                                    v.LastWash()};
        for (std::size_t c = 0; c < values.size(); ++c) {
          sqlite3_bind_int(add_volume.get(), static_cast<int>(c) + 1, values[c]);
        }
        Run(db, add_volume.get());
      }
    }
    sqlite3_bind_int(find_range.get(), 1, number);
    if (!Found(db, find_range.get())) {
      sqlite3_bind_int(add_range.get(), 1, number);
      sqlite3_bind_double(add_range.get(), 2, a.NormalLow());
      sqlite3_bind_double(add_range.get(), 3, a.NormalHigh());
      Run(db, add_range.get());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: catalog_install_reference <database> <package>\n";
    return 2;
  }
  try {
    catalog_sync::AssayCollection colAssay;
    catalog_sync::TestVolumeTable colObjTV;
    if (!catalog_sync::FileManager(argv[2]).ReadProperties(colAssay, colObjTV)) {
      throw std::runtime_error("the package cannot be read");
    }
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(argv[1], &raw, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      sqlite3_close_v2(raw);
      throw std::runtime_error("the database cannot be opened");
    }
    const Db db(raw);
    if (sqlite3_exec(db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
      Fail(db.get(), "BEGIN");
    }
    Install(db.get(), colAssay, colObjTV);
    if (sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      Fail(db.get(), "COMMIT");
    }
  } catch (const std::exception& e) {
    std::cerr << "catalog_install_reference: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
