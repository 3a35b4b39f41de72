#include "catalog_sync/records/property_bag.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "catalog_sync/records/package_format.h"
#include "platform/core/error.h"
#include "platform/core/text.h"

namespace catalog_sync {

namespace fmt = package_format;
using platform::Error;
using platform::Value;
using platform::ValueKind;

namespace {

static_assert(std::endian::native == std::endian::little,
              "the block is written by copying little-endian integers");

Error Malformed(std::string cause) {
  return Error(fmt::kInvalidFileFormat, fmt::kInvalidFileFormatText)
      .AddDetail("package format", std::move(cause));
}

Error TypeMismatch(std::string what, std::string value) {
  return Error(platform::err::kTypeMismatch).AddDetail(std::move(what), std::move(value));
}

std::size_t PayloadSize(fmt::KindTag tag, std::uint64_t payload) {
  switch (tag) {
    case fmt::KindTag::kBoolean:
    case fmt::KindTag::kByte: return 1;
    case fmt::KindTag::kInteger: return 2;
    case fmt::KindTag::kLong:
    case fmt::KindTag::kSingle: return 4;
    case fmt::KindTag::kDouble: return 8;
    case fmt::KindTag::kText: return 4 + static_cast<std::uint32_t>(payload);
  }
  return 0;
}

template <typename T>
char* Put(char* out, T v) {
  std::memcpy(out, &v, sizeof v);
  return out + sizeof v;
}

char* PutBytes(char* out, std::string_view bytes) {
  std::memcpy(out, bytes.data(), bytes.size());
  return out + bytes.size();
}

std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

}  // namespace

// Reads the little-endian fields of a block; every read is checked against
// the end first and throws Malformed instead of reading past it.
class PropertyBag::Parser {
 public:
  // Reads block[start, end); offsets are counted from the block's start.
  Parser(const char* block, std::size_t start, std::size_t end)
      : begin_(block), pos_(block + start), end_(block + end) {}

  std::size_t Offset() const { return static_cast<std::size_t>(pos_ - begin_); }
  std::size_t Remaining() const { return static_cast<std::size_t>(end_ - pos_); }

  template <typename T>
  T Take(const char* what) {
    Need(sizeof(T), what);
    T v;
    std::memcpy(&v, pos_, sizeof v);
    pos_ += sizeof v;
    return v;
  }

  std::string_view TakeBytes(std::size_t size, const char* what) {
    Need(size, what);
    const std::string_view bytes(pos_, size);
    pos_ += size;
    return bytes;
  }

 private:
  void Need(std::size_t size, const char* what) const {
    if (size > Remaining()) {
      throw Malformed(std::string(what) + " at offset " + std::to_string(Offset()) +
                      " runs past the end of the entries");
    }
  }

  const char* begin_;
  const char* pos_;
  const char* end_;
};

std::uint32_t PropertyBag::HashOf(std::string_view name) {
  return static_cast<std::uint32_t>(std::hash<std::string_view>{}(name));
}

std::string_view PropertyBag::NameOf(const Entry& entry) const {
  return std::string_view(storage_).substr(entry.name_offset, entry.name_size);
}

std::size_t PropertyBag::FindSlot(std::string_view name, std::uint32_t hash) const {
  const std::size_t mask = index_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint64_t held = index_[slot];
    if (held == 0) return slot;
    if (held >> 32 == hash && NameOf(entries_[(held & 0xFFFFFFFFu) - 1]) == name) return slot;
  }
}

void PropertyBag::GrowIndex(std::size_t entries) const {
  const std::size_t wanted = std::bit_ceil(std::max<std::size_t>(16, 2 * entries));
  if (index_.size() >= wanted) return;
  index_.assign(wanted, 0);
  const std::size_t mask = wanted - 1;
  for (std::size_t k = 0; k < indexed_; ++k) {
    std::size_t slot = entries_[k].hash & mask;
    while (index_[slot] != 0) slot = (slot + 1) & mask;
    index_[slot] = std::uint64_t{entries_[k].hash} << 32 | (k + 1);
  }
}

void PropertyBag::IndexPending(OnDuplicate on_duplicate) const {
  if (indexed_ == entries_.size()) return;
  GrowIndex(entries_.size());
  // How many entries ahead the slot is fetched: enough to keep several
  // cache misses in flight.
  constexpr std::size_t kAhead = 16;
  const std::size_t mask = index_.size() - 1;
  const std::size_t pending_end = entries_.size();
  std::size_t kept = indexed_;
  for (std::size_t k = indexed_; k < pending_end; ++k) {
    if (k + kAhead < pending_end) __builtin_prefetch(&index_[entries_[k + kAhead].hash & mask]);
    const Entry entry = entries_[k];
    const std::size_t slot = FindSlot(NameOf(entry), entry.hash);
    if (index_[slot] != 0) {
      if (on_duplicate == OnDuplicate::kReject) {
        throw Malformed("entry " + std::to_string(k + 1) + ": duplicate name " +
                        std::string(NameOf(entry)));
      }
      Entry& first = entries_[(index_[slot] & 0xFFFFFFFFu) - 1];
      first.tag = entry.tag;
      first.payload = entry.payload;
      continue;
    }
    entries_[kept] = entry;
    index_[slot] = std::uint64_t{entry.hash} << 32 | ++kept;
  }
  entries_.resize(kept);
  indexed_ = kept;
}

std::uint32_t PropertyBag::Store(std::string_view bytes) {
  if (bytes.size() > fmt::kMaxBlockSize - storage_.size()) {
    throw Error(platform::err::kOverflow)
        .AddDetail("property bag", "larger than a package block can hold");
  }
  const auto offset = static_cast<std::uint32_t>(storage_.size());
  storage_.append(bytes);
  return offset;
}

void PropertyBag::Reserve(std::size_t entries, std::size_t bytes) {
  entries_.reserve(entries);
  storage_.reserve(bytes);
  GrowIndex(entries);
}

bool PropertyBag::Contains(std::string_view name) const {
  IndexPending(OnDuplicate::kMerge);
  return !index_.empty() && index_[FindSlot(name, HashOf(name))] != 0;
}

void PropertyBag::WriteProperty(std::string_view name, const Value& value) {
  if (name.empty() || name.size() > fmt::kMaxNameSize || !platform::IsValidUtf8(name)) {
    throw TypeMismatch("property name", "\"" + std::string(name) + "\" is not 1 to " +
                                            std::to_string(fmt::kMaxNameSize) + " bytes of UTF-8");
  }
  Entry entry{};
  switch (value.kind()) {
    case ValueKind::kBoolean:
      entry.tag = static_cast<std::uint8_t>(fmt::KindTag::kBoolean);
      entry.payload = value.boolean() ? 1 : 0;
      break;
    case ValueKind::kByte:
      entry.tag = static_cast<std::uint8_t>(fmt::KindTag::kByte);
      entry.payload = value.ToByte();
      break;
    case ValueKind::kInteger:
      entry.tag = static_cast<std::uint8_t>(fmt::KindTag::kInteger);
      entry.payload = static_cast<std::uint16_t>(value.ToInteger());
      break;
    case ValueKind::kLong:
      entry.tag = static_cast<std::uint8_t>(fmt::KindTag::kLong);
      entry.payload = static_cast<std::uint32_t>(value.ToLong());
      break;
    case ValueKind::kSingle:
      entry.tag = static_cast<std::uint8_t>(fmt::KindTag::kSingle);
      entry.payload = std::bit_cast<std::uint32_t>(value.ToSingle());
      break;
    case ValueKind::kDouble:
      entry.tag = static_cast<std::uint8_t>(fmt::KindTag::kDouble);
      entry.payload = std::bit_cast<std::uint64_t>(value.ToDouble());
      break;
    case ValueKind::kText:
      if (!platform::IsValidUtf8(value.text())) {
        throw TypeMismatch("property " + std::string(name), "the text is not UTF-8");
      }
      entry.tag = static_cast<std::uint8_t>(fmt::KindTag::kText);
      entry.payload = std::uint64_t{Store(value.text())} << 32 | value.text().size();
      break;
    default:
      throw TypeMismatch(
          "property " + std::string(name),
          std::string(platform::KindName(value.kind())) + " cannot be stored in a property bag");
  }
  entry.hash = HashOf(name);
  entry.name_offset = Store(name);
  entry.name_size = static_cast<std::uint16_t>(name.size());
  // Indexed (and merged with an earlier entry of the same name) when the bag
  // is next looked up or enumerated.
  entries_.push_back(entry);
}

Value PropertyBag::ValueOf(const Entry& entry) const {
  switch (static_cast<fmt::KindTag>(entry.tag)) {
    case fmt::KindTag::kBoolean: return Value(entry.payload != 0);
    case fmt::KindTag::kByte: return Value(static_cast<std::uint8_t>(entry.payload));
    case fmt::KindTag::kInteger:
      return Value(static_cast<std::int16_t>(static_cast<std::uint16_t>(entry.payload)));
    case fmt::KindTag::kLong:
      return Value(static_cast<std::int32_t>(static_cast<std::uint32_t>(entry.payload)));
    case fmt::KindTag::kSingle:
      return Value(std::bit_cast<float>(static_cast<std::uint32_t>(entry.payload)));
    case fmt::KindTag::kDouble: return Value(std::bit_cast<double>(entry.payload));
    case fmt::KindTag::kText:
      return Value(std::string(std::string_view(storage_).substr(
          entry.payload >> 32, static_cast<std::uint32_t>(entry.payload))));
  }
  return Value();
}

Value PropertyBag::ReadProperty(std::string_view name) const {
  IndexPending(OnDuplicate::kMerge);
  if (cursor_ < entries_.size() && NameOf(entries_[cursor_]) == name) {
    return ValueOf(entries_[cursor_++]);
  }
  if (!index_.empty()) {
    const std::uint64_t held = index_[FindSlot(name, HashOf(name))];
    if (held != 0) {
      cursor_ = held & 0xFFFFFFFFu;
      return ValueOf(entries_[cursor_ - 1]);
    }
  }
  throw Error(fmt::kInvalidFileFormat, fmt::kInvalidFileFormatText)
      .AddDetail("missing entry", std::string(name));
}

std::size_t PropertyBag::Count() const {
  IndexPending(OnDuplicate::kMerge);
  return entries_.size();
}

std::string_view PropertyBag::NameAt(std::size_t index) const {
  IndexPending(OnDuplicate::kMerge);
  return NameOf(entries_.at(index));
}

Value PropertyBag::ValueAt(std::size_t index) const {
  IndexPending(OnDuplicate::kMerge);
  return ValueOf(entries_.at(index));
}

std::size_t PropertyBag::EncodedSize() const {
  std::size_t size = fmt::kHeaderSize + fmt::kTrailerSize;
  for (const Entry& e : entries_) {
    size += 2 + e.name_size + 1 + PayloadSize(static_cast<fmt::KindTag>(e.tag), e.payload);
  }
  return size;
}

std::string PropertyBag::Contents() const {
  IndexPending(OnDuplicate::kMerge);
  const std::size_t size = EncodedSize();
  if (size > fmt::kMaxBlockSize) {
    throw Error(platform::err::kOverflow)
        .AddDetail("property bag", std::to_string(size) + " bytes exceed the block limit");
  }
  std::string block(size, '\0');
  char* out = block.data();
  out = PutBytes(
      out, std::string_view(reinterpret_cast<const char*>(fmt::kMagic.data()), fmt::kMagic.size()));
  out = Put(out, fmt::kVersion);
  out = Put(out, static_cast<std::uint32_t>(entries_.size()));
  out = Put(out, static_cast<std::uint32_t>(size - fmt::kHeaderSize - fmt::kTrailerSize));
  for (const Entry& e : entries_) {
    out = Put(out, e.name_size);
    out = PutBytes(out, NameOf(e));
    out = Put(out, e.tag);
    switch (static_cast<fmt::KindTag>(e.tag)) {
      case fmt::KindTag::kBoolean:
      case fmt::KindTag::kByte: out = Put(out, static_cast<std::uint8_t>(e.payload)); break;
      case fmt::KindTag::kInteger: out = Put(out, static_cast<std::uint16_t>(e.payload)); break;
      case fmt::KindTag::kLong:
      case fmt::KindTag::kSingle: out = Put(out, static_cast<std::uint32_t>(e.payload)); break;
      case fmt::KindTag::kDouble: out = Put(out, e.payload); break;
      case fmt::KindTag::kText: {
        const auto text_size = static_cast<std::uint32_t>(e.payload);
        out = Put(out, text_size);
        out = PutBytes(out, std::string_view(storage_).substr(e.payload >> 32, text_size));
        break;
      }
    }
  }
  Put(out, fmt::Checksum(std::string_view(block).substr(0, size - fmt::kTrailerSize)));
  return block;
}

namespace {

// Checks the frame of a block (size, magic, version, lengths, checksum) and
// returns the header's entry count and body size.
struct Frame {
  std::uint32_t entry_count;
  std::uint32_t body_size;
};

template <typename T>
T Peek(std::string_view block, std::size_t offset) {
  T v;
  std::memcpy(&v, block.data() + offset, sizeof v);
  return v;
}

// The checks of a block's frame that need only its size and its header.
Frame CheckFrameStart(std::string_view start, std::uint64_t size) {
  if (size > fmt::kMaxBlockSize) {
    throw Malformed(std::to_string(size) + " bytes exceed the format's block limit");
  }
  if (size < fmt::kHeaderSize + fmt::kTrailerSize) {
    throw Malformed("truncated: " + std::to_string(size) + " bytes, a block has at least " +
                    std::to_string(fmt::kHeaderSize + fmt::kTrailerSize));
  }
  if (start.size() < fmt::kHeaderSize) {
    throw Malformed("truncated: " + std::to_string(start.size()) + " bytes of " +
                    std::to_string(size));
  }
  if (std::memcmp(start.data(), fmt::kMagic.data(), fmt::kMagic.size()) != 0) {
    throw Malformed("not a package block (wrong magic number)");
  }
  const auto version = Peek<std::uint32_t>(start, fmt::kVersionOffset);
  if (version != fmt::kVersion) {
    throw Malformed("format version " + std::to_string(version) + ", this reader knows version " +
                    std::to_string(fmt::kVersion));
  }
  const Frame frame{Peek<std::uint32_t>(start, fmt::kEntryCountOffset),
                    Peek<std::uint32_t>(start, fmt::kBodySizeOffset)};
  const std::uint64_t expected =
      fmt::kHeaderSize + std::uint64_t{frame.body_size} + fmt::kTrailerSize;
  if (size < expected) {
    throw Malformed("truncated: " + std::to_string(size) + " bytes of " + std::to_string(expected));
  }
  if (size > expected) {
    throw Malformed(std::to_string(size - expected) + " trailing bytes after the block");
  }
  return frame;
}

Frame CheckFrame(std::string_view block) {
  const Frame frame = CheckFrameStart(block.substr(0, fmt::kHeaderSize), block.size());
  const std::size_t sealed = block.size() - fmt::kTrailerSize;
  const auto stored = Peek<std::uint32_t>(block, sealed);
  const std::uint32_t computed = fmt::Checksum(block.substr(0, sealed));
  if (stored != computed) {
    throw Malformed("checksum mismatch: stored " + Hex(stored) + ", computed " + Hex(computed));
  }
  if (frame.entry_count > frame.body_size / fmt::kMinEntrySize) {
    throw Malformed(std::to_string(frame.entry_count) + " entries cannot fit in " +
                    std::to_string(frame.body_size) + " bytes");
  }
  return frame;
}

}  // namespace

void PropertyBag::CheckBlockStart(std::string_view start, std::uint64_t size) {
  CheckFrameStart(start, size);
}

PropertyBag PropertyBag::FromContents(std::string_view block) {
  return AdoptContents(std::string(block));
}

PropertyBag PropertyBag::AdoptContents(std::string block) {
  const Frame frame = CheckFrame(block);
  PropertyBag bag;
  // Names and texts are read in place: the loaded block is the storage.
  bag.storage_ = std::move(block);
  bag.entries_.reserve(frame.entry_count);
  const char* base = bag.storage_.data();
  Parser in(base, fmt::kHeaderSize, fmt::kHeaderSize + std::size_t{frame.body_size});
  for (std::uint32_t k = 1; k <= frame.entry_count; ++k) {
    const auto where = [k] { return "entry " + std::to_string(k); };
    const auto name_size = in.Take<std::uint16_t>("name size");
    if (name_size == 0) throw Malformed(where() + ": empty name");
    const std::size_t name_offset = in.Offset();
    const std::string_view name = in.TakeBytes(name_size, "name");
    if (!platform::IsValidUtf8(name)) throw Malformed(where() + ": name is not UTF-8");
    Entry entry{};
    entry.name_offset = static_cast<std::uint32_t>(name_offset);
    entry.name_size = name_size;
    entry.hash = HashOf(name);
    entry.tag = in.Take<std::uint8_t>("kind");
    switch (static_cast<fmt::KindTag>(entry.tag)) {
      case fmt::KindTag::kBoolean:
        entry.payload = in.Take<std::uint8_t>("boolean");
        if (entry.payload > 1) throw Malformed(where() + ": boolean is neither 0 nor 1");
        break;
      case fmt::KindTag::kByte: entry.payload = in.Take<std::uint8_t>("byte"); break;
      case fmt::KindTag::kInteger: entry.payload = in.Take<std::uint16_t>("integer"); break;
      case fmt::KindTag::kLong: entry.payload = in.Take<std::uint32_t>("long"); break;
      case fmt::KindTag::kSingle: entry.payload = in.Take<std::uint32_t>("single"); break;
      case fmt::KindTag::kDouble: entry.payload = in.Take<std::uint64_t>("double"); break;
      case fmt::KindTag::kText: {
        const auto text_size = in.Take<std::uint32_t>("text size");
        const std::size_t text_offset = in.Offset();
        if (!platform::IsValidUtf8(in.TakeBytes(text_size, "text"))) {
          throw Malformed(where() + ": text is not UTF-8");
        }
        entry.payload = std::uint64_t{text_offset} << 32 | text_size;
        break;
      }
      default: throw Malformed(where() + ": unknown kind " + std::to_string(entry.tag));
    }
    bag.entries_.push_back(entry);
  }
  if (in.Remaining() != 0) {
    throw Malformed(std::to_string(in.Remaining()) + " bytes after the last entry");
  }
  bag.IndexPending(OnDuplicate::kReject);
  return bag;
}

void PropertyBag::SetContents(std::string_view block) {
  *this = FromContents(block);
}

}  // namespace catalog_sync
