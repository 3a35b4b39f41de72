#include "catalog_package/catalog_json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "catalog_sync/records/record_properties.h"
#include "platform/core/error.h"

namespace catalog_package {
namespace {

using catalog_sync::Assay;
using catalog_sync::AssayProperties;
using catalog_sync::TestVolume;
using catalog_sync::TestVolumeProperties;
using catalog_sync::TestVolumeTable;
using nlohmann::json;
using nlohmann::ordered_json;
using platform::Value;
using platform::ValueKind;

constexpr std::string_view kVolumesKey = "TestVolumes";

bool IsAuthored(const catalog_sync::TestVolumeProperty& p) {
  return p.derivation == catalog_sync::Derivation::kStored;
}

// "assay 3 (TestNumber 21)": the position always, the test number when the
// document gives a usable one.
std::string AssayLabel(std::int32_t position, const json& assay) {
  std::string label = "assay " + std::to_string(position);
  if (assay.is_object()) {
    const auto number = assay.find("TestNumber");
    if (number != assay.end() && number->is_number_integer()) {
      label += " (TestNumber " + std::to_string(number->get<std::int64_t>()) + ")";
    }
  }
  return label;
}

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw CatalogJsonError(where + ": " + what);
}

// A single as the shortest decimal that reads back as the same single, held
// in a double: 0.1f prints as 0.1, not as 0.10000000149011612. Reading that
// decimal as a double and then rounding it to a single rounds twice, which
// for a few singles lands on the neighbour (0x15AE43FD, "7.038531e-26", is
// the one positive case); those are given as their exact value instead.
double ShortestSingle(float f) {
  char digits[32];
  const auto end = std::to_chars(digits, digits + sizeof digits, f).ptr;
  *end = '\0';
  const double shortest = std::strtod(digits, nullptr);
  return static_cast<float>(shortest) == f ? shortest : static_cast<double>(f);
}

ordered_json ValueToJson(const Value& v, const std::string& where) {
  switch (v.kind()) {
    case ValueKind::kBoolean: return v.boolean();
    case ValueKind::kByte:
    case ValueKind::kInteger:
    case ValueKind::kLong: return v.ToLong();
    case ValueKind::kSingle:
    case ValueKind::kDouble: {
      const double d = v.kind() == ValueKind::kSingle ? ShortestSingle(v.ToSingle()) : v.ToDouble();
      if (!std::isfinite(d)) Fail(where, "value " + v.ToText() + " cannot be written as JSON");
      return d;
    }
    case ValueKind::kText: return v.text();
    default: Fail(where, std::string("unexpected kind ") + platform::KindName(v.kind()));
  }
}

// An integer of the document when it lies in [low, high].
std::int64_t IntegerIn(const json& j, std::int64_t low, std::int64_t high, ValueKind kind,
                       const std::string& where) {
  const std::string range = std::string(platform::KindName(kind)) + ", " + std::to_string(low) +
                            " to " + std::to_string(high);
  if (!j.is_number_integer()) Fail(where, j.dump() + " is not an integer (" + range + ")");
  const bool fits = j.is_number_unsigned()
                        ? j.get<std::uint64_t>() <= static_cast<std::uint64_t>(high)
                        : j.get<std::int64_t>() >= low && j.get<std::int64_t>() <= high;
  if (!fits) Fail(where, j.dump() + " does not fit " + range);
  return j.get<std::int64_t>();
}

double FiniteNumber(const json& j, double limit, const std::string& where) {
  if (!j.is_number()) Fail(where, j.dump() + " is not a number");
  const double d = j.get<double>();
  if (!std::isfinite(d) || std::fabs(d) >= limit) Fail(where, j.dump() + " is out of range");
  return d;
}

// Below 2^128 - 2^103 a double rounds to a finite single; the largest single
// printed in short form ("3.4028235e+38") lies just above FLT_MAX, so the
// value is clamped rather than converted, which would be undefined there.
float SingleFromDouble(double d) {
  constexpr float kMax = std::numeric_limits<float>::max();
  if (std::fabs(d) > static_cast<double>(kMax)) return d > 0 ? kMax : -kMax;
  return static_cast<float>(d);
}

// The document's value as a Value of exactly the property's kind.
Value JsonToValue(const json& j, ValueKind kind, const std::string& where) {
  switch (kind) {
    case ValueKind::kBoolean:
      if (!j.is_boolean()) Fail(where, j.dump() + " is not true or false");
      return Value(j.get<bool>());
    case ValueKind::kByte:
      return Value(static_cast<std::uint8_t>(IntegerIn(j, 0, 255, kind, where)));
    case ValueKind::kInteger:
      return Value(static_cast<std::int16_t>(IntegerIn(j, -32768, 32767, kind, where)));
    case ValueKind::kLong:
      return Value(static_cast<std::int32_t>(IntegerIn(j, std::numeric_limits<std::int32_t>::min(),
                                                       std::numeric_limits<std::int32_t>::max(),
                                                       kind, where)));
    case ValueKind::kSingle: return Value(SingleFromDouble(FiniteNumber(j, 0x1.ffffffp127, where)));
    case ValueKind::kDouble:
      return Value(FiniteNumber(j, std::numeric_limits<double>::infinity(), where));
    case ValueKind::kText:
      if (!j.is_string()) Fail(where, j.dump() + " is not a string");
      return Value(j.get<std::string>());
    default: Fail(where, std::string("unsupported kind ") + platform::KindName(kind));
  }
}

// Sets every property of `table` on `record` from `object`, which must hold
// exactly those properties (plus `extra_key`, handled by the caller).
template <typename Record, typename Table, typename Filter>
void FillRecord(Record& record, const Table& table, Filter authored, const json& object,
                const std::string& where, std::string_view extra_key = {}) {
  if (!object.is_object()) Fail(where, "is not a JSON object");
  for (const auto& [key, value] : object.items()) {
    bool known = key == extra_key && !extra_key.empty();
    for (const auto& p : table) known = known || (authored(p) && p.name == key);
    if (!known) Fail(where, "property \"" + key + "\" is not a known property");
  }
  for (const auto& p : table) {
    if (!authored(p)) continue;
    const std::string at = where + ": property \"" + std::string(p.name) + "\"";
    const auto found = object.find(std::string(p.name));
    if (found == object.end()) Fail(where, "property \"" + std::string(p.name) + "\" is missing");
    p.set(record, JsonToValue(*found, p.kind, at));
  }
}

void FillAssay(std::int32_t i, const json& item, catalog_sync::AssayCollection& colAssay,
               TestVolumeTable& colObjTV) {
  const std::string where = AssayLabel(i, item);
  Assay assay;
  FillRecord(
      assay, AssayProperties(), [](const auto&) { return true; }, item, where, kVolumesKey);
  const auto volumes = item.find(std::string(kVolumesKey));
  if (volumes == item.end()) Fail(where, "property \"TestVolumes\" is missing");
  if (!volumes->is_array() || volumes->size() != TestVolumeTable::kParts) {
    Fail(where, "property \"TestVolumes\" must be an array of 3 objects (parts 0, 1, 2)");
  }
  for (std::int32_t part = 0; part < TestVolumeTable::kParts; ++part) {
    TestVolume volume;
    FillRecord(volume, TestVolumeProperties(), IsAuthored, (*volumes)[part],
               where + ": TestVolumes[" + std::to_string(part) + "]");
    volume.SetTestsID(assay.TestNumber());
    volume.SetPart(static_cast<std::uint8_t>(part));
    colObjTV.Set(i, part, volume);
  }
  colAssay.Add(std::move(assay));
}

}  // namespace

ordered_json CatalogToJson(const catalog_sync::AssayCollection& colAssay,
                           const TestVolumeTable& colObjTV) {
  ordered_json assays = ordered_json::array();
  for (std::int32_t i = 1; i <= colAssay.Count(); ++i) {
    const Assay& assay = colAssay.Item(i);
    const std::string where =
        "assay " + std::to_string(i) + " (TestNumber " + std::to_string(assay.TestNumber()) + ")";
    ordered_json item = ordered_json::object();
    for (const auto& p : AssayProperties()) {
      item[std::string(p.name)] =
          ValueToJson(p.get(assay), where + ": property \"" + std::string(p.name) + "\"");
    }
    ordered_json volumes = ordered_json::array();
    for (std::int32_t part = 0; part < TestVolumeTable::kParts; ++part) {
      ordered_json volume = ordered_json::object();
      for (const auto& p : TestVolumeProperties()) {
        if (!IsAuthored(p)) continue;
        volume[std::string(p.name)] = ValueToJson(
            p.get(colObjTV.At(i, part)), where + ": TestVolumes[" + std::to_string(part) +
                                             "]: property \"" + std::string(p.name) + "\"");
      }
      volumes.push_back(std::move(volume));
    }
    item[std::string(kVolumesKey)] = std::move(volumes);
    assays.push_back(std::move(item));
  }
  return ordered_json{{"format", kFormatName}, {"version", kFormatVersion}, {"assays", assays}};
}

void CatalogFromJson(const json& document, catalog_sync::AssayCollection& colAssay,
                     TestVolumeTable& colObjTV) {
  if (!document.is_object()) Fail("catalogue", "is not a JSON object");
  const auto format = document.find("format");
  if (format == document.end() || *format != kFormatName) {
    Fail("catalogue", std::string("\"format\" must be \"") + kFormatName + "\"");
  }
  const auto version = document.find("version");
  if (version == document.end() || *version != kFormatVersion) {
    Fail("catalogue", "\"version\" must be " + std::to_string(kFormatVersion));
  }
  for (const auto& [key, value] : document.items()) {
    if (key != "format" && key != "version" && key != "assays") {
      Fail("catalogue", "property \"" + key + "\" is not a known property");
    }
  }
  const auto assays = document.find("assays");
  if (assays == document.end() || !assays->is_array()) {
    Fail("catalogue", "\"assays\" must be an array");
  }
  // A package of no assays could never be read back (its test-volume table
  // cannot be sized to positions 1 to 0); a count beyond the 16-bit assay
  // counter is refused by the package writer itself.
  if (assays->empty()) Fail("catalogue", "\"assays\" holds no assay");
  if (assays->size() > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max())) {
    Fail("catalogue", "\"assays\" holds " + std::to_string(assays->size()) +
                          " assays, more than a package can hold");
  }
  colObjTV.Dimension(static_cast<std::int16_t>(assays->size()));
  std::int32_t i = 0;
  for (const json& item : *assays) FillAssay(++i, item, colAssay, colObjTV);
}

}  // namespace catalog_package
