#include "sheet/XlsxWriter.h"

#include <minizip/zip.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "base/PosixIo.h"

namespace {

// Sheet XML is deflated in pieces of about this size.
constexpr size_t kFlushBytes = 256 * 1024;
// Without ZIP64 an entry holds at most 4 GiB.
constexpr uint64_t kMaxEntryBytes = 0xFFFFFFFFull;

constexpr std::string_view kXmlHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

constexpr std::string_view kContentTypes =
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" "
    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
    "<Override PartName=\"/xl/workbook.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
    "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
    "<Override PartName=\"/xl/styles.xml\" "
    "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
    "</Types>";

constexpr std::string_view kPackageRels =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
    "Target=\"xl/workbook.xml\"/></Relationships>";

constexpr std::string_view kWorkbookRels =
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
    "Target=\"worksheets/sheet1.xml\"/>"
    "<Relationship Id=\"rId2\" "
    "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
    "Target=\"styles.xml\"/></Relationships>";

constexpr std::string_view kStyles =
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/>"
    "</font></fonts>"
    "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
    "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
    "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"
    "</cellStyleXfs>"
    "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" "
    "xfId=\"0\"/></cellXfs>"
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
    "</cellStyles></styleSheet>";

constexpr std::string_view kSheetHead =
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
    "<sheetData>";
constexpr std::string_view kSheetTail = "</sheetData></worksheet>";

// The length of the valid UTF-8 sequence at the start of `s` (of a scalar value, not a
// surrogate, in its shortest form), or 0.
size_t Utf8Length(std::string_view s) {
    const auto byte = [&s](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    uint32_t min = 0;
    uint32_t value = 0;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80, value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800, value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000, value = lead & 0x07u;
    } else {
        return 0;
    }
    if (s.size() < length) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(i) & 0x3Fu);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    return value < min || value > 0x10FFFF || surrogate ? 0 : length;
}

// Appends `text` as XML character data: markup characters as entities, control characters
// (which XML cannot carry) as the _xHHHH_ escapes that spreadsheet programs read back, bytes
// that are no UTF-8 as U+FFFD.
void AppendEscaped(std::string& out, std::string_view text) {
    while (!text.empty()) {
        const char c = text.front();
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80) {
            const size_t length = Utf8Length(text);
            if (length == 0) {
                out += "\xEF\xBF\xBD";
                text.remove_prefix(1);
            } else {
                out.append(text.substr(0, length));
                text.remove_prefix(length);
            }
            continue;
        }
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '"') {
            out += "&quot;";
        } else if (u < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            char escape[8];
            std::snprintf(escape, sizeof escape, "_x%04X_", u);
            out += escape;
        } else {
            out += c;
        }
        text.remove_prefix(1);
    }
}

void AppendColumnName(std::string& out, uint32_t column) {
    char letters[4];
    int n = 0;
    for (uint32_t c = column + 1; c > 0 && n < 4; c = (c - 1) / 26) {
        letters[n++] = static_cast<char>('A' + (c - 1) % 26);
    }
    while (n > 0) {
        out += letters[--n];
    }
}

void AppendNumber(std::string& out, uint64_t n) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end);
}

// An entry stamped with the local time of writing. Left zero, the stamp would read as day 0
// of January 1980, which is no date: readers reject it or show nonsense. The archive's
// date format starts in 1980 and ends in 2107; a clock outside that range gives 1980-01-01.
zip_fileinfo EntryInfo() {
    zip_fileinfo info{};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr || local.tm_year < 80 || local.tm_year > 207) {
        local = std::tm{};
        local.tm_mday = 1;
        local.tm_year = 80;
    }
    info.tmz_date = {static_cast<uInt>(std::min(local.tm_sec, 59)),
                     static_cast<uInt>(local.tm_min),
                     static_cast<uInt>(local.tm_hour),
                     static_cast<uInt>(local.tm_mday),
                     static_cast<uInt>(local.tm_mon),
                     static_cast<uInt>(local.tm_year + 1900)};
    return info;
}

}  // namespace

CXlsxWriter::~CXlsxWriter() {
    Abandon();
}

void CXlsxWriter::Abandon() {
    if (m_zip != nullptr) {
        zipClose(static_cast<zipFile>(m_zip), nullptr);
        m_zip = nullptr;
    }
    m_file.Discard();
    m_bSheet = false;
    m_nRow = 0;
    m_nColumn = 0;
    m_bRowOpen = false;
    m_nSheetBytes = 0;
    m_xml.clear();
}

bool CXlsxWriter::Fail(std::string& error, const std::string& what) {
    Abandon();  // at once: on a full disk the temporary file's space is given back
    m_strFailure = what;
    error = what;
    return false;
}

bool CXlsxWriter::Create(const std::string& path, std::string& error) {
    Abandon();
    m_strFailure.clear();
    m_strPath = path;
    if (!m_file.Open(path, error)) {
        return false;
    }
    m_zip = zipOpen64(m_file.TempPath().c_str(), APPEND_STATUS_CREATE);
    if (m_zip == nullptr) {
        error = "无法创建工作簿 " + path + ": " + ErrnoText(errno);
        m_file.Discard();
        return false;
    }
    return true;
}

bool CXlsxWriter::IsSheetName(std::string_view name) {
    size_t characters = 0;
    for (size_t i = 0; i < name.size(); i += Utf8Length(name.substr(i))) {
        if (Utf8Length(name.substr(i)) == 0) {
            return false;
        }
        ++characters;
    }
    return characters >= 1 && characters <= 31 && name.find_first_of("[]:*?/\\") == name.npos &&
           name.front() != '\'' && name.back() != '\'';
}

bool CXlsxWriter::AddSheet(std::string_view name, std::string& error) {
    if (m_bSheet) {
        error = "工作簿中已有表格";
        return false;
    }
    if (m_zip == nullptr) {
        error = m_strFailure.empty() ? "工作簿没有打开" : m_strFailure;
        return false;
    }
    if (!IsSheetName(name)) {
        error = "无法创建表格 " + std::string(name);
        return false;
    }
    const zip_fileinfo info = EntryInfo();
    if (zipOpenNewFileInZip64(static_cast<zipFile>(m_zip), "xl/worksheets/sheet1.xml", &info,
                              nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, Z_BEST_SPEED,
                              0) != ZIP_OK) {
        return Fail(error, "无法写入工作簿 " + m_strPath + ": " + ErrnoText(errno));
    }
    m_bSheet = true;
    m_strSheetName = name;
    m_xml.reserve(kFlushBytes + 64 * 1024);
    m_xml = kXmlHead;
    m_xml += kSheetHead;
    return true;
}

bool CXlsxWriter::CellStart(const char* type) {
    if (m_nRow >= kMaxRows) {
        return false;  // EndRow refuses the row
    }
    if (!m_bRowOpen) {
        m_xml += "<row r=\"";
        AppendNumber(m_xml, m_nRow + 1);
        m_xml += "\">";
        m_bRowOpen = true;
    }
    m_xml += "<c r=\"";
    AppendColumnName(m_xml, m_nColumn);
    AppendNumber(m_xml, m_nRow + 1);
    m_xml += type;
    return true;
}

void CXlsxWriter::Text(std::string_view utf8) {
    if (!utf8.empty() && CellStart("\" t=\"inlineStr\"><is><t")) {
        const bool edges = utf8.front() == ' ' || utf8.back() == ' ' || utf8.front() == '\t' ||
                           utf8.back() == '\t' || utf8.front() == '\n' || utf8.back() == '\n';
        m_xml += edges ? " xml:space=\"preserve\">" : ">";
        AppendEscaped(m_xml, utf8);
        m_xml += "</t></is></c>";
    }
    ++m_nColumn;
}

void CXlsxWriter::Number(double value) {
    if (CellStart("\"><v>")) {
        char digits[32];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        m_xml.append(digits, end);
        m_xml += "</v></c>";
    }
    ++m_nColumn;
}

bool CXlsxWriter::EndRow(std::string& error) {
    if (!m_strFailure.empty()) {
        error = m_strFailure;
        return false;
    }
    if (!m_bSheet) {
        error = "工作簿中没有表格";
        return false;
    }
    if (m_nRow >= kMaxRows) {
        error = "表格最多只能有1048576行";
        return false;
    }
    if (m_bRowOpen) {
        m_xml += "</row>";
    }
    m_bRowOpen = false;
    m_nColumn = 0;
    ++m_nRow;
    return m_xml.size() < kFlushBytes || Flush(error);
}

bool CXlsxWriter::Flush(std::string& error) {
    m_nSheetBytes += m_xml.size();
    if (m_nSheetBytes > kMaxEntryBytes) {
        return Fail(error, "工作簿超过4 GiB,无法写入");
    }
    if (zipWriteInFileInZip(static_cast<zipFile>(m_zip), m_xml.data(),
                            static_cast<unsigned>(m_xml.size())) != ZIP_OK) {
        return Fail(error, "无法写入工作簿 " + m_strPath + ": " + ErrnoText(errno));
    }
    m_xml.clear();
    return true;
}

bool CXlsxWriter::WriteEntry(const char* name, std::string_view content, std::string& error) {
    const zip_fileinfo info = EntryInfo();
    auto* zip = static_cast<zipFile>(m_zip);
    std::string whole(kXmlHead);
    whole += content;
    if (zipOpenNewFileInZip64(zip, name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                              Z_BEST_SPEED, 0) != ZIP_OK ||
        zipWriteInFileInZip(zip, whole.data(), static_cast<unsigned>(whole.size())) != ZIP_OK ||
        zipCloseFileInZip(zip) != ZIP_OK) {
        return Fail(error, "无法写入工作簿 " + m_strPath + ": " + ErrnoText(errno));
    }
    return true;
}

bool CXlsxWriter::Finish(std::string& error) {
    if (m_zip == nullptr) {
        error = m_strFailure.empty() ? "工作簿没有打开" : m_strFailure;
        return false;
    }
    if (!m_bSheet && !AddSheet("Sheet1", error)) {
        return false;
    }
    if (m_bRowOpen) {
        m_xml += "</row>";
        m_bRowOpen = false;
    }
    m_xml += kSheetTail;
    std::string workbook =
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
        "<sheets><sheet name=\"";
    AppendEscaped(workbook, m_strSheetName);
    workbook += "\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
    auto* zip = static_cast<zipFile>(m_zip);
    if (!Flush(error)) {
        return false;
    }
    if (zipCloseFileInZip(zip) != ZIP_OK) {
        return Fail(error, "无法写入工作簿 " + m_strPath + ": " + ErrnoText(errno));
    }
    if (!WriteEntry("[Content_Types].xml", kContentTypes, error) ||
        !WriteEntry("_rels/.rels", kPackageRels, error) ||
        !WriteEntry("xl/workbook.xml", workbook, error) ||
        !WriteEntry("xl/_rels/workbook.xml.rels", kWorkbookRels, error) ||
        !WriteEntry("xl/styles.xml", kStyles, error)) {
        return false;
    }
    // The archive's directory goes last; only then is the file whole, and only a whole file,
    // flushed to disk, takes the target's name.
    const int closed = zipClose(zip, nullptr);
    m_zip = nullptr;
    if (closed != ZIP_OK) {
        return Fail(error, "无法写入工作簿 " + m_strPath + ": " + ErrnoText(errno));
    }
    std::string why;
    if (!m_file.Commit(why)) {
        return Fail(error, why);
    }
    m_bSheet = false;
    return true;
}
