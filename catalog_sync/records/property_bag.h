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

#include "catalog_sync/records/package_format.h"
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

  // The whole bag as one byte block. The bag keeps its entries in the
  // block's own encoding, so this is a copy of them with the header and the
  // checksum set.
  std::string Contents() const&;
  // The same block, finished in the bag's own storage and moved out instead
  // of copied; the bag is left empty.
  std::string Contents() &&;

  // Room for `entries` entries whose encoding takes `bytes` bytes, so that a
  // writer that knows its size does not grow the bag step by step.
  void Reserve(std::size_t entries, std::size_t bytes);

  // Stores `value` under `name`. A name already present keeps its place and
  // takes the new value. Throws "Type mismatch" (13) for a value of a kind
  // the bag cannot hold (empty, null, error) and for a name that is empty,
  // longer than 65535 bytes or not UTF-8; text values must be UTF-8. Throws
  // "Overflow" (6) when the bag would no longer fit a block: a rewritten
  // value's old bytes count until the bag is next loaded.
  void WriteProperty(std::string_view name, const platform::Value& value);
  // WriteProperty for a writer that knows `name` to be new to the bag, as
  // the catalogue's writer does: it saves the lookup that a rewritten name
  // needs, which for millions of entries is most of the cost of writing
  // them. REQUIRES: no entry of the bag has `name` (a block with a name
  // twice is refused by every reader).
  void WriteNewProperty(std::string_view name, const platform::Value& value);

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
  enum class OnDuplicate { kMerge, kReject };
  class Parser;

  // Validates and encodes an entry and appends it, pending.
  void Append(std::string_view name, const platform::Value& value);
  static std::uint64_t HashOf(std::string_view name);
  // An entry is its offset in storage_, where its encoding starts.
  std::string_view NameOf(std::uint32_t entry) const;
  platform::Value ValueOf(std::uint32_t entry) const;
  std::size_t EncodedSize(std::uint32_t entry) const;
  // The index slot that holds `name`, or the empty one where it would go.
  std::size_t FindSlot(std::string_view name, std::uint64_t hash) const;
  // Calls place(k, hash of entry k's name) for k in [begin, end), in order.
  template <typename Place>
  void ForEachHashed(std::size_t begin, std::size_t end, Place place) const;
  // Builds the index of entries_[0, settled_) when it is missing or too
  // small for `entries` entries.
  void GrowIndex(std::size_t entries) const;
  // Settles the pending entries, in order. A pending name that is already
  // present either gives its value to the earlier entry and is dropped
  // (kMerge, for writes) or throws "duplicate name" (kReject, for a loaded
  // block).
  void IndexPending(OnDuplicate on_duplicate) const;
  // The body when storage_ no longer holds the entries in order: a header's
  // room, then the entries in order.
  std::string Gathered() const;
  // Sets the header of `block` (a header's room and the body) and appends
  // the checksum.
  void Seal(std::string& block) const;

  // A header's room, then the entries in the block's encoding: appended by
  // WriteProperty, or the body of the loaded block itself. While in_order_,
  // the entries lie back to back in entry order and nothing else is there,
  // so the body needs no gathering.
  std::string storage_ = std::string(package_format::kHeaderSize, '\0');
  mutable bool in_order_ = true;
  // entries_[0, settled_) have names that no other of them has; the rest
  // were appended by WriteProperty since. Settling them in one pass, with
  // the slots fetched ahead, costs a small fraction of one cache miss per
  // entry; a large bag indexed entry by entry spends its time waiting for
  // memory.
  mutable std::vector<std::uint32_t> entries_;
  mutable std::size_t settled_ = 0;
  // Open addressing with linear probing over entries_[0, settled_), or empty
  // until a lookup needs it. A slot holds entry number + 1 in its low
  // index_bits_ bits and the name's hash bits above them, 0 when empty, so
  // a probe rarely reads a name that is not the one sought. Its size is a
  // power of two at least twice the entry count.
  mutable std::vector<std::uint32_t> index_;
  mutable unsigned index_bits_ = 0;
  // The entry after the one read last: a reader that asks in the order of
  // writing (as the package reader does) finds each entry there without a
  // lookup, and so without the index.
  mutable std::size_t cursor_ = 0;
};

}  // namespace catalog_sync
