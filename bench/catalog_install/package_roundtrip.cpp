// package_roundtrip <package> [<entries.tsv>]
//
// Without <entries.tsv>: builds the benchmark catalogue of 32,766 assays in
// memory, then writes it to <package> and reads it back into new containers,
// and prints the seconds of that write and read alone.
// With <entries.tsv>: writes the catalogue's package entries, one a line
// (name, kind letter, value, tab-separated), for a reference program to
// store the same entries its own way.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>

#include "bench/catalog_install/bench_catalogue.h"
#include "catalog_sync/records/catalog_bag.h"
#include "catalog_sync/records/file_manager.h"
#include "platform/core/error.h"

namespace {

constexpr int kAssays = 32766;

char KindLetter(platform::ValueKind kind) {
  switch (kind) {
    case platform::ValueKind::kBoolean: return 'b';
    case platform::ValueKind::kSingle:
    case platform::ValueKind::kDouble: return 'f';
    case platform::ValueKind::kText: return 's';
    default: return 'i';
  }
}

std::string ValueText(const platform::Value& value) {
  switch (value.kind()) {
    case platform::ValueKind::kBoolean: return value.ToBoolean() ? "1" : "0";
    case platform::ValueKind::kSingle:
    case platform::ValueKind::kDouble: {
      char text[32];
      std::snprintf(text, sizeof text, "%.17g", value.ToDouble());
      return text;
    }
    case platform::ValueKind::kText: return value.text();
    default: return std::to_string(value.ToLong());
  }
}

void WriteEntries(const catalog_sync::PropertyBag& bag, const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) throw platform::ErrorFromErrno(errno, "open", path);
  for (std::size_t i = 0; i < bag.Count(); ++i) {
    const platform::Value value = bag.ValueAt(i);
    std::fprintf(out, "%.*s\t%c\t%s\n", static_cast<int>(bag.NameAt(i).size()),
                 bag.NameAt(i).data(), KindLetter(value.kind()), ValueText(value).c_str());
  }
  if (std::fclose(out) != 0) throw platform::ErrorFromErrno(errno, "close", path);
}

double WriteThenRead(const catalog_sync::AssayCollection& colAssay,
                     const catalog_sync::TestVolumeTable& colObjTV, const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  const catalog_sync::FileManager package(path);
  package.WriteProperties(colAssay, colObjTV);
  catalog_sync::AssayCollection read_assays;
  catalog_sync::TestVolumeTable read_volumes;
  platform::Error failure(platform::err::kFileNotFound);
  if (!package.ReadProperties(read_assays, read_volumes, &failure)) throw failure;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  if (read_assays.Count() != kAssays) throw std::runtime_error("assays lost on the way back");
  return elapsed.count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::cerr << "usage: package_roundtrip <package> [<entries.tsv>]\n";
    return 2;
  }
  try {
    catalog_sync::AssayCollection colAssay;
    catalog_sync::TestVolumeTable colObjTV;
    bench::BuildCatalogue(kAssays, colAssay, colObjTV);
    if (argc == 3) {
      WriteEntries(catalog_sync::CatalogToBag(colAssay, colObjTV), argv[2]);
    } else {
      std::printf("%.4f\n", WriteThenRead(colAssay, colObjTV, argv[1]));
    }
  } catch (const platform::Error& e) {
    std::cerr << "package_roundtrip: " << e.number() << " " << e.description() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "package_roundtrip: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
