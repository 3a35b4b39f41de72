#include "platform/workbook/internal/compound_file.h"

#include <gsf/gsf.h>

#include <array>
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

void InitGsfOnce() {
  static std::once_flag once;
  std::call_once(once, [] { gsf_init(); });
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

}  // namespace

std::string ReadWorkbookStream(std::string_view file) {
  InitGsfOnce();
  // The memory input borrows `file`; it lives only inside this call.
  GsfPtr<GsfInput> input(gsf_input_memory_new(reinterpret_cast<const guint8*>(file.data()),
                                              static_cast<gsf_off_t>(file.size()), FALSE));
  GError* raw_error = nullptr;
  GsfPtr<GsfInfile> root(gsf_infile_msole_new(input.get(), &raw_error));
  std::unique_ptr<GError, GErrorFree> error(raw_error);
  if (!root) throw NotAWorkbookError("not a compound file");

  GsfPtr<GsfInput> stream = FindWorkbookStream(root.get());
  if (!stream) throw NotAWorkbookError("no workbook stream");

  // A stream cannot hold more than the file it lives in; a larger declared
  // size is damage, and is never allocated.
  const gsf_off_t size = gsf_input_size(stream.get());
  if (size < 0 || static_cast<std::size_t>(size) > file.size()) {
    ThrowDamaged(0, "workbook stream larger than the file");
  }
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (size > 0 && gsf_input_read(stream.get(), static_cast<size_t>(size),
                                 reinterpret_cast<guint8*>(bytes.data())) == nullptr) {
    ThrowDamaged(0, "workbook stream cannot be read");
  }
  return bytes;
}

}  // namespace platform::workbook
