#include "platform/workbook/internal/sheet_cells.h"

#include <optional>

#include "platform/workbook/internal/biff_records.h"
#include "platform/workbook/internal/byte_order.h"
#include "platform/workbook/internal/record_cursor.h"
#include "platform/workbook/internal/rk_number.h"
#include "platform/workbook/internal/segmented_reader.h"
#include "platform/workbook/internal/substream.h"
#include "platform/workbook/internal/workbook_error.h"

namespace platform::workbook {

namespace {

class SheetReader {
 public:
  SheetReader(std::string_view stream, std::size_t offset, std::size_t shared_count,
              std::vector<std::string>* texts, CellTable* cells)
      : cursor_(stream, offset), shared_count_(shared_count), texts_(texts), cells_(cells) {}

  SheetCells Read() {
    if (cursor_.AtEnd()) ThrowDamaged(cursor_.offset(), "sheet offset outside the stream");
    CheckBiff8Bof(cursor_.Next());
    for (;;) {
      if (cursor_.AtEnd()) ThrowDamaged(cursor_.offset(), "sheet without EOF");
      const Record r = cursor_.Next();
      if (r.type == biff::kEof) return cells_->EndSheet();
      ReadRecord(r);
    }
  }

 private:
  void ReadRecord(const Record& r) {
    switch (r.type) {
      case biff::kBof: SkipEmbeddedSubstream(&cursor_); break;
      case biff::kNumber:
        Need(r, 14);
        Store(r, LoadU16(r.payload.data() + 2), Number(LoadDouble(r.payload.data() + 6)));
        break;
      case biff::kRk:
        Need(r, 10);
        Store(r, LoadU16(r.payload.data() + 2), Number(DecodeRk(LoadU32(r.payload.data() + 6))));
        break;
      case biff::kMulRk: ReadMulRk(r); break;
      case biff::kBoolErr: ReadBoolErr(r); break;
      case biff::kFormula:
      case biff::kFormulaBiff3:
      case biff::kFormulaBiff4: ReadFormula(r); break;
      case biff::kLabelSst: ReadLabelSst(r); break;
      case biff::kLabel:
      case biff::kRString: ReadLabel(r); break;
      case biff::kBlank:
      case biff::kMulBlank:
      case biff::kBlankBiff2:
        break;  // formatted cells without a value
      // Reading these by the BIFF8 layout would give wrong values; skipping
      // them would lose cells without a word.
      case biff::kIntegerBiff2:
      case biff::kNumberBiff2:
      case biff::kLabelBiff2:
      case biff::kBoolErrBiff2: ThrowDamaged(r.offset, "BIFF2 cell record in a BIFF8 sheet");
      default: break;  // DIMENSIONS, formatting, ...: no cell
    }
  }

  static void Need(const Record& r, std::size_t size) {
    if (r.payload.size() < size) ThrowDamaged(r.offset, "cell record too short");
  }

  void Store(const Record& r, std::uint16_t column, StoredCell cell) {
    if (column >= biff::kMaxColumns) ThrowDamaged(r.offset, "cell column outside the sheet");
    cell.key = CellKey(LoadU16(r.payload.data()), column);
    cells_->Add(cell);
  }

  static StoredCell Number(double v) {
    StoredCell c;
    c.number = v;
    return c;
  }
  static StoredCell Coded(StoredKind kind, std::uint8_t code) {
    StoredCell c;
    c.kind = kind;
    c.code = code;
    return c;
  }
  static StoredCell TextAt(std::size_t index) {
    StoredCell c;
    c.kind = StoredKind::kText;
    c.text = static_cast<std::uint32_t>(index);
    return c;
  }
  StoredCell NewText(std::string text) {
    texts_->push_back(std::move(text));
    return TextAt(texts_->size() - 1);
  }

  void ReadMulRk(const Record& r) {
    // row, first column, (xf, rk) per cell, last column.
    Need(r, 12);
    const char* p = r.payload.data();
    const std::size_t count = (r.payload.size() - 6) / 6;
    const std::uint16_t first = LoadU16(p + 2);
    const std::uint16_t last = LoadU16(p + r.payload.size() - 2);
    if ((r.payload.size() - 6) % 6 != 0 || last < first || last - first + 1u != count) {
      ThrowDamaged(r.offset, "MULRK column range does not match its cells");
    }
    for (std::size_t i = 0; i < count; ++i) {
      Store(r, static_cast<std::uint16_t>(first + i), Number(DecodeRk(LoadU32(p + 6 + 6 * i))));
    }
  }

  void ReadBoolErr(const Record& r) {
    // Some writers add a ninth byte; only the first eight mean anything.
    Need(r, 8);
    const auto v = static_cast<std::uint8_t>(r.payload[6]);
    const bool is_error = r.payload[7] != 0;
    Store(r, LoadU16(r.payload.data() + 2),
          Coded(is_error ? StoredKind::kError : StoredKind::kBoolean, is_error ? v : v != 0));
  }

  void ReadFormula(const Record& r) {
    Need(r, 14);
    const char* result = r.payload.data() + 6;
    const std::uint16_t column = LoadU16(r.payload.data() + 2);
    if (LoadU16(result + 6) != biff::kFormulaNonNumber) {
      return Store(r, column, Number(LoadDouble(result)));
    }
    switch (static_cast<std::uint8_t>(result[0])) {
      case biff::kFormulaText: return Store(r, column, NewText(ReadFormulaString(r)));
      case biff::kFormulaBoolean:
        return Store(r, column, Coded(StoredKind::kBoolean, result[2] != 0));
      case biff::kFormulaError:
        return Store(r, column, Coded(StoredKind::kError, static_cast<std::uint8_t>(result[2])));
      case biff::kFormulaEmptyText: return Store(r, column, NewText(std::string()));
      default: ThrowDamaged(r.offset, "unknown FORMULA result type");
    }
  }

  // The text result follows in a STRING record, possibly after the shared,
  // array or table formula that the FORMULA refers to.
  std::string ReadFormulaString(const Record& formula) {
    for (;;) {
      if (cursor_.AtEnd()) break;
      const Record r = cursor_.Next();
      if (r.type == biff::kString) {
        std::vector<std::string_view> segments{r.payload};
        for (std::string_view c : cursor_.TakeContinues()) segments.push_back(c);
        return SegmentedReader(std::move(segments), r.offset).UnicodeString(2);
      }
      if (r.type != biff::kSharedFormula && r.type != biff::kArray && r.type != biff::kTableOp &&
          r.type != biff::kContinue) {
        break;
      }
    }
    ThrowDamaged(formula.offset, "text FORMULA without its STRING record");
  }

  void ReadLabelSst(const Record& r) {
    Need(r, 10);
    const std::uint32_t index = LoadU32(r.payload.data() + 6);
    if (index >= shared_count_) ThrowDamaged(r.offset, "LABELSST index outside the SST");
    Store(r, LoadU16(r.payload.data() + 2), TextAt(index));
  }

  void ReadLabel(const Record& r) {
    Need(r, 6);
    std::vector<std::string_view> segments{r.payload.substr(6)};
    for (std::string_view c : cursor_.TakeContinues()) segments.push_back(c);
    // RSTRING's formatting runs after the string need no reading.
    Store(r, LoadU16(r.payload.data() + 2),
          NewText(SegmentedReader(std::move(segments), r.offset).UnicodeString(2)));
  }

  RecordCursor cursor_;
  std::size_t shared_count_;
  std::vector<std::string>* texts_;
  CellTable* cells_;
};

}  // namespace

SheetCells ReadSheetCells(std::string_view stream, std::size_t offset, std::size_t shared_count,
                          std::vector<std::string>* texts, CellTable* cells) {
  return SheetReader(stream, offset, shared_count, texts, cells).Read();
}

}  // namespace platform::workbook
