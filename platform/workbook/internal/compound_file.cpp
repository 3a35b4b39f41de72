#include "platform/workbook/internal/compound_file.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/workbook/internal/biff_records.h"
#include "platform/workbook/internal/byte_order.h"
#include "platform/workbook/internal/gsf_library.h"
#include "platform/workbook/internal/workbook_error.h"

namespace platform::workbook {

namespace {

struct GObjectUnref {
  void operator()(void* object) const { Gsf().g_object_unref(object); }
};
template <typename T>
using GsfPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
  void operator()(GError* e) const { Gsf().g_error_free(e); }
};

// libgsf reports what it finds wrong in a damaged compound file through
// GLib's log ("libgsf:msole-WARNING **: ..."), which writes to standard
// error. The reader reports every damage as its own error, and standard
// error carries only the programs' messages, so these lines are dropped.
void DropLibraryDiagnostics(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void InitGsfOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    Gsf().g_log_set_default_handler(DropLibraryDiagnostics, nullptr);
    Gsf().gsf_init();
  });
}

// Directory names compare without regard to case. The BIFF8 name comes
// first: next to its "Workbook" a producer may have left an older "Book".
constexpr std::array<const char*, 2> kStreamNames = {"Workbook", "Book"};

GsfPtr<GsfInput> FindWorkbookStream(GsfInfile* root) {
  const int count = Gsf().gsf_infile_num_children(root);
  for (const char* wanted : kStreamNames) {
    for (int i = 0; i < count; ++i) {
      const char* name = Gsf().gsf_infile_name_by_index(root, i);
      if (name != nullptr && ::strcasecmp(name, wanted) == 0) {
        return GsfPtr<GsfInput>(Gsf().gsf_infile_child_by_index(root, i));
      }
    }
  }
  return nullptr;
}

// The first `size` bytes of `input` (fewer when it is shorter), read from
// its start; the input is left at its start.
std::string HeadOf(GsfInput* input, std::size_t size) {
  std::string head(
      std::min<std::size_t>(size, static_cast<std::size_t>(Gsf().gsf_input_size(input))), '\0');
  if (Gsf().gsf_input_seek(input, 0, G_SEEK_SET) ||
      Gsf().gsf_input_read(input, head.size(), reinterpret_cast<guint8*>(head.data())) == nullptr) {
    head.clear();
  }
  Gsf().gsf_input_seek(input, 0, G_SEEK_SET);
  return head;
}

// BIFF2, BIFF3 and BIFF4 files are no compound files but the bare stream:
// refused for their version, so that the operator learns to save them anew.
void RefuseBareOldStream(std::string_view head) {
  if (head.size() < 8) return;
  const std::uint16_t type = LoadU16(head.data());
  const std::uint16_t length = LoadU16(head.data() + 2);
  const bool old_bof =
      type == biff::kBofBiff2 || type == biff::kBofBiff3 || type == biff::kBofBiff4;
  if (old_bof && length >= 4 && length <= 16 && head.size() >= 4u + length) {
    throw UnsupportedVersionError(type, LoadU16(head.data() + 4));
  }
}

constexpr std::string_view kCompoundSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr std::size_t kCompoundHeaderSize = 512;
constexpr std::size_t kSectorShiftAt = 0x1E;
constexpr std::size_t kFatSectorCountAt = 0x2C;

// Every allocation-table sector is a sector of the file; the compound-file
// library refuses a header claiming more only as "not a compound file".
void CheckAllocationTableSize(std::string_view header, gsf_off_t file_size) {
  const std::uint16_t shift = LoadU16(header.data() + kSectorShiftAt);
  if (shift != 9 && shift != 12) return;  // the library refuses it, as damage
  const std::uint64_t sector = std::uint64_t{1} << shift;
  const std::uint64_t whole = static_cast<std::uint64_t>(file_size) / sector;
  const std::uint64_t file_sectors = whole > 0 ? whole - 1 : 0;  // the header takes one
  const std::uint32_t fat_sectors = LoadU32(header.data() + kFatSectorCountAt);
  if (fat_sectors > file_sectors) {
    throw DamagedContainerError("allocation table larger than the file")
        .AddDetail("allocation-table sectors", std::to_string(fat_sectors))
        .AddDetail("file sectors", std::to_string(file_sectors));
  }
}

// The stream is read in pieces. The library reads a piece whose sectors
// follow one another in the file with one read straight into the caller's
// memory, but any other piece sector by sector through its input's own
// buffer; the sectors of a whole stream seldom follow one another (the
// allocation table's sectors sit among them), and read whole, the 1.3 MB
// stream of a 500-sheet workbook took 352 reads of 4 KiB instead of 85.
constexpr std::size_t kReadPieceBytes = 64 * 1024;

// The workbook stream of the compound file that `input` reads.
LargeArray<char> StreamOf(GsfInput* input) {
  const std::string head = HeadOf(input, kCompoundHeaderSize);
  RefuseBareOldStream(head);
  const bool compound = head.size() == kCompoundHeaderSize && head.starts_with(kCompoundSignature);
  if (compound) CheckAllocationTableSize(head, Gsf().gsf_input_size(input));
  GError* raw_error = nullptr;
  GsfPtr<GsfInfile> root(Gsf().gsf_infile_msole_new(input, &raw_error));
  std::unique_ptr<GError, GErrorFree> error(raw_error);
  if (!root && compound) {
    throw DamagedContainerError("compound-file structure unreadable")
        .AddDetail("cause", error ? error->message : "unknown");
  }
  if (!root) throw NotAWorkbookError("not a compound file");

  GsfPtr<GsfInput> stream = FindWorkbookStream(root.get());
  if (!stream) throw NotAWorkbookError("no workbook stream");

  // A stream cannot hold more than the file it lives in; a larger declared
  // size is damage, and is never allocated.
  const gsf_off_t size = Gsf().gsf_input_size(stream.get());
  if (size < 0 || size > Gsf().gsf_input_size(input)) {
    ThrowDamaged(0, "workbook stream larger than the file");
  }
  LargeArray<char> bytes(static_cast<std::size_t>(size));
  for (std::size_t at = 0; at < bytes.size(); at += kReadPieceBytes) {
    const std::size_t piece = std::min(kReadPieceBytes, bytes.size() - at);
    if (Gsf().gsf_input_read(stream.get(), piece, reinterpret_cast<guint8*>(bytes.data() + at)) ==
        nullptr) {
      ThrowDamaged(0, "workbook stream cannot be read");
    }
  }
  return bytes;
}

}  // namespace

LargeArray<char> ReadWorkbookStream(std::string_view file) {
  InitGsfOnce();
  // The memory input borrows `file`; it lives only inside this call.
  GsfPtr<GsfInput> input(Gsf().gsf_input_memory_new(reinterpret_cast<const guint8*>(file.data()),
                                                    static_cast<gsf_off_t>(file.size()), FALSE));
  return StreamOf(input.get());
}

LargeArray<char> ReadWorkbookStream(UniqueFd fd, const std::string& path) {
  InitGsfOnce();
  const auto unreadable = [](const std::string& why) {
    return Error(platform::err::kDeviceIoError).AddDetail("system", why);
  };
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throw unreadable(std::string("fstat: ") + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw unreadable("not a regular file");
  std::FILE* file = ::fdopen(fd.get(), "rb");
  if (file == nullptr) throw unreadable(std::string("fdopen: ") + std::strerror(errno));
  fd.Release();  // `file` owns the descriptor now
  // With keep_open FALSE the input closes `file`; when no input is made,
  // `file` is still ours.
  GsfPtr<GsfInput> input(Gsf().gsf_input_stdio_new_FILE(path.c_str(), file, FALSE));
  if (!input) {
    std::fclose(file);
    throw unreadable("the compound-file library cannot read it");
  }
  return StreamOf(input.get());
}

}  // namespace platform::workbook
