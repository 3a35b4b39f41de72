#include "platform/workbook/internal/gsf_library.h"

#include <dlfcn.h>

#include <mutex>
#include <optional>
#include <string>

#include "platform/core/error.h"

namespace platform::workbook {

namespace {

// GSF_SONAME: the library's file name as the build found it (CMake reads it
// from the library it would have linked).
constexpr const char* kLibrary = GSF_SONAME;

// The symbol `name` of `library`, whose type is that of `T`.
template <typename T>
void Load(void* library, const char* name, T* function, std::string* missing) {
  *function = reinterpret_cast<T>(::dlsym(library, name));
  if (*function == nullptr && missing->empty()) *missing = name;
}

std::optional<GsfLibrary> LoadLibrary(std::string* failure) {
  // Never unloaded: GLib's types stay registered for the process.
  void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    *failure = ::dlerror();
    return std::nullopt;
  }
  GsfLibrary gsf{};
  std::string missing;
#define GSF_LOAD(name) Load(library, #name, &gsf.name, &missing)
  GSF_LOAD(gsf_init);
  GSF_LOAD(g_log_set_default_handler);
  GSF_LOAD(g_object_unref);
  GSF_LOAD(g_error_free);
  GSF_LOAD(gsf_input_memory_new);
  GSF_LOAD(gsf_input_stdio_new_FILE);
  GSF_LOAD(gsf_input_size);
  GSF_LOAD(gsf_input_seek);
  GSF_LOAD(gsf_input_read);
  GSF_LOAD(gsf_infile_msole_new);
  GSF_LOAD(gsf_infile_num_children);
  GSF_LOAD(gsf_infile_name_by_index);
  GSF_LOAD(gsf_infile_child_by_index);
#undef GSF_LOAD
  if (!missing.empty()) {
    *failure = "no symbol " + missing;
    return std::nullopt;
  }
  return gsf;
}

}  // namespace

const GsfLibrary& Gsf() {
  static std::once_flag once;
  static std::optional<GsfLibrary> gsf;
  static std::string failure;
  std::call_once(once, [] { gsf = LoadLibrary(&failure); });
  if (!gsf) {
    throw Error(platform::err::kDeviceIoError)
        .AddDetail("library", kLibrary)
        .AddDetail("system", failure);
  }
  return *gsf;
}

}  // namespace platform::workbook
