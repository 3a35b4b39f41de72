#include "catalog_sync/records/file_manager.h"

#include <cstdint>
#include <new>

#include "catalog_sync/records/catalog_bag.h"
#include "catalog_sync/records/package_format.h"
#include "catalog_sync/records/property_bag.h"
#include "platform/core/files.h"
#include "platform/core/large_pages.h"

namespace catalog_sync {

namespace {

constexpr long kOutOfMemory = 7;
constexpr long kInternalError = 51;

bool HasDetail(const platform::Error& e, std::string_view what) {
  for (const auto& [name, value] : e.details()) {
    if (name == what) return true;
  }
  return false;
}

}  // namespace

FileManager::FileManager(std::string package_path) : path_(std::move(package_path)) {}

bool FileManager::ReadProperties(AssayCollection& colAssay, TestVolumeTable& colObjTV,
                                 platform::Error* failure) const {
  try {
    CatalogFromBag(PropertyBag::AdoptContents(LoadPackage()), colAssay, colObjTV);
    return true;
  } catch (platform::Error& e) {
    if (!HasDetail(e, "file")) e.AddDetail("file", path_);
    if (failure) *failure = std::move(e);
  } catch (const std::bad_alloc&) {
    if (failure) *failure = platform::Error(kOutOfMemory, "Out of memory").AddDetail("file", path_);
  } catch (const std::exception& e) {
    if (failure) {
      *failure = platform::Error(kInternalError, "Internal error")
                     .AddDetail("file", path_)
                     .AddDetail("system", e.what());
    }
  }
  return false;
}

void FileManager::WriteProperties(const AssayCollection& colAssay,
                                  const TestVolumeTable& colObjTV) const {
  SavePackage(CatalogToBag(colAssay, colObjTV).Contents());
}

void FileManager::SavePackage(std::string_view block) const {
  // Deleting the old package before creating the new one would leave no
  // package at all when the write fails half way (a full disk, a power cut),
  // and the next "INSTALL" run would have nothing to apply. So the new block
  // goes to a temporary file beside the old one, is flushed to disk, and is
  // then renamed over the old file, also a read-only one: the path always
  // holds either the old or the new whole package.
  platform::WriteFileAtomically(path_, block);
}

std::string FileManager::LoadPackage() const {
  // The header and the size of the open file are checked before the body is
  // read, so that a huge or sparse file that is no package costs 20 bytes
  // of reading, not its whole size in memory. The body is read up to the
  // checked size only: a file that grows meanwhile fails the frame check.
  const platform::UniqueFd fd = platform::OpenForReading(path_);
  const std::uint64_t size = platform::SizeOf(fd, path_);
  std::string block;
  platform::ReadUpTo(fd, path_, package_format::kHeaderSize, block);
  PropertyBag::CheckBlockStart(block, size);
  platform::ReserveOnLargePages(block, static_cast<std::size_t>(size));
  platform::ReadUpTo(fd, path_, static_cast<std::size_t>(size) - block.size(), block);
  return block;
}

}  // namespace catalog_sync
