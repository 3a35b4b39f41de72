// The change history's file: the schema's names and constants, and the
// canonical bytes of a sealed run that its hash is computed over. The one
// place that defines them; doc/change_history_format.md writes them up.
//
// Every field of the canonical bytes is length-prefixed or of fixed size,
// in a fixed order, so no two different records encode alike.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/value.h"
#include "platform/history/record.h"

namespace platform::history::format {

// PRAGMA application_id ("CVH1") and user_version of a history file.
inline constexpr std::int32_t kApplicationId = 0x43564831;
inline constexpr int kFormatVersion = 1;

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
inline constexpr const char* kCreateChanges =
    "CREATE TABLE IF NOT EXISTS {}.Changes ("
    "Run INTEGER NOT NULL, Position INTEGER NOT NULL, GroupName TEXT NOT NULL, "
    "Kind TEXT NOT NULL, Object TEXT NOT NULL, Key TEXT NOT NULL, Columns BLOB NOT NULL, "
    "PRIMARY KEY (Run, Position))";
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

// Little-endian fixed-size integers and length-prefixed texts.
class Encoder {
 public:
  void U8(std::uint8_t v) { bytes_ += static_cast<char>(v); }
  void Fixed(std::uint64_t v, int size);  // the low `size` bytes, little-endian
  void U32(std::uint32_t v) { Fixed(v, 4); }
  void I64(std::int64_t v) { Fixed(static_cast<std::uint64_t>(v), 8); }
  void Text(std::string_view text);  // u32 size, then the bytes
  void Value(const platform::Value& value);

  // A sealed run's bytes, the input of its hash, in three parts:
  //   sealed-run := text(kDomain) i64(sequence) i64(run) header
  //                 i64(change count) change{count} end text(previous hash)
  void RunStart(std::int64_t sequence, std::int64_t run, const RunHeader& header,
                std::int64_t change_count);
  // change := text(group) text(kind name) text(object) text(key) text(columns blob)
  void Change(std::string_view group, std::string_view kind, std::string_view object,
              std::string_view key, std::string_view columns);
  // end := text(ended) u8(succeeded) i64(exit status) text(message), then
  // text(previous hash)
  void RunEnd(const history::RunEnd& end, std::string_view previous_hash);

  // The bytes so far, and a fresh start: a long run is hashed part by part.
  std::string Take() { return std::exchange(bytes_, std::string()); }

 private:
  std::string bytes_;
};

// The Columns blob of a change: u32 count, then name, before, after of
// each column.
std::string EncodeColumns(const std::vector<ColumnChange>& columns);
// Throws platform::Error (SQLITE_CORRUPT) on bytes that are no such blob.
std::vector<ColumnChange> DecodeColumns(std::string_view bytes);

// The kind named by KindName; throws platform::Error (SQLITE_CORRUPT) for
// any other text.
ChangeKind KindNamed(std::string_view name);

}  // namespace platform::history::format
