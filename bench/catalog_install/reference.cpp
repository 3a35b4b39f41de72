// catalog_install_reference <database> <package> <change history>
//
// The floor for CatalogSync's INSTALL: the same package read the same way,
// then the same lookups and row writes made directly with prepared SQLite
// statements in one transaction; no backup copy, no declared-type
// conversion, no lock file, no marker. The same transaction writes the same
// change history rows as the run (the file attached to the connection, as
// the run attaches it): the run's header, a column list for each table
// written, one row of Changes per assay and the seal. The bodies, column
// lists and the seal's hash are encoded with the history format's own
// functions (platform/history/internal/format.h, store.h), so that both
// write the same bytes and the ratio measures what the run does beside
// them; the row values come from SQLite's pre-update hook, as the run's
// recorder takes them.
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <deque>
#include <future>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "catalog_sync/records/file_manager.h"
#include "catalog_sync/records/record_properties.h"
#include "platform/core/value.h"
#include "platform/engine/connection/stored_value.h"
#include "platform/history/digest.h"
#include "platform/history/internal/format.h"
#include "platform/history/internal/store.h"
#include "platform/history/writer.h"

namespace {

using platform::Value;
using platform::ValueKind;
using platform::engine::internal::StoredValue;
namespace format = platform::history::format;

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

void Exec(sqlite3* db, const std::string& sql) {
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db, sql);
}

void BindText(sqlite3_stmt* s, int index, std::string_view text) {
  sqlite3_bind_text64(s, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
}

void BindBlob(sqlite3_stmt* s, int index, std::string_view bytes) {
  sqlite3_bind_blob64(s, index, bytes.data(), bytes.size(), SQLITE_STATIC);
}

// A value of a row being inserted as the pre-update hook reads it (a whole
// number in a column of REAL affinity as the integer it is stored as); as
// the row reads back when `read_back` (that number a real).
StoredValue Cell(sqlite3_value* v, bool read_back) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      if (read_back) return sqlite3_value_double(v);
      return std::int64_t{sqlite3_value_int64(v)};
    case SQLITE_FLOAT: return sqlite3_value_double(v);
    case SQLITE_TEXT:
      return std::string(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                         static_cast<std::size_t>(sqlite3_value_bytes(v)));
    default: return std::monostate{};
  }
}

// SQLite's rule for a declared type's affinity: REAL when it holds none of
// INT, CHAR, CLOB, TEXT, BLOB before REAL, FLOA or DOUB.
bool RealAffinity(std::string type) {
  for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto has = [&](const char* part) { return type.find(part) != std::string::npos; };
  if (has("INT") || has("CHAR") || has("CLOB") || has("TEXT") || has("BLOB")) return false;
  return has("REAL") || has("FLOA") || has("DOUB");
}

// The change history the run writes, attached as the run attaches it and
// written in the connection's transaction.
class History {
 public:
  // REQUIRES: the write transaction begun.
  History(sqlite3* db, platform::history::RunHeader header) : db_(db), header_(std::move(header)) {
    for (const char* create : {format::kCreateRuns, format::kCreateColumnLists,
                               format::kCreateChanges, format::kCreateSeals}) {
      Exec(db_, Sql(create));
    }
    Exec(db_, Sql("PRAGMA {}.application_id = ") + std::to_string(format::kApplicationId));
    Exec(db_, Sql("PRAGMA {}.user_version = ") + std::to_string(format::kFormatVersion));
    insert_list_ = Prepare(db_, Sql(std::string("INSERT INTO {}.ColumnLists (Id, ") +
                                    format::kListColumns + ") VALUES (?, ?, ?)"));
    insert_changes_ = Prepare(db_, Sql(std::string("INSERT INTO {}.Changes (Id, ") +
                                       format::kChangesColumns + ") VALUES (?, ?, ?, ?)"));
    const Stmt last_seal =
        Prepare(db_, Sql("SELECT Sequence, Hash FROM {}.Seals ORDER BY Sequence DESC LIMIT 1"));
    if (sqlite3_step(last_seal.get()) == SQLITE_ROW) {
      sequence_ = sqlite3_column_int64(last_seal.get(), 0);
      previous_hash_ = reinterpret_cast<const char*>(sqlite3_column_text(last_seal.get(), 1));
    }
    ++sequence_;
    const Stmt insert_header =
        Prepare(db_, Sql(std::string("INSERT INTO {}.Runs (") + format::kHeaderColumns +
                         ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    int index = 1;
    for (const std::string* text : format::HeaderTexts(header_)) {
      BindText(insert_header.get(), index++, *text);
    }
    sqlite3_bind_int64(insert_header.get(), index++, header_.source_size);
    BindText(insert_header.get(), index, header_.source_sha256);
    Run(db_, insert_header.get());
    run_ = sqlite3_last_insert_rowid(db_);
  }

  // From now on each row inserted into `table` of the main database is one
  // of the assay's changes, keyed by its first column: its values as the row
  // reads back when `written_twice` (the run completes its Tests row with an
  // update), else as inserted.
  void RecordInserts(const std::string& table, bool written_twice) {
    Written& written = tables_.emplace_back(Written{table, 0, {}, {}, {}});
    const Stmt columns = Prepare(db_, "SELECT name, type FROM main.pragma_table_info(?)");
    BindText(columns.get(), 1, table);
    std::vector<std::string> names;
    while (sqlite3_step(columns.get()) == SQLITE_ROW) {
      names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 0)));
      written.read_back.push_back(written_twice && RealAffinity(reinterpret_cast<const char*>(
                                                       sqlite3_column_text(columns.get(), 1))));
    }
    written.key = names.front() + "=";
    format::EncodeNames(names, written.names);
    sqlite3_preupdate_hook(db_, &History::OnPreupdate, this);
  }

  // Writes the assay's changes as one row of Changes.
  void EndAssay(std::int32_t test_number) {
    for (const Written* written : new_lists_) {
      sqlite3_bind_int64(insert_list_.get(), 1, format::IdInRun(run_, written->list));
      BindText(insert_list_.get(), 2, written->table);
      BindBlob(insert_list_.get(), 3, written->names.bytes());
      Run(db_, insert_list_.get());
    }
    new_lists_.clear();
    const std::string group = "assay " + std::to_string(test_number);
    sqlite3_bind_int64(insert_changes_.get(), 1, format::IdInRun(run_, ++rows_));
    BindText(insert_changes_.get(), 2, group);
    sqlite3_bind_int64(insert_changes_.get(), 3, changes_);
    BindBlob(insert_changes_.get(), 4, body_.bytes());
    Run(db_, insert_changes_.get());
    body_.Clear();
    changes_ = 0;
  }

  // The seal, its hash over the run's rows as stored, as the run computes it.
  void Seal() {
    const platform::history::RunEnd end{platform::history::NowUtc(), true, 0, std::string()};
    const std::string sealed = *platform::history::internal::HashOfRun(
        db_, format::kAttachedSchema, sequence_, run_, end, previous_hash_);
    const Stmt insert = Prepare(
        db_, Sql(std::string("INSERT INTO {}.Seals (Sequence, Run, ") + format::kEndColumns +
                 ", PreviousHash, Hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    sqlite3_bind_int64(insert.get(), 1, sequence_);
    sqlite3_bind_int64(insert.get(), 2, run_);
    BindText(insert.get(), 3, end.ended_utc);
    sqlite3_bind_int(insert.get(), 4, 1);
    sqlite3_bind_int(insert.get(), 5, 0);
    BindText(insert.get(), 6, end.message);
    BindText(insert.get(), 7, previous_hash_);
    BindText(insert.get(), 8, sealed);
    Run(db_, insert.get());
  }

 private:
  static std::string Sql(std::string_view sql) {
    return format::InSchema(sql, format::kAttachedSchema);
  }

  static void OnPreupdate(void* self, sqlite3* db, int op, const char* schema, const char* table,
                          sqlite3_int64, sqlite3_int64) {
    if (op == SQLITE_INSERT && std::string_view(schema) == "main") {
      static_cast<History*>(self)->Inserted(db, table);
    }
  }

  // No statement may run here: SQLite is inside the insert.
  void Inserted(sqlite3* db, std::string_view table) {
    const auto found = std::ranges::find(tables_, table, &Written::table);
    if (found == tables_.end()) return;
    Written& written = *found;
    if (written.list == 0) {
      written.list = ++lists_;
      new_lists_.push_back(&written);
    }
    row_.clear();
    for (std::size_t c = 0; c < written.read_back.size(); ++c) {
      sqlite3_value* value = nullptr;
      sqlite3_preupdate_new(db, static_cast<int>(c), &value);
      row_.push_back(Cell(value, written.read_back[c]));
    }
    key_ = written.key + platform::engine::internal::ToValue(row_[0]).Describe();
    static const StoredValue kNone;
    format::AppendChange(
        platform::history::ChangeKind::kInsert, written.list, key_, row_.size(), format::kAfter,
        [](std::size_t) -> const StoredValue& { return kNone; },
        [&](std::size_t i) -> const StoredValue& { return row_[i]; }, body_);
    ++changes_;
  }

  // A table recorded: the number of the column list of its every column
  // (0 until the first row written), its names encoded, its key's
  // "<column>=", and which columns read back otherwise than inserted.
  struct Written {
    std::string table;
    std::int64_t list;
    format::BlobEncoder names;
    std::string key;
    std::vector<bool> read_back;
  };

  sqlite3* db_;
  platform::history::RunHeader header_;
  std::int64_t run_ = 0, rows_ = 0, lists_ = 0, sequence_ = 0, changes_ = 0;
  std::string previous_hash_{format::kNoPreviousHash};
  Stmt insert_list_, insert_changes_;
  std::deque<Written> tables_;       // a few; in place, for new_lists_
  std::vector<Written*> new_lists_;  // to write before the next row of changes
  std::vector<StoredValue> row_;
  std::string key_;
  format::BlobEncoder body_;
};

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
             const catalog_sync::TestVolumeTable& colObjTV, History& history) {
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

  // The Tests row's values after its key, alive until the insert ran (texts
  // are bound without a copy).
  std::array<Value, 30> test_values;
  for (std::int32_t j = 1; j <= colAssay.Count(); ++j) {
    const catalog_sync::Assay& a = colAssay.Item(j);
    const int number = a.TestNumber();
    sqlite3_bind_int(find_test.get(), 1, number);
    if (!Found(db, find_test.get())) {
      sqlite3_bind_int(add_test.get(), 1, number);
      for (std::size_t c = 0; c < getters.size(); ++c) test_values[c] = getters[c](a);
      test_values.back() = Value(a.DefaultUnits());
      for (std::size_t c = 0; c < test_values.size(); ++c) {
        Bind(add_test.get(), static_cast<int>(c) + 2, test_values[c]);
      }
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
    history.EndAssay(number);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: catalog_install_reference <database> <package> <change history>\n";
    return 2;
  }
  try {
    // The run's facts, the package's digest read meanwhile as the run reads it.
    platform::history::RunHeader header =
        platform::history::StartRun("CatalogSync", "INSTALL", argv[1], "");
    header.source = argv[2];
    std::future<platform::history::FileDigest> digest =
        std::async(std::launch::async, platform::history::DigestFile, header.source);
    catalog_sync::AssayCollection colAssay;
    catalog_sync::TestVolumeTable colObjTV;
    if (!catalog_sync::FileManager(argv[2]).ReadProperties(colAssay, colObjTV)) {
      throw std::runtime_error("the package cannot be read");
    }
    sqlite3* raw = nullptr;
    // CREATE: the files it attaches inherit the flags, and the history is new.
    if (sqlite3_open_v2(argv[1], &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      sqlite3_close_v2(raw);
      throw std::runtime_error("the database cannot be opened");
    }
    const Db db(raw);
    const Stmt attach = Prepare(db.get(), "ATTACH DATABASE ? AS history");
    BindText(attach.get(), 1, argv[3]);
    Run(db.get(), attach.get());
    Exec(db.get(), "PRAGMA history.page_size = " + std::to_string(format::kPageSize));
    if (sqlite3_exec(db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
      Fail(db.get(), "BEGIN");
    }
    const platform::history::FileDigest source = digest.get();
    header.source_size = source.size;
    header.source_sha256 = source.sha256;
    History history(db.get(), std::move(header));
    history.RecordInserts("Tests", /*written_twice=*/true);
    history.RecordInserts("TestVolumes", /*written_twice=*/false);
    history.RecordInserts("TestRanges", /*written_twice=*/false);
    Install(db.get(), colAssay, colObjTV, history);
    history.Seal();
    if (sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      Fail(db.get(), "COMMIT");
    }
  } catch (const std::exception& e) {
    std::cerr << "catalog_install_reference: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
