#include "enrol/EnrolFields.h"

#include "cards/CardList.h"

namespace {

struct FieldInfo {
    EnrolField field;
    const char* title;
    size_t limit;
};

// Texts the form takes without a limit of its own are held to the 255 bytes that the card
// list shows of a cell.
constexpr size_t kListCellBytes = 255;

// In the order of the card list's columns (kCardListTitles), then the fees.
const FieldInfo kFields[] = {
    {EnrolField::Number, kCardListTitles[0], 0},
    {EnrolField::Status, kCardListTitles[1], 0},
    {EnrolField::CardNo, kCardListTitles[2], 6},
    {EnrolField::CardType, kCardListTitles[3], 0},
    {EnrolField::ValidDate, kCardListTitles[4], 0},
    {EnrolField::RegDate, kCardListTitles[5], 0},
    {EnrolField::Name, kCardListTitles[6], kListCellBytes},
    {EnrolField::Phone, kCardListTitles[7], kListCellBytes},
    {EnrolField::HouseNo, kCardListTitles[8], kListCellBytes},
    {EnrolField::IdNo, kCardListTitles[9], kListCellBytes},
    {EnrolField::Address, kCardListTitles[10], kListCellBytes},
    {EnrolField::Remark, kCardListTitles[11], kListCellBytes},
    {EnrolField::Paid, "缴费金额", 10},
    {EnrolField::MonthFee, "月收费标准", 10},
    {EnrolField::YearFee, "年收费标准", 10},
    {EnrolField::Rights, "门禁权限", 16},
};

const FieldInfo* Info(EnrolField field) {
    for (const FieldInfo& info : kFields) {
        if (info.field == field) {
            return &info;
        }
    }
    return nullptr;
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

const char* EnrolFieldTitle(EnrolField field) {
    const FieldInfo* info = Info(field);
    return info != nullptr ? info->title : "不导入";
}

size_t EnrolFieldLimit(EnrolField field) {
    const FieldInfo* info = Info(field);
    return info != nullptr ? info->limit : 0;
}

bool IsTakenField(EnrolField field) {
    return field != EnrolField::None && field != EnrolField::Number && field != EnrolField::Status;
}

EnrolField FieldOfTitle(std::string_view title) {
    title = TrimBlanks(title);
    for (const std::string_view colon : {":", "："}) {
        if (title.ends_with(colon)) {
            title = TrimBlanks(title.substr(0, title.size() - colon.size()));
        }
    }
    for (const FieldInfo& info : kFields) {
        if (title == info.title) {
            return info.field;
        }
    }
    return title == "权限" ? EnrolField::Rights : EnrolField::None;
}

CColumnMap MapHeader(const CSheetRow& header) {
    CColumnMap map(header.size(), EnrolField::None);
    for (size_t c = 0; c < header.size(); ++c) {
        const EnrolField field = FieldOfTitle(header[c]);
        bool seen = false;
        for (size_t before = 0; before < c; ++before) {
            seen = seen || map[before] == field;
        }
        if (!seen) {
            map[c] = field;
        }
    }
    return map;
}

bool IsHeaderRow(const CSheetRow& row) {
    for (const std::string& cell : row) {
        if (IsTakenField(FieldOfTitle(cell))) {
            return true;
        }
    }
    return false;
}

void SetColumnField(CColumnMap& map, size_t column, EnrolField field) {
    if (map.size() <= column) {
        map.resize(column + 1, EnrolField::None);
    }
    map[column] = field;
}

std::vector<EnrolField> SharedFields(const CColumnMap& map) {
    size_t count[kEnrolFieldCount] = {};
    for (const EnrolField field : map) {
        ++count[static_cast<size_t>(field)];
    }
    std::vector<EnrolField> shared;
    for (size_t f = 1; f < kEnrolFieldCount; ++f) {
        if (count[f] > 1) {
            shared.push_back(static_cast<EnrolField>(f));
        }
    }
    return shared;
}
