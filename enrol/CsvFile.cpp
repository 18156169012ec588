#include "enrol/CsvFile.h"

#include "base/CodePage.h"

bool DecodeText(std::string_view bytes, std::string& utf8, TextEncoding& encoding,
                std::string& error) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    const bool bom = bytes.substr(0, kBom.size()) == kBom;
    if (bom) {
        bytes.remove_prefix(kBom.size());
    }
    if (bom || IsUtf8(bytes)) {
        if (!IsUtf8(bytes)) {
            error = "文件以UTF-8标记开头,但内容不是UTF-8文本。";
            return false;
        }
        utf8.assign(bytes);
        encoding = TextEncoding::Utf8;
        return true;
    }
    if (!CodePageToUtf8(bytes, utf8)) {
        error = "文件既不是UTF-8文本,也不是GB18030(GBK)文本。";
        return false;
    }
    encoding = TextEncoding::Gb18030;
    return true;
}

bool ParseCsv(std::string_view text, CSheetRows& rows, std::string& error,
              const CProgress& progress) {
    rows.clear();
    std::string cell;
    size_t column = 0;
    bool rowStarted = false;  // the row has a cell
    bool inQuotes = false;
    bool cellStarted = false;  // the cell has a character or an opening quote
    size_t quoteRow = 0;
    // Cells past the kept columns are only counted: their text is not collected.
    const auto add = [&](char c) {
        if (column < CSheetRows::kMaxColumns || cell.empty()) {
            cell += c;
        }
    };
    const auto endCell = [&] {
        if (!rowStarted) {
            rows.AddRow();
            rowStarted = true;
        }
        rows.AddCell(column++, cell);
        cell.clear();
        cellStarted = false;
    };
    const auto endRow = [&] {
        endCell();
        column = 0;
        rowStarted = false;
    };
    constexpr size_t kProgressStep = 1u << 20;
    size_t nextProgress = kProgressStep;
    for (size_t i = 0; i < text.size(); ++i) {
        if (progress && i >= nextProgress) {
            progress(i, text.size());
            nextProgress = i + kProgressStep;
        }
        const char c = text[i];
        if (inQuotes) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    add('"');
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else if (c == '\r') {
                add('\n');
                if (i + 1 < text.size() && text[i + 1] == '\n') {
                    ++i;
                }
            } else {
                add(c);
            }
            continue;
        }
        switch (c) {
            case ',':
                endCell();
                break;
            case '\r':
                if (i + 1 < text.size() && text[i + 1] == '\n') {
                    ++i;
                }
                endRow();
                break;
            case '\n':
                endRow();
                break;
            case '"':
                if (!cellStarted) {
                    inQuotes = true;
                    cellStarted = true;
                    quoteRow = rows.size() + (rowStarted ? 0 : 1);
                    break;
                }
                [[fallthrough]];
            default:
                add(c);
                cellStarted = true;
        }
    }
    if (inQuotes) {
        error = "第" + std::to_string(quoteRow) + "行有一个引号没有结束。";
        rows.clear();
        return false;
    }
    if (cellStarted || rowStarted) {
        endRow();
    }
    return true;
}

bool ReadCsv(std::string_view bytes, CSheetRows& rows, std::string& error,
             const CProgress& progress) {
    // UTF-8 is parsed where it lies; only GB18030 text is converted first.
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    const std::string_view text =
        bytes.substr(0, kBom.size()) == kBom ? bytes.substr(kBom.size()) : bytes;
    if (IsUtf8(text)) {
        return ParseCsv(text, rows, error, progress);
    }
    std::string utf8;
    TextEncoding encoding;
    return DecodeText(bytes, utf8, encoding, error) && ParseCsv(utf8, rows, error, progress);
}

std::string CsvLine(const std::vector<std::string>& cells) {
    std::string line;
    for (size_t c = 0; c < cells.size(); ++c) {
        if (c > 0) {
            line += ',';
        }
        const std::string& cell = cells[c];
        const bool quote = cell.find_first_of(",\"\r\n") != std::string::npos ||
                           (!cell.empty() && (cell.front() == ' ' || cell.back() == ' '));
        if (!quote) {
            line += cell;
            continue;
        }
        line += '"';
        for (const char ch : cell) {
            if (ch == '"') {
                line += '"';
            }
            line += ch;
        }
        line += '"';
    }
    line += "\r\n";
    return line;
}
