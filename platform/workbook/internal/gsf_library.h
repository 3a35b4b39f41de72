// The compound-file library (libgsf, with GLib), loaded when the first
// workbook is opened rather than when the program starts.
//
// Why: linked in, it and what it pulls in (GLib, GIO, libxml2, ICU) cost
// every start of every program about 7 ms of loading, relocating and
// initialising on the machines the programs run on, a third of a small
// CatalogSync INSTALL's own overhead, while only a workbook import uses it.
#pragma once

#include <gsf/gsf.h>

namespace platform::workbook {

// The library's functions the reader calls, by their own names.
struct GsfLibrary {
  decltype(&::gsf_init) gsf_init;
  decltype(&::g_log_set_default_handler) g_log_set_default_handler;
  decltype(&::g_object_unref) g_object_unref;
  decltype(&::g_error_free) g_error_free;
  decltype(&::gsf_input_memory_new) gsf_input_memory_new;
  decltype(&::gsf_input_stdio_new_FILE) gsf_input_stdio_new_FILE;
  decltype(&::gsf_input_size) gsf_input_size;
  decltype(&::gsf_input_seek) gsf_input_seek;
  decltype(&::gsf_input_read) gsf_input_read;
  decltype(&::gsf_infile_msole_new) gsf_infile_msole_new;
  decltype(&::gsf_infile_num_children) gsf_infile_num_children;
  decltype(&::gsf_infile_name_by_index) gsf_infile_name_by_index;
  decltype(&::gsf_infile_child_by_index) gsf_infile_child_by_index;
};

// Loads the library on the first call (thread-safe) and answers it; the
// library stays loaded. Throws platform::Error 57 with `library` and
// `system` details when it cannot be loaded (the package depends on it, so
// only a broken installation sees this), on every call.
const GsfLibrary& Gsf();

}  // namespace platform::workbook
