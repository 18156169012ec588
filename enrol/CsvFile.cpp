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

bool ParseCsv(std::string_view text, CSheetRows& rows, std::string& error) {
    rows.clear();
    CSheetRow row;
    std::string cell;
    bool inQuotes = false;
    bool cellStarted = false;  // the cell has a character or an opening quote
    size_t quoteRow = 0;
    const auto endCell = [&] {
        row.push_back(std::move(cell));
        cell.clear();
        cellStarted = false;
    };
    const auto endRow = [&] {
        endCell();
        rows.push_back(std::move(row));
        row.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inQuotes) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    cell += '"';
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else if (c == '\r') {
                cell += '\n';
                if (i + 1 < text.size() && text[i + 1] == '\n') {
                    ++i;
                }
            } else {
                cell += c;
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
                    quoteRow = rows.size() + 1;
                    break;
                }
                [[fallthrough]];
            default:
                cell += c;
                cellStarted = true;
        }
    }
    if (inQuotes) {
        error = "第" + std::to_string(quoteRow) + "行有一个引号没有结束。";
        rows.clear();
        return false;
    }
    if (cellStarted || !row.empty()) {
        endRow();
    }
    return true;
}

bool ReadCsv(std::string_view bytes, CSheetRows& rows, std::string& error) {
    std::string text;
    TextEncoding encoding;
    return DecodeText(bytes, text, encoding, error) && ParseCsv(text, rows, error);
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
