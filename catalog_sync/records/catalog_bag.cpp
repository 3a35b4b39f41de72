#include "catalog_sync/records/catalog_bag.h"

#include <charconv>
#include <string>
#include <string_view>

#include "catalog_sync/records/record_properties.h"
#include "platform/core/error.h"

namespace catalog_sync {

namespace {

using platform::Value;

constexpr std::string_view kCountEntry = "nAssayCount";

// Builds entry names ("TestName12", "ReagentVol120") in one reused buffer,
// so a catalogue of 2 million entries does not allocate a name each.
class EntryNames {
 public:
  // The returned view stays valid until the next call.
  std::string_view Of(std::string_view property, std::int32_t i) {
    buffer_.assign(property);
    AppendNumber(i);
    return buffer_;
  }
  std::string_view Of(std::string_view property, std::int32_t i, std::int32_t part) {
    buffer_.assign(property);
    AppendNumber(i);
    AppendNumber(part);
    return buffer_;
  }

 private:
  void AppendNumber(std::int32_t n) {
    char digits[12];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    buffer_.append(digits, end);
  }
  std::string buffer_;
};

void CheckAssayCount(std::int32_t n) {
  if (n > kMaxAssayCount) {
    throw platform::Error(platform::err::kOverflow)
        .AddDetail("assay count", std::to_string(n) + " (a catalogue holds at most " +
                                      std::to_string(kMaxAssayCount) + " assays)");
  }
}

Value WrittenValue(const TestVolumeProperty& p, const Assay& owner, const TestVolume& record,
                   std::int32_t part) {
  switch (p.derivation) {
    case Derivation::kOwnerTestNumber: return Value(owner.TestNumber());
    case Derivation::kPartIndex: return Value(static_cast<std::int16_t>(part));
    case Derivation::kStored: break;
  }
  return p.get(record);
}

// Reads one entry into a record; a failure names the entry and its value.
template <typename Record, typename Property>
void ReadInto(Record& record, const Property& p, const PropertyBag& bag, std::string_view name) {
  const Value value = bag.ReadProperty(name);
  try {
    p.set(record, value);
  } catch (platform::Error& e) {
    e.AddDetail("entry", std::string(name)).AddDetail("value", value.Describe());
    throw;
  }
}

}  // namespace

PropertyBag CatalogToBag(const AssayCollection& colAssay, const TestVolumeTable& colObjTV) {
  const std::int32_t n = colAssay.Count();
  CheckAssayCount(n);
  PropertyBag bag;
  const std::size_t per_assay =
      AssayProperties().size() + TestVolumeTable::kParts * TestVolumeProperties().size();
  const std::size_t entries = 1 + per_assay * static_cast<std::size_t>(n);
  // An entry of a catalogue takes 23 bytes on average (names of 12 to 21
  // bytes, mostly 4- and 8-byte numbers).
  bag.Reserve(entries, entries * 24);
  // Every name is new to the bag: a property's name, the position in
  // digits and, for a volume, the part's one digit never make another's.
  bag.WriteNewProperty(kCountEntry, Value(n));
  EntryNames names;
  for (std::int32_t i = 1; i <= n; ++i) {
    const Assay& assay = colAssay.Item(i);
    for (const AssayProperty& p : AssayProperties()) {
      bag.WriteNewProperty(names.Of(p.name, i), p.get(assay));
    }
    for (std::int32_t part = 0; part < TestVolumeTable::kParts; ++part) {
      const TestVolume& record = colObjTV.At(i, part);
      for (const TestVolumeProperty& p : TestVolumeProperties()) {
        bag.WriteNewProperty(names.Of(p.name, i, part), WrittenValue(p, assay, record, part));
      }
    }
  }
  return bag;
}

void CatalogFromBag(const PropertyBag& bag, AssayCollection& colAssay, TestVolumeTable& colObjTV) {
  const Value count = bag.ReadProperty(kCountEntry);
  std::int16_t n = 0;
  try {
    n = count.ToInteger();
  } catch (platform::Error& e) {
    e.AddDetail("entry", std::string(kCountEntry)).AddDetail("value", count.Describe());
    throw;
  }
  CheckAssayCount(n);
  colObjTV.Dimension(n);
  colAssay.Reserve(colAssay.Count() + n);
  EntryNames names;
  for (std::int32_t i = 1; i <= n; ++i) {
    Assay assay;
    for (const AssayProperty& p : AssayProperties()) {
      ReadInto(assay, p, bag, names.Of(p.name, i));
    }
    colAssay.Add(std::move(assay));
    for (std::int32_t part = 0; part < TestVolumeTable::kParts; ++part) {
      TestVolume record;
      for (const TestVolumeProperty& p : TestVolumeProperties()) {
        ReadInto(record, p, bag, names.Of(p.name, i, part));
      }
      colObjTV.Set(i, part, record);
    }
  }
}

}  // namespace catalog_sync
