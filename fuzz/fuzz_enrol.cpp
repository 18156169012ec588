// libFuzzer target for the resident-list readers and the enrolment rules: any byte string is
// read as CSV and as a workbook; each either gives rows of well-formed UTF-8 cells or is
// refused with an error, never reads out of bounds. What reads is planned against a small
// register, and the plan goes into it with exactly the cards it counts.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/CodePage.h"
#include "enrol/CsvFile.h"
#include "enrol/EnrolPlan.h"
#include "enrol/XlsxFile.h"
#include "register/CardFields.h"

namespace {

void CheckRows(bool read, const CSheetRows& rows, const std::string& error) {
    if (!read) {
        if (error.empty() || !rows.empty()) {
            std::abort();
        }
        return;
    }
    for (size_t r = 0; r < rows.size(); ++r) {
        rows.ForEachCell(r, [](size_t column, std::string_view cell) {
            if (!IsUtf8(cell) || column >= CSheetRows::kMaxColumns) {
                std::abort();
            }
        });
    }
    if (rows.Width() > CSheetRows::kMaxColumns || rows.Width() > rows.FileWidth()) {
        std::abort();
    }
    // Mapped by the header where there is one, otherwise by position.
    const bool header = !rows.empty() && IsHeaderRow(rows.front());
    const CColumnMap map =
        header ? MapHeader(rows.front())
               : CColumnMap{EnrolField::CardNo,  EnrolField::Name,     EnrolField::ValidDate,
                            EnrolField::RegDate, EnrolField::CardType, EnrolField::Paid,
                            EnrolField::HouseNo, EnrolField::IdNo,     EnrolField::Rights};
    CCardMap cards;
    for (int n = 1; n <= 3; ++n) {
        auto card = std::make_unique<CCard>();
        card->m_nNumber = n;
        card->m_strCardNo = CardNoText(n);
        cards.SetAt(CardNoText(n), std::move(card));
    }
    const CEnrolPlan plan = MakeEnrolPlan(rows, header ? 1 : 0, map, cards);
    if (plan.added + plan.changed + plan.holderChanges + plan.unchanged + plan.refused !=
        plan.rows.size()) {
        std::abort();
    }
    uint32_t maxNumber = 3;
    if (!ApplyEnrolPlan(plan, cards, maxNumber, CEnrolDefaults{"5820463917", "20250301"}, true) ||
        cards.GetCount() != 3 + plan.added || maxNumber != 3 + plan.added) {
        std::abort();
    }
    for (const CCardMap::CAssoc& entry : cards) {
        const std::string_view rights = entry.value->m_strRights;
        if (rights.size() != 16 || rights.find_first_not_of("01") != std::string_view::npos) {
            std::abort();
        }
    }
    RefusedRowsCsv(rows, header ? 1 : 0, plan);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CSheetRows rows;
    std::string error;
    CheckRows(ReadCsv(bytes, rows, error), rows, error);
    rows.clear();
    error.clear();
    CheckRows(ReadXlsx(bytes, rows, error), rows, error);
    return 0;
}
