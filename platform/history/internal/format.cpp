#include "platform/history/internal/format.h"

#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <limits>
#include <type_traits>
#include <variant>

#include "platform/core/error.h"

namespace platform::history::format {

namespace {

// The kinds of change by their codes.
constexpr std::array kKindCodes = {
    ChangeKind::kInsert,       ChangeKind::kUpdate,        ChangeKind::kDelete,
    ChangeKind::kQueryAdded,   ChangeKind::kQueryReplaced, ChangeKind::kFieldAdded,
    ChangeKind::kFieldRemoved, ChangeKind::kVersion,       ChangeKind::kCompaction};

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

std::uint64_t ZigZag(std::int64_t v) {
  return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}

std::int64_t UnZigZag(std::uint64_t v) {
  return static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1);
}

// Reads what BlobEncoder wrote, refusing to read past the end.
class Decoder {
 public:
  explicit Decoder(std::string_view bytes) : rest_(bytes) {}

  std::uint64_t Fixed(std::size_t size) {
    const std::string_view bytes = Take(size);
    std::uint64_t v = 0;
    for (std::size_t i = size; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
    return v;
  }
  std::uint64_t Varint() {
    std::uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      const auto byte = static_cast<std::uint8_t>(Fixed(1));
      v |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) return v;
    }
    throw Malformed("varint too long");
  }
  // A zigzag varint that fits `Int`.
  template <typename Int>
  Int Signed() {
    const std::int64_t v = UnZigZag(Varint());
    if (v < std::numeric_limits<Int>::min() || v > std::numeric_limits<Int>::max()) {
      throw Malformed("integer out of range");
    }
    return static_cast<Int>(v);
  }
  std::string Text() { return std::string(Take(Varint())); }
  platform::Value Value() {
    switch (static_cast<StoredKind>(Fixed(1))) {
      case StoredKind::kEmpty: return platform::Value();
      case StoredKind::kNull: return platform::Value::Null();
      case StoredKind::kBoolean: return platform::Value(Fixed(1) != 0);
      case StoredKind::kByte: return platform::Value(static_cast<std::uint8_t>(Fixed(1)));
      case StoredKind::kInteger: return platform::Value(Signed<std::int16_t>());
      case StoredKind::kLong: return platform::Value(Signed<std::int32_t>());
      case StoredKind::kSingle:
        return platform::Value(std::bit_cast<float>(static_cast<std::uint32_t>(Fixed(4))));
      case StoredKind::kDouble: return platform::Value(std::bit_cast<double>(Fixed(8)));
      case StoredKind::kText: return platform::Value(Text());
      case StoredKind::kError: return platform::Value::FromError(Signed<std::int32_t>());
    }
    throw Malformed("unknown value kind");
  }
  void RequireEnd() const {
    if (!rest_.empty()) throw Malformed("trailing bytes in a blob");
  }

 private:
  std::string_view Take(std::uint64_t size) {
    if (size > rest_.size()) throw Malformed("truncated blob");
    const std::string_view taken = rest_.substr(0, size);
    rest_.remove_prefix(size);
    return taken;
  }
  std::string_view rest_;
};

}  // namespace

Error Malformed(const char* problem) {
  return Error(SQLITE_CORRUPT, sqlite3_errstr(SQLITE_CORRUPT)).AddDetail("problem", problem);
}

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

void BlobEncoder::Varint(std::uint64_t v) {
  for (; v >= 0x80; v >>= 7) U8(static_cast<std::uint8_t>(v | 0x80));
  U8(static_cast<std::uint8_t>(v));
}

void BlobEncoder::Fixed(std::uint64_t v, int size) {
  char encoded[8];
  for (int i = 0; i < size; ++i) encoded[i] = static_cast<char>(v >> (8 * i));
  bytes_.append(encoded, static_cast<std::size_t>(size));
}

void BlobEncoder::Text(std::string_view text) {
  Varint(text.size());
  bytes_.append(text);
}

void BlobEncoder::Value(const platform::Value& value) {
  const StoredKind kind = StoredKindOf(value.kind());
  U8(static_cast<std::uint8_t>(kind));
  switch (kind) {
    case StoredKind::kEmpty:
    case StoredKind::kNull: break;
    case StoredKind::kBoolean: U8(value.boolean() ? 1 : 0); break;
    case StoredKind::kByte: U8(value.ToByte()); break;
    case StoredKind::kInteger:
    case StoredKind::kLong: Varint(ZigZag(value.ToLong())); break;
    case StoredKind::kSingle: Fixed(std::bit_cast<std::uint32_t>(value.ToSingle()), 4); break;
    case StoredKind::kDouble: Fixed(std::bit_cast<std::uint64_t>(value.ToDouble()), 8); break;
    case StoredKind::kText: Text(value.text()); break;
    case StoredKind::kError: Varint(ZigZag(value.error_code())); break;
  }
}

void BlobEncoder::Value(const engine::internal::StoredValue& value) {
  // As ToValue reads them back (integers as Long when they fit 32 bits, else
  // Double; blobs as Text), without building the Value.
  const auto kind = [this](StoredKind k) { U8(static_cast<std::uint8_t>(k)); };
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          kind(StoredKind::kNull);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          if (v >= std::numeric_limits<std::int32_t>::min() &&
              v <= std::numeric_limits<std::int32_t>::max()) {
            kind(StoredKind::kLong);
            Varint(ZigZag(v));
          } else {
            Value(platform::Value(static_cast<double>(v)));
          }
        } else if constexpr (std::is_same_v<T, double>) {
          kind(StoredKind::kDouble);
          Fixed(std::bit_cast<std::uint64_t>(v), 8);
        } else if constexpr (std::is_same_v<T, std::string>) {
          kind(StoredKind::kText);
          Text(v);
        } else {
          kind(StoredKind::kText);
          Text(v.bytes);
        }
      },
      value);
}

std::uint8_t SidesOf(const std::vector<ColumnChange>& columns) {
  std::uint8_t sides = 0;
  for (const ColumnChange& column : columns) {
    if (!column.before.IsEmpty()) sides |= kBefore;
    if (!column.after.IsEmpty()) sides |= kAfter;
  }
  return sides;
}

std::vector<std::string> DecodeNames(std::string_view bytes) {
  Decoder decoder(bytes);
  const std::uint64_t count = decoder.Varint();
  std::vector<std::string> names;
  for (std::uint64_t i = 0; i < count; ++i) names.push_back(decoder.Text());
  decoder.RequireEnd();
  return names;
}

void DecodeBody(std::string_view bytes, std::int64_t count, const std::string& group,
                const ColumnLists& lists, std::vector<Change>& out) {
  Decoder decoder(bytes);
  for (std::int64_t n = 0; n < count; ++n) {
    const std::uint64_t code = decoder.Fixed(1);
    if (code >= kKindCodes.size()) throw Malformed("unknown kind of change");
    const auto list = lists.find(static_cast<std::int64_t>(decoder.Varint()));
    if (list == lists.end()) throw Malformed("a change's column list is missing");
    Change& change = out.emplace_back();
    change.group = group;
    change.kind = kKindCodes[code];
    change.object = list->second.object;
    change.key = decoder.Text();
    const std::uint64_t sides = decoder.Fixed(1);
    if (sides > (kBefore | kAfter)) throw Malformed("unknown sides of column values");
    change.columns.reserve(list->second.names.size());
    for (const std::string& name : list->second.names) {
      ColumnChange& column = change.columns.emplace_back();
      column.column = name;
      if (sides & kBefore) column.before = decoder.Value();
      if (sides & kAfter) column.after = decoder.Value();
    }
  }
  decoder.RequireEnd();
}

void Encoder::Fixed(std::uint64_t v, int size) {
  for (int i = 0; i < size; ++i) U8(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Encoder::Text(std::string_view text) {
  Fixed(text.size(), 4);
  bytes_.append(text);
}

void Encoder::RunStart(std::int64_t sequence, std::int64_t run, const RunHeader& header) {
  Text(kDomain);
  I64(sequence);
  I64(run);
  for (const std::string* text : HeaderTexts(header)) {
    Text(*text);
  }
  I64(header.source_size);
  Text(header.source_sha256);
}

void Encoder::List(std::int64_t number, std::string_view object, std::string_view names) {
  U8(1);
  I64(number);
  Text(object);
  Text(names);
}

void Encoder::Changes(std::string_view group, std::int64_t count, std::string_view body) {
  U8(1);
  Text(group);
  I64(count);
  Text(body);
}

void Encoder::RunEnd(const history::RunEnd& end, std::string_view previous_hash) {
  Text(end.ended_utc);
  U8(end.succeeded ? 1 : 0);
  I64(end.exit_status);
  Text(end.message);
  Text(previous_hash);
}

std::uint8_t KindCode(ChangeKind kind) {
  return static_cast<std::uint8_t>(std::find(kKindCodes.begin(), kKindCodes.end(), kind) -
                                   kKindCodes.begin());
}

}  // namespace platform::history::format
