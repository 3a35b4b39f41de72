#include "catalog_sync/records/property_bag.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "catalog_sync/records/package_format.h"
#include "platform/core/error.h"
#include "platform/core/large_pages.h"
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

std::size_t PayloadSize(fmt::KindTag tag, std::uint32_t text_size) {
  switch (tag) {
    case fmt::KindTag::kBoolean:
    case fmt::KindTag::kByte: return 1;
    case fmt::KindTag::kInteger: return 2;
    case fmt::KindTag::kLong:
    case fmt::KindTag::kSingle: return 4;
    case fmt::KindTag::kDouble: return 8;
    case fmt::KindTag::kText: return 4 + std::size_t{text_size};
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

template <typename T>
T Peek(std::string_view block, std::size_t offset) {
  T v;
  std::memcpy(&v, block.data() + offset, sizeof v);
  return v;
}

// The hash bits a slot of an index of 2^bits slots keeps above the entry
// number: those of the hash's upper half that fit.
std::uint32_t TagOf(std::uint64_t hash, unsigned bits) {
  return static_cast<std::uint32_t>(hash >> 32) << bits;
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

std::uint64_t PropertyBag::HashOf(std::string_view name) {
  return std::hash<std::string_view>{}(name);
}

std::string_view PropertyBag::NameOf(std::uint32_t entry) const {
  return std::string_view(storage_).substr(entry + 2, Peek<std::uint16_t>(storage_, entry));
}

std::size_t PropertyBag::EncodedSize(std::uint32_t entry) const {
  const std::size_t kind_at = entry + 2 + Peek<std::uint16_t>(storage_, entry);
  const auto tag = static_cast<fmt::KindTag>(storage_[kind_at]);
  const std::uint32_t text_size =
      tag == fmt::KindTag::kText ? Peek<std::uint32_t>(storage_, kind_at + 1) : 0;
  return kind_at + 1 + PayloadSize(tag, text_size) - entry;
}

Value PropertyBag::ValueOf(std::uint32_t entry) const {
  const std::size_t kind_at = entry + 2 + Peek<std::uint16_t>(storage_, entry);
  const std::size_t at = kind_at + 1;
  switch (static_cast<fmt::KindTag>(storage_[kind_at])) {
    case fmt::KindTag::kBoolean: return Value(storage_[at] != 0);
    case fmt::KindTag::kByte: return Value(Peek<std::uint8_t>(storage_, at));
    case fmt::KindTag::kInteger: return Value(Peek<std::int16_t>(storage_, at));
    case fmt::KindTag::kLong: return Value(Peek<std::int32_t>(storage_, at));
    case fmt::KindTag::kSingle: return Value(Peek<float>(storage_, at));
    case fmt::KindTag::kDouble: return Value(Peek<double>(storage_, at));
    case fmt::KindTag::kText:
      return Value(std::string(
          std::string_view(storage_).substr(at + 4, Peek<std::uint32_t>(storage_, at))));
  }
  return Value();
}

std::size_t PropertyBag::FindSlot(std::string_view name, std::uint64_t hash) const {
  const std::size_t mask = index_.size() - 1;
  const std::uint32_t tag = TagOf(hash, index_bits_);
  const std::uint32_t number_mask = (std::uint32_t{1} << index_bits_) - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t held = index_[slot];
    if (held == 0) return slot;
    if (((held ^ tag) & ~number_mask) == 0 && NameOf(entries_[(held & number_mask) - 1]) == name) {
      return slot;
    }
  }
}

template <typename Place>
void PropertyBag::ForEachHashed(std::size_t begin, std::size_t end, Place place) const {
  // The hashes of a batch are taken and their slots fetched before the
  // first of them is placed, so that several cache misses are in flight.
  constexpr std::size_t kBatch = 16;
  std::uint64_t hashes[kBatch];
  const std::size_t mask = index_.size() - 1;
  for (std::size_t k = begin; k < end; k += kBatch) {
    const std::size_t n = std::min(kBatch, end - k);
    for (std::size_t j = 0; j < n; ++j) {
      hashes[j] = HashOf(NameOf(entries_[k + j]));
      __builtin_prefetch(&index_[hashes[j] & mask]);
    }
    for (std::size_t j = 0; j < n; ++j) place(k + j, hashes[j]);
  }
}

void PropertyBag::GrowIndex(std::size_t entries) const {
  const std::size_t wanted = std::bit_ceil(std::max<std::size_t>(16, 2 * entries));
  if (index_.size() >= wanted) return;
  index_.clear();
  platform::ReserveOnLargePages(index_, wanted);
  index_.assign(wanted, 0);
  index_bits_ = static_cast<unsigned>(std::countr_zero(wanted));
  const std::size_t mask = wanted - 1;
  ForEachHashed(0, settled_, [&](std::size_t k, std::uint64_t hash) {
    std::size_t slot = hash & mask;
    while (index_[slot] != 0) slot = (slot + 1) & mask;
    index_[slot] = TagOf(hash, index_bits_) | static_cast<std::uint32_t>(k + 1);
  });
}

void PropertyBag::IndexPending(OnDuplicate on_duplicate) const {
  if (settled_ == entries_.size()) return;
  GrowIndex(entries_.size());
  const std::uint32_t number_mask = (std::uint32_t{1} << index_bits_) - 1;
  std::size_t kept = settled_;
  ForEachHashed(settled_, entries_.size(), [&](std::size_t k, std::uint64_t hash) {
    const std::uint32_t entry = entries_[k];
    const std::size_t slot = FindSlot(NameOf(entry), hash);
    if (index_[slot] != 0) {
      if (on_duplicate == OnDuplicate::kReject) {
        throw Malformed("entry " + std::to_string(k + 1) + ": duplicate name " +
                        std::string(NameOf(entry)));
      }
      // The earlier entry keeps its place and takes the later one's bytes:
      // the same name, the new value.
      entries_[(index_[slot] & number_mask) - 1] = entry;
      in_order_ = false;
      return;
    }
    entries_[kept] = entry;
    index_[slot] = TagOf(hash, index_bits_) | static_cast<std::uint32_t>(++kept);
  });
  entries_.resize(kept);
  settled_ = kept;
}

void PropertyBag::Reserve(std::size_t entries, std::size_t bytes) {
  platform::ReserveOnLargePages(entries_, entries);
  // The trailer too, so that Contents() && finishes the block in place.
  platform::ReserveOnLargePages(storage_, fmt::kHeaderSize + bytes + fmt::kTrailerSize);
}

bool PropertyBag::Contains(std::string_view name) const {
  IndexPending(OnDuplicate::kMerge);
  GrowIndex(entries_.size());
  return index_[FindSlot(name, HashOf(name))] != 0;
}

void PropertyBag::WriteProperty(std::string_view name, const Value& value) {
  // Settled (and merged with an earlier entry of the same name) when the bag
  // is next looked up, enumerated or written out.
  Append(name, value);
}

void PropertyBag::WriteNewProperty(std::string_view name, const Value& value) {
  const bool unindexed = index_.empty() && settled_ == entries_.size();
  Append(name, value);
  // With no index to enter the name into, the caller's word that it is new
  // settles it; with one, it is settled as any write.
  if (unindexed) settled_ = entries_.size();
}

void PropertyBag::Append(std::string_view name, const Value& value) {
  // A name that views this bag (NameAt) would dangle once storage_ grows.
  if (std::less_equal<const char*>{}(storage_.data(), name.data()) &&
      std::less<const char*>{}(name.data(), storage_.data() + storage_.size())) {
    return Append(std::string(name), value);
  }
  if (name.empty() || name.size() > fmt::kMaxNameSize || !platform::IsValidUtf8(name)) {
    throw TypeMismatch("property name", "\"" + std::string(name) + "\" is not 1 to " +
                                            std::to_string(fmt::kMaxNameSize) + " bytes of UTF-8");
  }
  // The kind and a number's payload, or the kind and a text's size.
  char fixed[1 + sizeof(std::uint64_t)];
  char* end = fixed + 1;
  std::string_view text;
  const auto kind = [&](fmt::KindTag tag) { fixed[0] = static_cast<char>(tag); };
  switch (value.kind()) {
    case ValueKind::kBoolean:
      kind(fmt::KindTag::kBoolean);
      end = Put(end, static_cast<std::uint8_t>(value.boolean() ? 1 : 0));
      break;
    case ValueKind::kByte:
      kind(fmt::KindTag::kByte);
      end = Put(end, value.ToByte());
      break;
    case ValueKind::kInteger:
      kind(fmt::KindTag::kInteger);
      end = Put(end, value.ToInteger());
      break;
    case ValueKind::kLong:
      kind(fmt::KindTag::kLong);
      end = Put(end, value.ToLong());
      break;
    case ValueKind::kSingle:
      kind(fmt::KindTag::kSingle);
      end = Put(end, value.ToSingle());
      break;
    case ValueKind::kDouble:
      kind(fmt::KindTag::kDouble);
      end = Put(end, value.ToDouble());
      break;
    case ValueKind::kText:
      if (!platform::IsValidUtf8(value.text())) {
        throw TypeMismatch("property " + std::string(name), "the text is not UTF-8");
      }
      kind(fmt::KindTag::kText);
      text = value.text();
      end = Put(end, static_cast<std::uint32_t>(text.size()));
      break;
    default:
      throw TypeMismatch(
          "property " + std::string(name),
          std::string(platform::KindName(value.kind())) + " cannot be stored in a property bag");
  }
  const std::size_t fixed_size = static_cast<std::size_t>(end - fixed);
  const std::size_t size = sizeof(std::uint16_t) + name.size() + fixed_size + text.size();
  if (size > fmt::kMaxBlockSize - fmt::kTrailerSize - storage_.size()) {
    throw Error(platform::err::kOverflow)
        .AddDetail("property bag", "larger than a package block can hold");
  }
  const auto entry = static_cast<std::uint32_t>(storage_.size());
  char name_size[sizeof(std::uint16_t)];
  Put(name_size, static_cast<std::uint16_t>(name.size()));
  storage_.append(name_size, sizeof name_size).append(name).append(fixed, fixed_size).append(text);
  entries_.push_back(entry);
}

Value PropertyBag::ReadProperty(std::string_view name) const {
  IndexPending(OnDuplicate::kMerge);
  if (cursor_ < entries_.size() && NameOf(entries_[cursor_]) == name) {
    return ValueOf(entries_[cursor_++]);
  }
  GrowIndex(entries_.size());
  const std::uint32_t held = index_[FindSlot(name, HashOf(name))];
  if (held != 0) {
    cursor_ = held & ((std::uint32_t{1} << index_bits_) - 1);
    return ValueOf(entries_[cursor_ - 1]);
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

std::string PropertyBag::Gathered() const {
  std::size_t body = 0;
  for (const std::uint32_t e : entries_) body += EncodedSize(e);
  std::string block;
  block.reserve(fmt::kHeaderSize + body + fmt::kTrailerSize);
  block.assign(fmt::kHeaderSize, '\0');
  for (const std::uint32_t e : entries_) block.append(storage_, e, EncodedSize(e));
  return block;
}

void PropertyBag::Seal(std::string& block) const {
  char* out = block.data();
  out = PutBytes(
      out, std::string_view(reinterpret_cast<const char*>(fmt::kMagic.data()), fmt::kMagic.size()));
  out = Put(out, fmt::kVersion);
  out = Put(out, static_cast<std::uint32_t>(entries_.size()));
  Put(out, static_cast<std::uint32_t>(block.size() - fmt::kHeaderSize));
  char crc[sizeof(std::uint32_t)];
  Put(crc, fmt::Checksum(block));
  block.append(crc, sizeof crc);
}

std::string PropertyBag::Contents() const& {
  IndexPending(OnDuplicate::kMerge);
  std::string block;
  if (in_order_) {
    block.reserve(storage_.size() + fmt::kTrailerSize);
    block.append(storage_);
  } else {
    block = Gathered();
  }
  Seal(block);
  return block;
}

std::string PropertyBag::Contents() && {
  IndexPending(OnDuplicate::kMerge);
  std::string block = in_order_ ? std::move(storage_) : Gathered();
  Seal(block);
  *this = PropertyBag();
  return block;
}

namespace {

// Checks the frame of a block (size, magic, version, lengths, checksum) and
// returns the header's entry count and body size.
struct Frame {
  std::uint32_t entry_count;
  std::uint32_t body_size;
};

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
  // The loaded block is the storage: its body is the entries in order, and
  // the trailer goes, so that later writes append to the body.
  block.resize(block.size() - fmt::kTrailerSize);
  bag.storage_ = std::move(block);
  platform::ReserveOnLargePages(bag.entries_, frame.entry_count);
  Parser in(bag.storage_.data(), fmt::kHeaderSize, bag.storage_.size());
  for (std::uint32_t k = 1; k <= frame.entry_count; ++k) {
    const auto where = [k] { return "entry " + std::to_string(k); };
    const auto entry = static_cast<std::uint32_t>(in.Offset());
    const auto name_size = in.Take<std::uint16_t>("name size");
    if (name_size == 0) throw Malformed(where() + ": empty name");
    if (!platform::IsValidUtf8(in.TakeBytes(name_size, "name"))) {
      throw Malformed(where() + ": name is not UTF-8");
    }
    const auto tag = in.Take<std::uint8_t>("kind");
    switch (static_cast<fmt::KindTag>(tag)) {
      case fmt::KindTag::kBoolean:
        if (in.Take<std::uint8_t>("boolean") > 1) {
          throw Malformed(where() + ": boolean is neither 0 nor 1");
        }
        break;
      case fmt::KindTag::kByte: in.Take<std::uint8_t>("byte"); break;
      case fmt::KindTag::kInteger: in.Take<std::uint16_t>("integer"); break;
      case fmt::KindTag::kLong: in.Take<std::uint32_t>("long"); break;
      case fmt::KindTag::kSingle: in.Take<std::uint32_t>("single"); break;
      case fmt::KindTag::kDouble: in.Take<std::uint64_t>("double"); break;
      case fmt::KindTag::kText: {
        const auto text_size = in.Take<std::uint32_t>("text size");
        if (!platform::IsValidUtf8(in.TakeBytes(text_size, "text"))) {
          throw Malformed(where() + ": text is not UTF-8");
        }
        break;
      }
      default: throw Malformed(where() + ": unknown kind " + std::to_string(tag));
    }
    bag.entries_.push_back(entry);
  }
  if (in.Remaining() != 0) {
    throw Malformed(std::to_string(in.Remaining()) + " bytes after the last entry");
  }
  bag.IndexPending(OnDuplicate::kReject);
  // A reader that asks in the order of the block needs no index; one that
  // does not builds it again at its first lookup.
  bag.index_ = std::vector<std::uint32_t>();
  return bag;
}

void PropertyBag::SetContents(std::string_view block) {
  *this = FromContents(block);
}

}  // namespace catalog_sync
