#include "enrol/EnrolPlan.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <string>

#include "base/CodePage.h"
#include "base/TextCheck.h"
#include "cards/CardChecks.h"
#include "enrol/CsvFile.h"
#include "enrol/EnrolDate.h"
#include "register/Card.h"
#include "register/CardFields.h"

namespace {

constexpr size_t Index(EnrolField field) {
    return static_cast<size_t>(field);
}

// The text member of a card that a text or date field fills.
template <class Card>
auto& TextOf(Card& card, EnrolField field) {
    switch (field) {
        case EnrolField::ValidDate:
            return card.m_strValidDate;
        case EnrolField::RegDate:
            return card.m_strRegDate;
        case EnrolField::Name:
            return card.m_strName;
        case EnrolField::Phone:
            return card.m_strPhone;
        case EnrolField::HouseNo:
            return card.m_strHouseNo;
        case EnrolField::IdNo:
            return card.m_strIdNo;
        case EnrolField::Address:
            return card.m_strAddress;
        case EnrolField::Remark:
            return card.m_strRemark;
        case EnrolField::Paid:
            return card.m_strPaid;
        case EnrolField::MonthFee:
            return card.m_strMonthFee;
        case EnrolField::YearFee:
            return card.m_strYearFee;
        default:
            return card.m_strCardNo;
    }
}

// Fields that go into a card's text members (the card number is its key).
bool IsTextField(EnrolField field) {
    return IsTakenField(field) && field != EnrolField::CardNo && field != EnrolField::CardType;
}

bool IsBlank(const CSheetRows& rows, size_t r) {
    bool blank = true;
    rows.ForEachCell(
        r, [&blank](size_t, std::string_view text) { blank = blank && TrimBlanks(text).empty(); });
    return blank;
}

bool IsAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// Whether the register's code page gives the UTF-8 text back as it was from `bytes`, its
// conversion.
bool StoredWhole(std::string_view utf8, std::string_view bytes) {
    std::string back;
    return IsAscii(utf8) || (CodePageToUtf8(bytes, back) && back == utf8);
}

// The first character of UTF-8 text that the register's code page cannot store.
std::string_view FirstUnstorable(std::string_view utf8) {
    size_t at = 0;
    while (at < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[at]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const std::string_view character = utf8.substr(at, length);
        if (!StoredWhole(character, Utf8ToCodePage(character))) {
            return character;
        }
        at += length;
    }
    return {};
}

// Record bytes for the operator.
std::string Shown(std::string_view bytes) {
    std::string utf8;
    return CodePageToUtf8(bytes, utf8) ? utf8 : CodePageToEscapedUtf8(bytes);
}

std::string Quoted(std::string_view text) {
    return "“" + std::string(text) + "”";
}

std::string TypeText(uint8_t type) {
    const char* text = CardTypeText(type);
    return text != nullptr ? text : std::to_string(type);
}

// A row's cells by the field of their column: the first column that the field is mapped to.
class CRowCells {
public:
    using Columns = std::array<size_t, kEnrolFieldCount>;
    static Columns ColumnsOf(const CColumnMap& map) {
        Columns columns;
        columns.fill(std::string::npos);
        for (size_t c = map.size(); c-- > 0;) {
            columns[Index(map[c])] = c;
        }
        return columns;
    }
    CRowCells(const CSheetRows& rows, size_t r, const Columns& columns)
        : m_rows(rows), m_row(r), m_columns(columns) {}
    // The trimmed cell of the field's column, empty when there is none.
    std::string_view Cell(EnrolField field) const {
        const size_t column = m_columns[Index(field)];
        return column == std::string::npos ? std::string_view()
                                           : TrimBlanks(m_rows.Cell(m_row, column));
    }

private:
    const CSheetRows& m_rows;
    size_t m_row;
    const Columns& m_columns;
};

// Reads the row's cells into `row`, the values it sets appended to `values` (each after a byte
// with its length); each fault found is added to `faults`.
void ReadCells(const CRowCells& cells, CEnrolRow& row, std::string& values,
               std::vector<std::string>& faults) {
    std::string value;
    for (size_t f = 0; f < kEnrolFieldCount; ++f) {
        const auto field = static_cast<EnrolField>(f);
        if (!IsTakenField(field)) {
            continue;
        }
        const std::string_view cell = cells.Cell(field);
        if (cell.empty()) {
            continue;
        }
        const std::string title = EnrolFieldTitle(field);
        value.clear();
        if (field == EnrolField::CardNo) {
            if (!IsDigits(cell, 6)) {
                faults.push_back(title + Quoted(cell) + "不是6个数字");
                continue;
            }
            row.cardNo.assign(cell);
        } else if (field == EnrolField::CardType) {
            bool known = false;
            for (uint8_t type = CARD_FREE; type <= CARD_TEMPORARY && !known; ++type) {
                if (cell == CardTypeText(type)) {
                    row.cardType = type;
                    known = true;
                }
            }
            if (!known) {
                faults.push_back(title + Quoted(cell) + "不是免费卡、月卡、年卡或临时卡");
                continue;
            }
        } else if (field == EnrolField::Rights) {
            if (!ParseDoors(cell, value)) {
                faults.push_back(title + Quoted(cell) +
                                 "不是16位的0和1,也不是1至16的门号(如“1,2,16”)");
                continue;
            }
        } else if (field == EnrolField::ValidDate || field == EnrolField::RegDate) {
            if (!ParseEnrolDate(cell, value)) {
                faults.push_back(title + Quoted(cell) + "不是日期");
                continue;
            }
            if (field == EnrolField::ValidDate) {
                int year = 0;
                int month = 0;
                int day = 0;
                SplitRecordDate(value, year, month, day);
                if (!IsCardDate(CFrameDate{year, month, day})) {
                    faults.push_back(title + Quoted(cell) + ": " + kNotACardDate);
                    continue;
                }
            }
        } else {
            // The text is stored as the form stores what is typed: its bytes in the register's
            // code page, which must give it back as it was.
            value = Utf8ToCodePage(cell);
            if (!StoredWhole(cell, value)) {
                faults.push_back(title + "中的" + Quoted(FirstUnstorable(cell)) +
                                 "不能存入卡片登记");
                continue;
            }
            const size_t limit = EnrolFieldLimit(field);
            if (value.size() > limit) {
                faults.push_back(title + "长" + std::to_string(value.size()) + "个字节,超过" +
                                 std::to_string(limit) + "个字节的限制");
                continue;
            }
            const bool fee = field == EnrolField::Paid || field == EnrolField::MonthFee ||
                             field == EnrolField::YearFee;
            if (fee && !IsAmount(value, static_cast<int>(value.size()))) {
                faults.push_back(title + Quoted(cell) + "不是金额");
                continue;
            }
        }
        row.given |= 1u << f;
        if (IsTextField(field) || field == EnrolField::Rights) {
            values += static_cast<char>(value.size());  // at most 255 bytes
            values += value;
        }
    }
}

// Whether the row gives the card to someone else: a name or identity number other than the
// card's, where the card has one.
bool ChangesHolder(const CCard& card, const CEnrolPlan& plan, const CEnrolRow& row) {
    for (const EnrolField field : {EnrolField::Name, EnrolField::IdNo}) {
        const std::string_view before(TextOf(card, field));
        if (row.Given(field) && !before.empty() && before != plan.Value(row, field)) {
            return true;
        }
    }
    return false;
}

// What the row changes in the card.
void FindChanges(const CCard& card, const CEnrolPlan& plan, CEnrolRow& row) {
    for (size_t f = 0; f < kEnrolFieldCount; ++f) {
        const auto field = static_cast<EnrolField>(f);
        if (!row.Given(field)) {
            continue;
        }
        if (field == EnrolField::CardType) {
            if (card.m_nCardType != row.cardType) {
                row.changes.push_back({field, TypeText(card.m_nCardType), TypeText(row.cardType)});
            }
        } else if (field == EnrolField::Rights) {
            const std::string_view after = plan.Value(row, field);
            if (std::string_view(card.m_strRights) != after) {
                row.changes.push_back({field, DoorsText(card.m_strRights), DoorsText(after)});
            }
        } else if (IsTextField(field)) {
            const std::string_view before(TextOf(card, field));
            const std::string_view after = plan.Value(row, field);
            if (before != after) {
                row.changes.push_back({field, Shown(before), Shown(after)});
            }
        }
    }
}

void SetValues(CCard& card, const CEnrolPlan& plan, const CEnrolRow& row) {
    for (size_t f = 0; f < kEnrolFieldCount; ++f) {
        const auto field = static_cast<EnrolField>(f);
        if (!row.Given(field)) {
            continue;
        }
        if (field == EnrolField::CardType) {
            card.m_nCardType = row.cardType;
        } else if (field == EnrolField::Rights) {
            card.m_strRights = plan.Value(row, field);
        } else if (IsTextField(field)) {
            TextOf(card, field) = plan.Value(row, field);
        }
    }
}

std::string Joined(const std::vector<std::string>& faults) {
    std::string text;
    for (const std::string& fault : faults) {
        text += (text.empty() ? "" : "；") + fault;
    }
    return text;
}

}  // namespace

std::string_view CEnrolPlan::Value(const CEnrolRow& row, EnrolField field) const {
    if (field == EnrolField::CardNo) {
        return row.Given(field) ? std::string_view(row.cardNo) : std::string_view();
    }
    if (!row.Given(field) || !(IsTextField(field) || field == EnrolField::Rights)) {
        return {};
    }
    size_t at = row.valuesAt;
    for (size_t f = 0; f < kEnrolFieldCount; ++f) {
        const auto stored = static_cast<EnrolField>(f);
        if (!row.Given(stored) || !(IsTextField(stored) || stored == EnrolField::Rights)) {
            continue;
        }
        const size_t size = static_cast<unsigned char>(values[at]);
        if (stored == field) {
            return std::string_view(values).substr(at + 1, size);
        }
        at += 1 + size;
    }
    return {};
}

bool ParseDoors(std::string_view cell, std::string& rights) {
    if (cell.size() == 16 && cell.find_first_not_of("01") == std::string_view::npos) {
        rights.assign(cell);
        return true;
    }
    bool ports[17] = {};
    bool any = false;
    size_t at = 0;
    while (at < cell.size()) {
        bool separator = false;
        for (const std::string_view s : {",", "，", "、", ";", "；", " ", "\t"}) {
            if (cell.substr(at, s.size()) == s) {
                at += s.size();
                separator = true;
                break;
            }
        }
        if (separator) {
            continue;
        }
        int door = 0;
        size_t digits = 0;
        while (at < cell.size() && cell[at] >= '0' && cell[at] <= '9' && digits < 3) {
            door = door * 10 + (cell[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || door < 1 || door > 16) {
            return false;
        }
        ports[door] = true;
        any = true;
    }
    if (!any) {
        return false;
    }
    rights = RightsText(ports);
    return true;
}

std::string DoorsText(std::string_view rights) {
    std::string text;
    for (int port = 1; port <= 16; ++port) {
        if (PortPermitted(rights, port)) {
            text += (text.empty() ? "" : ",") + std::to_string(port);
        }
    }
    return text.empty() ? "无" : text;
}

CEnrolPlan MakeEnrolPlan(const CSheetRows& rows, size_t firstRow, const CColumnMap& map,
                         const CCardMap& cards, const CProgress& progress) {
    CEnrolPlan plan;
    const CRowCells::Columns columns = CRowCells::ColumnsOf(map);
    // Every card number the file gives is kept from the numbers given automatically, so that
    // a later row's card is never taken by an earlier row without one.
    std::vector<bool> inFile(1000000, false);
    for (size_t r = firstRow; r < rows.size(); ++r) {
        const int n = SearchedCardNo(CRowCells(rows, r, columns).Cell(EnrolField::CardNo));
        if (n > 0) {
            inFile[static_cast<size_t>(n)] = true;
        }
    }
    const auto taken = [&](int n) {
        return cards.IsNumberTaken(n) || inFile[static_cast<size_t>(n)];
    };
    int nextFree = 1;
    // By card number: the row that gives it; made when a row gives one.
    std::vector<uint32_t> firstLine;

    constexpr size_t kProgressStep = 20000;
    for (size_t r = firstRow; r < rows.size(); ++r) {
        if (progress && r % kProgressStep == 0 && r > firstRow) {
            progress(r, rows.size());
        }
        if (IsBlank(rows, r)) {
            continue;
        }
        CEnrolRow& row = plan.rows.emplace_back();
        row.line = r + 1;
        row.valuesAt = plan.values.size();
        std::vector<std::string> faults;
        const CRowCells cells(rows, r, columns);
        ReadCells(cells, row, plan.values, faults);
        if (row.Given(EnrolField::CardNo)) {
            firstLine.resize(1000000, 0);
            uint32_t& first = firstLine[static_cast<size_t>(std::stoi(row.cardNo))];
            if (first != 0) {
                faults.push_back("卡号" + row.cardNo + "与第" + std::to_string(first) + "行重复");
            } else {
                first = static_cast<uint32_t>(row.line);
            }
        } else if (!cells.Cell(EnrolField::CardNo).empty()) {
            // A malformed card number: refused above.
        } else if (faults.empty()) {
            const int n = FirstFreeCardNumber(nextFree, taken);
            if (n == 0) {
                faults.push_back("不能自动分配卡号");
            } else {
                nextFree = n + 1;
                row.cardNo = CardNoText(n);
                row.cardNoGiven = false;
            }
        }
        const CCard* card = row.cardNoGiven && faults.empty() ? cards.Lookup(row.cardNo) : nullptr;
        if (!faults.empty()) {
            row.outcome = RowOutcome::Refused;
            row.reason = Joined(faults);
            row.given = 0;
            plan.values.resize(row.valuesAt);
            ++plan.refused;
        } else if (card != nullptr) {
            FindChanges(*card, plan, row);
            if (ChangesHolder(*card, plan, row)) {
                row.outcome = RowOutcome::HolderChange;
                ++plan.holderChanges;
            } else {
                row.outcome = row.changes.empty() ? RowOutcome::Unchanged : RowOutcome::Changed;
                ++(row.changes.empty() ? plan.unchanged : plan.changed);
            }
        } else {
            row.outcome = RowOutcome::New;
            ++plan.added;
        }
    }
    return plan;
}

bool MakeEnrolChange(const CEnrolPlan& plan, const CCardMap& cards, uint32_t maxNumber,
                     const CEnrolDefaults& defaults, bool allowHolderChange, CCardChange& change) {
    if (maxNumber > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) - plan.added) {
        return false;
    }
    uint32_t number = maxNumber;
    std::vector<CCardChange::Step> steps;
    for (const CEnrolRow& row : plan.rows) {
        const CCard* current = cards.Lookup(row.cardNo);
        if (row.outcome == RowOutcome::Changed ||
            (row.outcome == RowOutcome::HolderChange && allowHolderChange)) {
            if (current == nullptr) {
                return false;
            }
            std::unique_ptr<CCard> card = CopyOfCard(*current);
            SetValues(*card, plan, row);
            steps.push_back({row.cardNo, std::move(card)});
            continue;
        }
        if (row.outcome != RowOutcome::New) {
            continue;
        }
        if (current != nullptr) {
            return false;
        }
        auto card = std::make_unique<CCard>();
        card->m_nNumber = static_cast<int32_t>(++number);
        card->m_nStatus = CARD_NOT_ISSUED;
        card->m_strCardNo = row.cardNo;
        card->m_strValidDate = defaults.validDate;
        card->m_strRegDate = defaults.regDate;
        card->m_strPassword = defaults.password;
        card->m_strRights = defaults.rights;
        SetValues(*card, plan, row);
        steps.push_back({row.cardNo, std::move(card)});
    }
    change = CCardChange(CardOperation::Enrol, number);
    for (CCardChange::Step& step : steps) {
        change.Put(step.key, std::move(step.card));
    }
    return true;
}

bool ApplyEnrolPlan(const CEnrolPlan& plan, CCardMap& cards, uint32_t& maxNumber,
                    const CEnrolDefaults& defaults, bool allowHolderChange) {
    CCardChange change;
    if (!MakeEnrolChange(plan, cards, maxNumber, defaults, allowHolderChange, change)) {
        return false;
    }
    change.ApplyTo(cards, maxNumber);
    return true;
}

std::string RefusedRowsCsv(const CSheetRows& rows, size_t firstRow, const CEnrolPlan& plan) {
    size_t width = firstRow > 0 && firstRow <= rows.size() ? rows[firstRow - 1].size() : 0;
    for (const CEnrolRow& row : plan.rows) {
        if (row.outcome == RowOutcome::Refused) {
            width = std::max(width, rows[row.line - 1].size());
        }
    }
    std::string csv = "\xEF\xBB\xBF";
    const auto add = [&](CSheetRow cells, const std::string& last) {
        cells.resize(width);
        cells.push_back(last);
        csv += CsvLine(cells);
    };
    if (firstRow > 0 && firstRow <= rows.size()) {
        add(rows[firstRow - 1], "原因");
    }
    for (const CEnrolRow& row : plan.rows) {
        if (row.outcome == RowOutcome::Refused) {
            add(rows[row.line - 1], row.reason);
        }
    }
    return csv;
}
