#include "history/HistoryExport.h"

#include <cerrno>

#include "base/PosixIo.h"
#include "base/SafeFile.h"
#include "history/HistoryView.h"
#include "store/HistoryEntry.h"

namespace {

// The text is written in pieces of about this size, so that a million rows never stand in
// memory at once.
constexpr size_t kChunkBytes = 1 << 20;

// Calls `flush` with the text every kChunkBytes and once at the end.
template <class Flush>
bool ProduceCsv(const ExportTable& table, std::string& out, Flush flush) {
    out.append(kUtf8Bom);
    AppendCsvRow(out, table.titles);
    std::vector<std::string> cells;
    for (size_t row = 0; row < table.rowCount; ++row) {
        table.fillRow(row, cells);
        AppendCsvRow(out, cells);
        if (out.size() >= kChunkBytes && !flush(out)) {
            return false;
        }
    }
    return flush(out);
}

}  // namespace

void AppendCsvField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(field);
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
}

void AppendCsvRow(std::string& out, const std::vector<std::string>& cells) {
    for (size_t c = 0; c < cells.size(); ++c) {
        if (c > 0) {
            out += ',';
        }
        AppendCsvField(out, cells[c]);
    }
    out += "\r\n";
}

std::string CsvText(const ExportTable& table) {
    std::string text;
    ProduceCsv(table, text, [](std::string&) { return true; });  // the text keeps growing
    return text;
}

bool WriteCsvFile(const std::string& path, const ExportTable& table, std::string& error) {
    return SaveFileSafely(
        path, std::string(),
        [&table](int fd, std::string& why) {
            std::string text;
            text.reserve(kChunkBytes + 4096);
            return ProduceCsv(table, text, [fd, &why](std::string& piece) {
                if (!WriteAll(fd, piece.data(), piece.size())) {
                    why = ErrnoText(errno);
                    return false;
                }
                piece.clear();
                return true;
            });
        },
        error);
}

const std::vector<std::string>& HistoryColumnTitles() {
    static const std::vector<std::string> titles = {"时间", "工作站", "操作",
                                                    "卡号", "姓名",   "内容"};
    return titles;
}

ExportTable HistoryExportTable(const CHistoryView& view, const std::vector<uint32_t>& rows) {
    ExportTable table;
    table.titles = HistoryColumnTitles();
    table.titles.push_back("序号");
    table.titles.push_back("校验值");
    table.numeric.assign(table.titles.size(), false);
    table.numeric[6] = true;
    table.rowCount = rows.size();
    table.fillRow = [&view, rows](size_t index, std::vector<std::string>& cells) {
        const uint32_t row = rows[index];
        cells.resize(8);
        cells[0] = view.TimeText(row);
        cells[1] = view.Desk(row);
        cells[2] = HistoryOperationText(view.Operation(row));
        cells[3] = view.CardNo(row);
        cells[4] = view.Name(row);
        cells[5] = view.ContentText(row);
        cells[6] = std::to_string(view.Number(row));
        cells[7] = HexText(view.Hash(row), CHistoryFile::kHashSize);
    };
    return table;
}

std::string HexText(const uint8_t* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text(size * 2, '0');
    for (size_t i = 0; i < size; ++i) {
        text[2 * i] = kDigits[data[i] >> 4];
        text[2 * i + 1] = kDigits[data[i] & 0x0f];
    }
    return text;
}
