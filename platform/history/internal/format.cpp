#include "platform/history/internal/format.h"

#include <sqlite3.h>

#include <bit>
#include <cstring>

#include "platform/core/error.h"

namespace platform::history::format {

namespace {

StoredKind StoredKindOf(ValueKind kind) {
  switch (kind) {
    case ValueKind::kEmpty: return StoredKind::kEmpty;
    case ValueKind::kNull: return StoredKind::kNull;
    case ValueKind::kBoolean: return StoredKind::kBoolean;
    case ValueKind::kByte: return StoredKind::kByte;
    case ValueKind::kInteger: return StoredKind::kInteger;
    case ValueKind::kLong: return StoredKind::kLong;
    case ValueKind::kSingle: return StoredKind::kSingle;
    case ValueKind::kDouble: return StoredKind::kDouble;
    case ValueKind::kText: return StoredKind::kText;
    case ValueKind::kError: return StoredKind::kError;
  }
  return StoredKind::kEmpty;
}

Error Malformed(const char* what) {
  return Error(SQLITE_CORRUPT, sqlite3_errstr(SQLITE_CORRUPT)).AddDetail("problem", what);
}

// Reads what Encoder wrote, refusing to read past the end.
class Decoder {
 public:
  explicit Decoder(std::string_view bytes) : rest_(bytes) {}

  std::uint64_t Unsigned(std::size_t size) {
    const std::string_view bytes = Take(size);
    std::uint64_t v = 0;
    for (std::size_t i = size; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
    return v;
  }
  std::string Text() { return std::string(Take(Unsigned(4))); }
  platform::Value Value() {
    switch (static_cast<StoredKind>(Unsigned(1))) {
      case StoredKind::kEmpty: return platform::Value();
      case StoredKind::kNull: return platform::Value::Null();
      case StoredKind::kBoolean: return platform::Value(Unsigned(1) != 0);
      case StoredKind::kByte: return platform::Value(static_cast<std::uint8_t>(Unsigned(1)));
      case StoredKind::kInteger: return platform::Value(static_cast<std::int16_t>(Unsigned(2)));
      case StoredKind::kLong: return platform::Value(static_cast<std::int32_t>(Unsigned(4)));
      case StoredKind::kSingle:
        return platform::Value(std::bit_cast<float>(static_cast<std::uint32_t>(Unsigned(4))));
      case StoredKind::kDouble: return platform::Value(std::bit_cast<double>(Unsigned(8)));
      case StoredKind::kText: return platform::Value(Text());
      case StoredKind::kError:
        return platform::Value::FromError(static_cast<std::int32_t>(Unsigned(4)));
    }
    throw Malformed("unknown value kind");
  }
  bool AtEnd() const { return rest_.empty(); }

 private:
  std::string_view Take(std::uint64_t size) {
    if (size > rest_.size()) throw Malformed("truncated columns");
    const std::string_view taken = rest_.substr(0, size);
    rest_.remove_prefix(size);
    return taken;
  }
  std::string_view rest_;
};

}  // namespace

std::string InSchema(std::string_view sql, const std::string& schema) {
  std::string out;
  for (std::size_t at = 0;;) {
    const std::size_t mark = sql.find("{}", at);
    out += sql.substr(at, mark - at);
    if (mark == std::string_view::npos) return out;
    out += schema;
    at = mark + 2;
  }
}

void Encoder::Fixed(std::uint64_t v, int size) {
  for (int i = 0; i < size; ++i) U8(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Encoder::Text(std::string_view text) {
  U32(static_cast<std::uint32_t>(text.size()));
  bytes_.append(text);
}

void Encoder::Value(const platform::Value& value) {
  const StoredKind kind = StoredKindOf(value.kind());
  U8(static_cast<std::uint8_t>(kind));
  switch (kind) {
    case StoredKind::kEmpty:
    case StoredKind::kNull: break;
    case StoredKind::kBoolean: U8(value.boolean() ? 1 : 0); break;
    case StoredKind::kByte: U8(value.ToByte()); break;
    case StoredKind::kInteger: Fixed(static_cast<std::uint16_t>(value.ToInteger()), 2); break;
    case StoredKind::kLong: U32(static_cast<std::uint32_t>(value.ToLong())); break;
    case StoredKind::kSingle: U32(std::bit_cast<std::uint32_t>(value.ToSingle())); break;
    case StoredKind::kDouble: Fixed(std::bit_cast<std::uint64_t>(value.ToDouble()), 8); break;
    case StoredKind::kText: Text(value.text()); break;
    case StoredKind::kError: U32(static_cast<std::uint32_t>(value.error_code())); break;
  }
}

void Encoder::RunStart(std::int64_t sequence, std::int64_t run, const RunHeader& header,
                       std::int64_t change_count) {
  Text(kDomain);
  I64(sequence);
  I64(run);
  for (const std::string* text : HeaderTexts(header)) {
    Text(*text);
  }
  I64(header.source_size);
  Text(header.source_sha256);
  I64(change_count);
}

void Encoder::Change(std::string_view group, std::string_view kind, std::string_view object,
                     std::string_view key, std::string_view columns) {
  for (const std::string_view text : {group, kind, object, key, columns}) Text(text);
}

void Encoder::RunEnd(const history::RunEnd& end, std::string_view previous_hash) {
  Text(end.ended_utc);
  U8(end.succeeded ? 1 : 0);
  I64(end.exit_status);
  Text(end.message);
  Text(previous_hash);
}

std::string EncodeColumns(const std::vector<ColumnChange>& columns) {
  Encoder encoder;
  encoder.U32(static_cast<std::uint32_t>(columns.size()));
  for (const ColumnChange& column : columns) {
    encoder.Text(column.column);
    encoder.Value(column.before);
    encoder.Value(column.after);
  }
  return encoder.Take();
}

std::vector<ColumnChange> DecodeColumns(std::string_view bytes) {
  Decoder decoder(bytes);
  const std::uint64_t count = decoder.Unsigned(4);
  std::vector<ColumnChange> columns;
  for (std::uint64_t i = 0; i < count; ++i) {
    ColumnChange& column = columns.emplace_back();
    column.column = decoder.Text();
    column.before = decoder.Value();
    column.after = decoder.Value();
  }
  if (!decoder.AtEnd()) throw Malformed("trailing bytes in columns");
  return columns;
}

ChangeKind KindNamed(std::string_view name) {
  for (const ChangeKind kind :
       {ChangeKind::kInsert, ChangeKind::kUpdate, ChangeKind::kDelete, ChangeKind::kQueryAdded,
        ChangeKind::kQueryReplaced, ChangeKind::kFieldAdded, ChangeKind::kFieldRemoved,
        ChangeKind::kVersion, ChangeKind::kCompaction}) {
    if (name == KindName(kind)) return kind;
  }
  throw Malformed("unknown kind of change");
}

}  // namespace platform::history::format
