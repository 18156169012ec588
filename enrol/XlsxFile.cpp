#include "enrol/XlsxFile.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include "enrol/ZipReader.h"

namespace {

// More columns or rows than a spreadsheet program can hold mean a broken file.
constexpr size_t kMaxColumns = 16384;
constexpr size_t kMaxRows = 1048576;

QByteArray View(const std::string& bytes) {
    return QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

bool Is(const QXmlStreamReader& xml, const char* localName) {
    return xml.name() == QLatin1StringView(localName);
}

std::string Attribute(const QXmlStreamReader& xml, const char* name) {
    return xml.attributes().value(QLatin1StringView(name)).toString().toStdString();
}

bool Failed(const QXmlStreamReader& xml, const std::string& part, std::string& error) {
    if (!xml.hasError()) {
        return false;
    }
    error = part + ": " + xml.errorString().toStdString() + " (第" +
            std::to_string(xml.lineNumber()) + "行)";
    return true;
}

// The text of the <t> elements of an <si> or <is> element, without phonetic runs; the reader
// is on its start and ends on its end.
std::string RichText(QXmlStreamReader& xml) {
    std::string text;
    int depth = 1;
    int phonetic = 0;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
            case QXmlStreamReader::StartElement:
                ++depth;
                if (Is(xml, "rPh")) {
                    ++phonetic;
                } else if (Is(xml, "t") && phonetic == 0) {
                    text +=
                        xml.readElementText(QXmlStreamReader::IncludeChildElements).toStdString();
                    --depth;
                }
                break;
            case QXmlStreamReader::EndElement:
                --depth;
                if (Is(xml, "rPh")) {
                    --phonetic;
                }
                break;
            default:
                break;
        }
    }
    return text;
}

bool ReadSharedStrings(const std::string& data, std::vector<std::string>& strings,
                       std::string& error) {
    QXmlStreamReader xml(View(data));
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && Is(xml, "si")) {
            strings.push_back(RichText(xml));
        }
    }
    return !Failed(xml, "sharedStrings.xml", error);
}

// Which cell formats (by index) show dates.
bool ReadDateStyles(const std::string& data, std::vector<bool>& dateStyles, std::string& error) {
    std::map<int, bool> customFormats;
    QXmlStreamReader xml(View(data));
    bool inCellFormats = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement && Is(xml, "cellXfs")) {
            inCellFormats = false;
        }
        if (token != QXmlStreamReader::StartElement) {
            continue;
        }
        if (Is(xml, "numFmt")) {
            customFormats[std::atoi(Attribute(xml, "numFmtId").c_str())] =
                IsDateFormatCode(Attribute(xml, "formatCode"));
        } else if (Is(xml, "cellXfs")) {
            inCellFormats = true;
        } else if (Is(xml, "xf") && inCellFormats) {
            const int id = std::atoi(Attribute(xml, "numFmtId").c_str());
            const auto custom = customFormats.find(id);
            // The built-in date formats, with those of the Chinese and Japanese locales.
            const bool builtIn =
                (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 50 && id <= 58);
            dateStyles.push_back(custom != customFormats.end() ? custom->second : builtIn);
        }
    }
    return !Failed(xml, "styles.xml", error);
}

// The first sheet's part name and whether dates count from 1904.
void FindFirstSheet(CZipReader& zip, std::string& part, bool& date1904) {
    part = "xl/worksheets/sheet1.xml";
    date1904 = false;
    std::string data;
    std::string error;
    if (!zip.Read("xl/workbook.xml", data, error)) {
        return;
    }
    std::string id;
    QXmlStreamReader workbook(View(data));
    while (!workbook.atEnd() && id.empty()) {
        if (workbook.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        if (Is(workbook, "workbookPr")) {
            const std::string value = Attribute(workbook, "date1904");
            date1904 = value == "1" || value == "true";
        } else if (Is(workbook, "sheet")) {
            for (const QXmlStreamAttribute& a : workbook.attributes()) {
                if (a.name() == QLatin1StringView("id")) {
                    id = a.value().toString().toStdString();
                }
            }
        }
    }
    if (id.empty() || !zip.Read("xl/_rels/workbook.xml.rels", data, error)) {
        return;
    }
    QXmlStreamReader rels(View(data));
    while (!rels.atEnd()) {
        if (rels.readNext() == QXmlStreamReader::StartElement && Is(rels, "Relationship") &&
            Attribute(rels, "Id") == id) {
            const std::string target = Attribute(rels, "Target");
            if (!target.empty()) {
                part = target.front() == '/' ? target.substr(1) : "xl/" + target;
            }
            return;
        }
    }
}

// The column (from 0) of a cell reference such as "AB12"; `next` where it names none.
size_t ColumnOf(const std::string& reference, size_t next) {
    size_t column = 0;
    size_t letters = 0;
    for (const char c : reference) {
        if (c < 'A' || c > 'Z') {
            break;
        }
        column = column * 26 + static_cast<size_t>(c - 'A' + 1);
        if (++letters > 3) {
            return kMaxColumns;
        }
    }
    return letters == 0 ? next : column - 1;
}

struct SheetContext {
    const std::vector<std::string>& strings;
    const std::vector<bool>& dateStyles;
    bool date1904;
};

// The text of a <c> element; the reader is on its start and ends on its end.
bool CellText(QXmlStreamReader& xml, const SheetContext& context, std::string& text,
              std::string& error) {
    const std::string type = Attribute(xml, "t");
    const std::string style = Attribute(xml, "s");
    std::string value;
    bool inline_ = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement && Is(xml, "c")) {
            break;
        }
        if (token != QXmlStreamReader::StartElement) {
            continue;
        }
        if (Is(xml, "v")) {
            value = xml.readElementText(QXmlStreamReader::IncludeChildElements).toStdString();
        } else if (Is(xml, "is")) {
            value = RichText(xml);
            inline_ = true;
        }
    }
    if (type == "s") {
        char* end = nullptr;
        const unsigned long index = std::strtoul(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || index >= context.strings.size()) {
            error = "工作表引用了不存在的共享字符串“" + value + "”";
            return false;
        }
        text = context.strings[index];
    } else if (type == "b") {
        text = value == "1" ? "TRUE" : "FALSE";
    } else if (type == "d") {
        text = value.substr(0, 10);  // an ISO 8601 date, its day
    } else if (inline_ || type == "str" || type == "e" || type == "inlineStr") {
        text = value;
    } else {
        text = value;
        const size_t s = static_cast<size_t>(std::atoi(style.c_str()));
        if (!value.empty() && s < context.dateStyles.size() && context.dateStyles[s]) {
            char* end = nullptr;
            const double serial = std::strtod(value.c_str(), &end);
            const std::string day = *end == '\0' ? SerialDateText(serial, context.date1904) : "";
            if (!day.empty()) {
                text = day;
            }
        }
    }
    return true;
}

bool ReadSheet(const std::string& data, const SheetContext& context, CSheetRows& rows,
               std::string& error, const CProgress& progress) {
    QXmlStreamReader xml(View(data));
    bool inRow = false;
    size_t nextColumn = 0;
    constexpr qint64 kProgressStep = 1 << 20;
    qint64 nextProgress = kProgressStep;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        if (progress && xml.characterOffset() >= nextProgress) {
            progress(static_cast<size_t>(xml.characterOffset()), data.size());
            nextProgress = xml.characterOffset() + kProgressStep;
        }
        if (Is(xml, "row")) {
            const long r = std::atol(Attribute(xml, "r").c_str());
            const size_t index = r > 0 ? static_cast<size_t>(r) - 1 : rows.size();
            if (index >= kMaxRows || index < rows.size()) {
                error = "工作表的行号无效: " + Attribute(xml, "r");
                return false;
            }
            while (rows.size() <= index) {
                rows.AddRow();
            }
            inRow = true;
            nextColumn = 0;
        } else if (Is(xml, "c") && inRow) {
            const size_t column = ColumnOf(Attribute(xml, "r"), nextColumn);
            if (column >= kMaxColumns || column < nextColumn) {
                error = "工作表的单元格位置无效: " + Attribute(xml, "r");
                return false;
            }
            std::string text;
            if (!CellText(xml, context, text, error)) {
                return false;
            }
            // Only the cell is kept, not the columns before it.
            rows.AddCell(column, text);
            nextColumn = column + 1;
        }
    }
    return !Failed(xml, "工作表", error);
}

}  // namespace

std::string SerialDateText(double serial, bool date1904) {
    if (!std::isfinite(serial) || serial < 1 || serial >= 2958466) {
        return std::string();
    }
    using namespace std::chrono;
    const int days = static_cast<int>(std::floor(serial));
    int year;
    unsigned month;
    unsigned day;
    if (date1904) {
        const year_month_day d{sys_days{1904y / January / 1} + std::chrono::days{days}};
        year = static_cast<int>(d.year());
        month = static_cast<unsigned>(d.month());
        day = static_cast<unsigned>(d.day());
    } else if (days == 60) {
        // The 1900 system counts a 29 February 1900 that was no day.
        year = 1900;
        month = 2;
        day = 29;
    } else {
        const sys_days epoch =
            days < 60 ? sys_days{1899y / December / 31} : sys_days{1899y / December / 30};
        const year_month_day d{epoch + std::chrono::days{days}};
        year = static_cast<int>(d.year());
        month = static_cast<unsigned>(d.month());
        day = static_cast<unsigned>(d.day());
    }
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", year, month, day);
    return text;
}

bool IsDateFormatCode(std::string_view code) {
    bool quoted = false;
    int brackets = 0;
    for (size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (quoted) {
            quoted = c != '"';
        } else if (c == '"') {
            quoted = true;
        } else if (c == '\\') {
            ++i;
        } else if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            brackets = brackets > 0 ? brackets - 1 : 0;
        } else if (brackets == 0 && (c == 'y' || c == 'Y' || c == 'd' || c == 'D')) {
            return true;
        }
    }
    return false;
}

bool ReadXlsx(std::string_view bytes, CSheetRows& rows, std::string& error,
              const CProgress& progress) {
    rows.clear();
    CZipReader zip(bytes);
    if (!zip.IsOpen()) {
        error = "文件不是可以读取的xlsx工作簿(zip压缩包无法打开)。";
        return false;
    }
    std::string part;
    bool date1904 = false;
    FindFirstSheet(zip, part, date1904);
    std::vector<std::string> strings;
    std::vector<bool> dateStyles;
    std::string data;
    if (zip.Read("xl/sharedStrings.xml", data, error)) {
        if (!ReadSharedStrings(data, strings, error)) {
            return false;
        }
    } else if (!error.empty()) {
        return false;
    }
    if (zip.Read("xl/styles.xml", data, error)) {
        if (!ReadDateStyles(data, dateStyles, error)) {
            return false;
        }
    } else if (!error.empty()) {
        return false;
    }
    if (!zip.Read(part, data, error)) {
        if (error.empty()) {
            error = "工作簿中没有工作表(" + part + ")。";
        }
        return false;
    }
    const SheetContext context{strings, dateStyles, date1904};
    if (!ReadSheet(data, context, rows, error, progress)) {
        rows.clear();
        return false;
    }
    return true;
}
