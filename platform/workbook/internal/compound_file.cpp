#include "platform/workbook/internal/compound_file.h"

#include <gsf/gsf.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/workbook/internal/workbook_error.h"

namespace platform::workbook {

namespace {

struct GObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
template <typename T>
using GsfPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
  void operator()(GError* e) const { g_error_free(e); }
};

// libgsf reports what it finds wrong in a damaged compound file through
// GLib's log ("libgsf:msole-WARNING **: ..."), which writes to standard
// error. The reader reports every damage as its own error, and standard
// error carries only the programs' messages, so these lines are dropped.
void DropLibraryDiagnostics(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void InitGsfOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_log_set_default_handler(DropLibraryDiagnostics, nullptr);
    gsf_init();
  });
}

// Exact names only: a stream called "workbook" in another case is not one
// the office suites write.
constexpr std::array<const char*, 4> kStreamNames = {"Workbook", "WORKBOOK", "Book", "BOOK"};

GsfPtr<GsfInput> FindWorkbookStream(GsfInfile* root) {
  const int count = gsf_infile_num_children(root);
  for (const char* wanted : kStreamNames) {
    for (int i = 0; i < count; ++i) {
      const char* name = gsf_infile_name_by_index(root, i);
      if (name != nullptr && std::string_view(name) == wanted) {
        return GsfPtr<GsfInput>(gsf_infile_child_by_index(root, i));
      }
    }
  }
  return nullptr;
}

// The workbook stream of the compound file that `input` reads.
std::string StreamOf(GsfInput* input) {
  GError* raw_error = nullptr;
  GsfPtr<GsfInfile> root(gsf_infile_msole_new(input, &raw_error));
  std::unique_ptr<GError, GErrorFree> error(raw_error);
  if (!root) throw NotAWorkbookError("not a compound file");

  GsfPtr<GsfInput> stream = FindWorkbookStream(root.get());
  if (!stream) throw NotAWorkbookError("no workbook stream");

  // A stream cannot hold more than the file it lives in; a larger declared
  // size is damage, and is never allocated.
  const gsf_off_t size = gsf_input_size(stream.get());
  if (size < 0 || size > gsf_input_size(input)) {
    ThrowDamaged(0, "workbook stream larger than the file");
  }
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (size > 0 && gsf_input_read(stream.get(), static_cast<size_t>(size),
                                 reinterpret_cast<guint8*>(bytes.data())) == nullptr) {
    ThrowDamaged(0, "workbook stream cannot be read");
  }
  return bytes;
}

}  // namespace

std::string ReadWorkbookStream(std::string_view file) {
  InitGsfOnce();
  // The memory input borrows `file`; it lives only inside this call.
  GsfPtr<GsfInput> input(gsf_input_memory_new(reinterpret_cast<const guint8*>(file.data()),
                                              static_cast<gsf_off_t>(file.size()), FALSE));
  return StreamOf(input.get());
}

std::string ReadWorkbookStream(UniqueFd fd, const std::string& path) {
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
  GsfPtr<GsfInput> input(gsf_input_stdio_new_FILE(path.c_str(), file, FALSE));
  if (!input) {
    std::fclose(file);
    throw unreadable("the compound-file library cannot read it");
  }
  return StreamOf(input.get());
}

}  // namespace platform::workbook
