// The change history's file: the schema's names and constants, the stored
// blobs (a column list's names, a row's body of changes), and the canonical
// bytes of a sealed run that its hash is computed over. The one place that defines
// them; doc/change_history_format.md writes them up.
//
// Every field of the canonical bytes is length-prefixed or of fixed size,
// in a fixed order, so no two different records encode alike.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/value.h"
#include "platform/engine/connection/stored_value.h"
#include "platform/history/record.h"

namespace platform::history::format {

// PRAGMA application_id ("CVH1") and user_version of a history file.
inline constexpr std::int32_t kApplicationId = 0x43564831;
inline constexpr int kFormatVersion = 1;

// The page size of a file the writer creates: a record writes a row of a
// kilobyte or more, and fewer pages are fewer writes at each commit and
// fewer reads at each seal.
inline constexpr int kPageSize = 16384;

// The schema name the writer attaches the history under.
inline constexpr const char* kAttachedSchema = "history";

// The tables, created in this order in a file without them. `{}` stands for
// the schema name.
inline constexpr const char* kCreateRuns =
    "CREATE TABLE IF NOT EXISTS {}.Runs ("
    "Number INTEGER PRIMARY KEY, Program TEXT NOT NULL, Version TEXT NOT NULL, "
    "CommandLine TEXT NOT NULL, StartedUtc TEXT NOT NULL, UtcOffset TEXT NOT NULL, "
    "User TEXT NOT NULL, SudoUser TEXT NOT NULL, Host TEXT NOT NULL, "
    "Database TEXT NOT NULL, Source TEXT NOT NULL, SourceSize INTEGER NOT NULL, "
    "SourceSha256 TEXT NOT NULL)";
inline constexpr const char* kCreateColumnLists =
    "CREATE TABLE IF NOT EXISTS {}.ColumnLists ("
    "Id INTEGER PRIMARY KEY, Object TEXT NOT NULL, Names BLOB NOT NULL)";
inline constexpr const char* kCreateChanges =
    "CREATE TABLE IF NOT EXISTS {}.Changes ("
    "Id INTEGER PRIMARY KEY, GroupName TEXT NOT NULL, ChangeCount INTEGER NOT NULL, "
    "Body BLOB NOT NULL)";
inline constexpr const char* kCreateSeals =
    "CREATE TABLE IF NOT EXISTS {}.Seals ("
    "Sequence INTEGER PRIMARY KEY, Run INTEGER NOT NULL UNIQUE, EndedUtc TEXT NOT NULL, "
    "Succeeded INTEGER NOT NULL, ExitStatus INTEGER NOT NULL, Message TEXT NOT NULL, "
    "PreviousHash TEXT NOT NULL, Hash TEXT NOT NULL)";

// The header's columns in Runs, in the order of the canonical bytes.
inline constexpr const char* kHeaderColumns =
    "Program, Version, CommandLine, StartedUtc, UtcOffset, User, SudoUser, Host, Database, "
    "Source, SourceSize, SourceSha256";
// The header's texts in the order of kHeaderColumns, up to Source (then
// come SourceSize and SourceSha256); for a RunHeader or a const one.
template <typename Header>
auto HeaderTexts(Header& h) {
  return std::array{&h.program, &h.version,   &h.command_line, &h.started_utc, &h.utc_offset,
                    &h.user,    &h.sudo_user, &h.host,         &h.database,    &h.source};
}
// The Id of a run's row of Changes or ColumnLists: the run's number above
// the low 32 bits, the row's number in the run (from 1) in them, so that a
// run's rows are one range of their table, in order, and rows appended in
// order fill their pages.
inline constexpr int kRunShift = 32;
inline constexpr std::int64_t kMaxInRun = (std::int64_t{1} << kRunShift) - 1;
constexpr std::int64_t IdInRun(std::int64_t run, std::int64_t n) {
  return (run << kRunShift) | n;
}
// The run's range of Ids.
constexpr std::int64_t FirstIdOf(std::int64_t run) {
  return IdInRun(run, 0);
}
constexpr std::int64_t LastIdOf(std::int64_t run) {
  return IdInRun(run, kMaxInRun);
}

// The columns of Changes and ColumnLists after Id, in the order of the
// canonical bytes.
inline constexpr const char* kChangesColumns = "GroupName, ChangeCount, Body";
inline constexpr const char* kListColumns = "Object, Names";
// A row of Changes holds the changes of one record of one group, up to
// about this many bytes of Body.
inline constexpr std::size_t kBodyLimit = 1 << 20;
// The seal's columns in Seals after Sequence and Run.
inline constexpr const char* kEndColumns = "EndedUtc, Succeeded, ExitStatus, Message";

// The previous hash of the first seal.
inline constexpr std::string_view kNoPreviousHash =
    "0000000000000000000000000000000000000000000000000000000000000000";
// The first field of a sealed run's bytes: a hash of these bytes can be
// taken for nothing else.
inline constexpr std::string_view kDomain = "Corvista1000 change history 1";

// `sql` with every "{}" replaced by `schema`, a plain name of ours.
std::string InSchema(std::string_view sql, const std::string& schema);

// Value kinds as stored, fixed whatever the order of ValueKind.
enum class StoredKind : std::uint8_t {
  kEmpty = 0,
  kNull = 1,
  kBoolean = 2,
  kByte = 3,
  kInteger = 4,
  kLong = 5,
  kSingle = 6,
  kDouble = 7,
  kText = 8,
  kError = 9,
};

// Which values of its columns a change stores: the others are all Empty.
enum Sides : std::uint8_t { kBefore = 1, kAfter = 2 };

// The stored blobs: a column list's Names and the Body of a row of
// changes. Sizes and counts are varints (LEB128: 7 bits a byte, the lowest
// first), integers zigzag varints, floats their IEEE 754 bits
// little-endian. The bytes stay in the encoder between records, so that
// thousands of them allocate nothing.
class BlobEncoder {
 public:
  void Clear() { bytes_.clear(); }
  void U8(std::uint8_t v) { bytes_ += static_cast<char>(v); }
  void Varint(std::uint64_t v);
  void Fixed(std::uint64_t v, int size);  // the low `size` bytes, little-endian
  void Text(std::string_view text);       // varint size, then the bytes
  void Value(const platform::Value& value);
  // A value as SQLite stores it, as Value(engine::internal::ToValue(v)).
  void Value(const engine::internal::StoredValue& value);
  void Bytes(std::string_view bytes) { bytes_.append(bytes); }
  std::string_view bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// A column list's Names: count, then each name. `names` is a sequence of
// texts.
template <typename Names>
void EncodeNames(const Names& names, BlobEncoder& out) {
  out.Clear();
  out.Varint(names.size());
  for (const auto& name : names) out.Text(name);
}

// A change's kind as stored: 0 insert, 1 update, 2 delete, 3 query added,
// 4 query replaced, 5 field added, 6 field removed, 7 version,
// 8 compaction, whatever the order of ChangeKind.
std::uint8_t KindCode(ChangeKind kind);

// Appends a change to a Body: its kind, its column list's number, its key,
// which sides of its columns it stores (Sides), then for each column its
// before and its after, of the sides stored. `before(i)` and `after(i)`
// give column i's values; `sides` may leave out only a side whose values
// are all Empty.
template <typename Before, typename After>
void AppendChange(ChangeKind kind, std::int64_t list, std::string_view key, std::size_t count,
                  std::uint8_t sides, const Before& before, const After& after, BlobEncoder& body) {
  body.U8(KindCode(kind));
  body.Varint(static_cast<std::uint64_t>(list));
  body.Text(key);
  body.U8(sides);
  for (std::size_t i = 0; i < count; ++i) {
    if (sides & kBefore) body.Value(before(i));
    if (sides & kAfter) body.Value(after(i));
  }
}

// The sides of `columns` that hold a value other than Empty.
std::uint8_t SidesOf(const std::vector<ColumnChange>& columns);

// A run's column list as stored.
struct ColumnList {
  std::string object;
  std::vector<std::string> names;
};
using ColumnLists = std::map<std::int64_t, ColumnList>;  // by number

// Throw platform::Error (SQLITE_CORRUPT) on bytes that are no such blob:
// Names, and a Body of `count` changes of `group` with the run's `lists`.
std::vector<std::string> DecodeNames(std::string_view bytes);
void DecodeBody(std::string_view bytes, std::int64_t count, const std::string& group,
                const ColumnLists& lists, std::vector<Change>& out);

// Little-endian fixed-size integers and length-prefixed texts: the
// canonical bytes of a sealed run, the input of its hash:
//   sealed-run := text(kDomain) i64(sequence) i64(run) header
//                 (u8(1) list)* u8(0) (u8(1) changes)* u8(0)
//                 end text(previous hash)
class Encoder {
 public:
  void U8(std::uint8_t v) { bytes_ += static_cast<char>(v); }
  void Fixed(std::uint64_t v, int size);  // the low `size` bytes, little-endian
  void I64(std::int64_t v) { Fixed(static_cast<std::uint64_t>(v), 8); }
  void Text(std::string_view text);  // u32 size, then the bytes

  // text(kDomain) i64(sequence) i64(run) header
  void RunStart(std::int64_t sequence, std::int64_t run, const RunHeader& header);
  // u8(1) list, where list := i64(number) text(object) text(names)
  void List(std::int64_t number, std::string_view object, std::string_view names);
  // u8(1) changes, where changes := text(group) i64(change count) text(body)
  void Changes(std::string_view group, std::int64_t count, std::string_view body);
  // u8(0): after the last list, and after the last row of changes.
  void NoMore() { U8(0); }
  // end := text(ended) u8(succeeded) i64(exit status) text(message), then
  // text(previous hash)
  void RunEnd(const history::RunEnd& end, std::string_view previous_hash);

  // The bytes so far, and a fresh start that keeps the room: a long run is
  // hashed part by part.
  std::string_view bytes() const { return bytes_; }
  void Clear() { bytes_.clear(); }

 private:
  std::string bytes_;
};

// 11, "database disk image is malformed", with a `problem` detail.
Error Malformed(const char* problem);

}  // namespace platform::history::format
