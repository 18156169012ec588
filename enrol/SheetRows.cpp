#include "enrol/SheetRows.h"

#include "enrol/CsvFile.h"
#include "enrol/XlsxFile.h"

bool ReadResidentList(std::string_view bytes, CSheetRows& rows, std::string& error) {
    constexpr std::string_view kZipMagic = "PK\x03\x04";
    if (bytes.substr(0, kZipMagic.size()) == kZipMagic) {
        return ReadXlsx(bytes, rows, error);
    }
    return ReadCsv(bytes, rows, error);
}
