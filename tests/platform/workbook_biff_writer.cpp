#include "tests/platform/workbook_biff_writer.h"

#include <gsf/gsf.h>

#include <cstring>

namespace workbook_test {

using namespace std::string_literals;

std::string U16(std::uint16_t v) {
  return {char(v & 0xFF), char(v >> 8)};
}
std::string U32(std::uint32_t v) {
  return U16(v & 0xFFFF) + U16(v >> 16);
}
std::string F64(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return U32(static_cast<std::uint32_t>(bits)) + U32(static_cast<std::uint32_t>(bits >> 32));
}
std::string Rec(std::uint16_t type, const std::string& payload) {
  return U16(type) + U16(static_cast<std::uint16_t>(payload.size())) + payload;
}
std::string Bof(std::uint16_t substream_type, std::uint16_t version) {
  return Rec(0x0809, U16(version) + U16(substream_type) + std::string(12, '\0'));
}
std::string Eof() {
  return Rec(0x000A, "");
}

static std::string Count(std::size_t n, int count_bytes) {
  return count_bytes == 1 ? std::string(1, char(n)) : U16(static_cast<std::uint16_t>(n));
}
std::string Compressed(const std::string& latin1, int count_bytes) {
  return Count(latin1.size(), count_bytes) + '\0' + latin1;
}
std::string CellHead(int row, int column) {
  return U16(static_cast<std::uint16_t>(row - 1)) + U16(static_cast<std::uint16_t>(column - 1)) +
         U16(15);
}
std::string Number(int row, int column, double v) {
  return Rec(0x0203, CellHead(row, column) + F64(v));
}
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
