// A keyed store of named, typed values that serialises to one byte block:
// the contents of the assay package file.
//
// Entries keep the order in which they were first written, and Contents()
// writes them in that order; each value keeps its kind (boolean, byte,
// integer, long, single, double, text) through Contents() and back, floats
// bit for bit. Names are non-empty UTF-8 of at most 65535 bytes, compared
// exactly (case matters).
//
// FromContents is the only way in for untrusted bytes: it rejects anything
// malformed with platform::Error "Invalid file format" (321) and a
// "package format" detail naming the cause, never reads out of bounds, and
// allocates at most a small multiple of the block's own size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/value.h"

namespace catalog_sync {

class PropertyBag {
 public:
  PropertyBag() = default;

  // Loads a bag from a block made by Contents(); throws on a malformed one.
  static PropertyBag FromContents(std::string_view block);
  // The same, taking over `block` as the bag's storage instead of copying
  // it: a package of tens of megabytes is then held once, not twice.
  static PropertyBag AdoptContents(std::string block);
  // Replaces this bag by the one in `block`; on failure the bag is unchanged.
  void SetContents(std::string_view block);
  // What a block's size and header alone show (the size limit, magic number,
  // version and body size), with the errors FromContents would give, so that
  // a file can be refused before its body is read. `start` holds the first
  // min(size, 20) bytes of a block of `size` bytes.
  static void CheckBlockStart(std::string_view start, std::uint64_t size);

  // The whole bag as one byte block. Throws "Overflow" when it would exceed
  // the format's size limit.
  std::string Contents() const;

  // Room for `entries` entries whose names and texts take `bytes` bytes, so
  // that a writer that knows its size does not grow the bag step by step.
  void Reserve(std::size_t entries, std::size_t bytes);

  // Stores `value` under `name`. A name already present keeps its place and
  // takes the new value. Throws "Type mismatch" (13) for a value of a kind
  // the bag cannot hold (empty, null, error) and for a name that is empty,
  // longer than 65535 bytes or not UTF-8; text values must be UTF-8.
  void WriteProperty(std::string_view name, const platform::Value& value);

  // The value stored under `name`, of the kind it was stored with. An absent
  // name is a read failure: it throws "Invalid file format" with the name as
  // a detail.
  platform::Value ReadProperty(std::string_view name) const;

  bool Contains(std::string_view name) const;

  // The entries in order: index 0 .. Count() - 1. A returned view stays valid
  // until the bag is next written to or destroyed.
  std::size_t Count() const;
  std::string_view NameAt(std::size_t index) const;
  platform::Value ValueAt(std::size_t index) const;

  // A bag is not safe for use from two threads at once, not even for reads:
  // lookups fold pending writes into the index and move the read cursor.

 private:
  struct Entry {
    std::uint64_t payload;  // the number's bits, or text offset << 32 | size
    std::uint32_t name_offset;
    std::uint32_t hash;
    std::uint16_t name_size;
    std::uint8_t tag;  // package_format::KindTag
  };
  enum class OnDuplicate { kMerge, kReject };
  class Parser;

  static std::uint32_t HashOf(std::string_view name);
  std::string_view NameOf(const Entry& entry) const;
  platform::Value ValueOf(const Entry& entry) const;
  // The index slot that holds `name`, or the empty one where it would go.
  std::size_t FindSlot(std::string_view name, std::uint32_t hash) const;
  void GrowIndex(std::size_t entries) const;
  // Folds the pending entries into the index, in order. A pending name that
  // is already present either gives its value to the earlier entry and is
  // dropped (kMerge, for writes) or throws "duplicate name" (kReject, for a
  // loaded block).
  void IndexPending(OnDuplicate on_duplicate) const;
  std::uint32_t Store(std::string_view bytes);
  std::size_t EncodedSize() const;

  // Names and texts: appended by WriteProperty, or the loaded block itself.
  std::string storage_;
  // entries_[0, indexed_) are in index_; the rest were appended by
  // WriteProperty since. Indexing them in one pass, with the slots fetched
  // ahead, costs a small fraction of one cache miss per entry; a large bag
  // indexed entry by entry spends its time waiting for memory.
  mutable std::vector<Entry> entries_;
  mutable std::size_t indexed_ = 0;
  // Open addressing with linear probing; a slot holds hash << 32 | (entry
  // index + 1), 0 when empty, so probing needs no entry. Its size is a power
  // of two at least twice the entry count.
  mutable std::vector<std::uint64_t> index_;
  // The entry after the one read last: a reader that asks in the order of
  // writing (as the package reader does) finds each entry there without a
  // lookup.
  mutable std::size_t cursor_ = 0;
};

}  // namespace catalog_sync
