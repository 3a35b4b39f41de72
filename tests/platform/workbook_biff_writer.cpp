#include "tests/platform/workbook_biff_writer.h"

#include <gsf/gsf.h>

namespace workbook_test {

std::string Stream(const std::vector<Sheet>& sheets, const std::string& globals) {
  const auto bound_sheet = [](const Sheet& s, std::size_t offset) {
    return Rec(0x0085, U32(static_cast<std::uint32_t>(offset)) + char(s.hidden) + char(s.type) +
                           Compressed(s.name, 1));
  };
  std::size_t globals_size = Bof(5).size() + globals.size() + Eof().size();
  for (const Sheet& s : sheets) globals_size += bound_sheet(s, 0).size();
  std::string head = Bof(5) + globals, bodies;
  for (const Sheet& s : sheets) {
    head += bound_sheet(s, globals_size + bodies.size());
    if (s.type != 6) bodies += Bof(s.type == 2 ? 0x20 : 0x10) + s.records + Eof();
  }
  return head + Eof() + bodies;
}

std::string CompoundFile(const std::string& stream, const std::string& stream_name) {
  return CompoundFile({{stream_name, stream}});
}

std::string CompoundFile(const std::vector<std::pair<std::string, std::string>>& streams) {
  gsf_init();
  GsfOutput* memory = gsf_output_memory_new();
  GsfOutfile* ole = gsf_outfile_msole_new(memory);
  for (const auto& [name, stream] : streams) {
    GsfOutput* child = gsf_outfile_new_child(ole, name.c_str(), FALSE);
    gsf_output_write(child, stream.size(), reinterpret_cast<const guint8*>(stream.data()));
    gsf_output_close(child);
    g_object_unref(child);
  }
  gsf_output_close(GSF_OUTPUT(ole));
  g_object_unref(ole);
  const guint8* bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory));
  std::string file(reinterpret_cast<const char*>(bytes), gsf_output_size(memory));
  g_object_unref(memory);
  return file;
}

}  // namespace workbook_test
