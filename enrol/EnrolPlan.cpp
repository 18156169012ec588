#include "enrol/EnrolPlan.h"

#include <algorithm>
#include <limits>
#include <map>
#include <memory>

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

bool IsBlank(const CSheetRow& row) {
    for (const std::string& cell : row) {
        if (!TrimBlanks(cell).empty()) {
            return false;
        }
    }
    return true;
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

// A row's cells by the field of their column.
class CRowCells {
public:
    CRowCells(const CSheetRow& row, const CColumnMap& map) : m_row(row), m_map(map) {}
    // The trimmed cell of the first column that `field` maps, empty when there is none.
    std::string_view Cell(EnrolField field) const {
        for (size_t c = 0; c < m_map.size() && c < m_row.size(); ++c) {
            if (m_map[c] == field) {
                return TrimBlanks(m_row[c]);
            }
        }
        return {};
    }

private:
    const CSheetRow& m_row;
    const CColumnMap& m_map;
};

// Reads the row's cells into `row`; each fault found is added to `faults`.
void ReadCells(const CRowCells& cells, CEnrolRow& row, std::vector<std::string>& faults) {
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
        std::string& value = row.values[f];
        if (field == EnrolField::CardNo) {
            if (!IsDigits(cell, 6)) {
                faults.push_back(title + Quoted(cell) + "不是6个数字");
                continue;
            }
            value.assign(cell);
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
            value = Utf8ToCodePage(cell);
            size_t length = 0;
            const size_t bad = FirstNonGb2312(value, &length);
            if (bad != std::string::npos) {
                faults.push_back(title + "中的" + Quoted(Shown(value.substr(bad, length))) +
                                 "不是GB2312字符");
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
        row.given[f] = true;
    }
}

// What the row changes in the card.
void FindChanges(const CCard& card, CEnrolRow& row) {
    for (size_t f = 0; f < kEnrolFieldCount; ++f) {
        const auto field = static_cast<EnrolField>(f);
        if (!row.given[f]) {
            continue;
        }
        if (field == EnrolField::CardType) {
            if (card.m_nCardType != row.cardType) {
                row.changes.push_back({field, TypeText(card.m_nCardType), TypeText(row.cardType)});
            }
        } else if (IsTextField(field)) {
            const std::string_view before(TextOf(card, field));
            if (before != row.values[f]) {
                row.changes.push_back({field, Shown(before), Shown(row.values[f])});
            }
        }
    }
}

void SetValues(CCard& card, const CEnrolRow& row) {
    for (size_t f = 0; f < kEnrolFieldCount; ++f) {
        const auto field = static_cast<EnrolField>(f);
        if (!row.given[f]) {
            continue;
        }
        if (field == EnrolField::CardType) {
            card.m_nCardType = row.cardType;
        } else if (IsTextField(field)) {
            TextOf(card, field) = row.values[f];
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

CEnrolPlan MakeEnrolPlan(const CSheetRows& rows, size_t firstRow, const CColumnMap& map,
                         const CCardMap& cards) {
    CEnrolPlan plan;
    // Every card number the file gives is kept from the numbers given automatically, so that
    // a later row's card is never taken by an earlier row without one.
    std::vector<bool> inFile(1000000, false);
    for (size_t r = firstRow; r < rows.size(); ++r) {
        const int n = SearchedCardNo(CRowCells(rows[r], map).Cell(EnrolField::CardNo));
        if (n > 0) {
            inFile[static_cast<size_t>(n)] = true;
        }
    }
    const auto taken = [&](int n) {
        return cards.IsNumberTaken(n) || inFile[static_cast<size_t>(n)];
    };
    int nextFree = 1;
    std::map<std::string, size_t, std::less<>> firstLine;

    for (size_t r = firstRow; r < rows.size(); ++r) {
        if (IsBlank(rows[r])) {
            continue;
        }
        CEnrolRow& row = plan.rows.emplace_back();
        row.line = r + 1;
        std::vector<std::string> faults;
        ReadCells(CRowCells(rows[r], map), row, faults);
        const size_t cardNoIndex = Index(EnrolField::CardNo);
        if (row.given[cardNoIndex]) {
            row.cardNo = row.values[cardNoIndex];
            const auto [earlier, first] = firstLine.emplace(row.cardNo, row.line);
            if (!first) {
                faults.push_back("卡号" + row.cardNo + "与第" + std::to_string(earlier->second) +
                                 "行重复");
            }
        } else if (!CRowCells(rows[r], map).Cell(EnrolField::CardNo).empty()) {
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
        if (!faults.empty()) {
            row.outcome = RowOutcome::Refused;
            row.reason = Joined(faults);
            ++plan.refused;
        } else if (const CCard* card = row.cardNoGiven ? cards.Lookup(row.cardNo) : nullptr) {
            FindChanges(*card, row);
            row.outcome = row.changes.empty() ? RowOutcome::Unchanged : RowOutcome::Changed;
            ++(row.changes.empty() ? plan.unchanged : plan.changed);
        } else {
            row.outcome = RowOutcome::New;
            ++plan.added;
        }
    }
    return plan;
}

bool MakeEnrolChange(const CEnrolPlan& plan, const CCardMap& cards, uint32_t maxNumber,
                     const CEnrolDefaults& defaults, CCardChange& change) {
    if (maxNumber > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) - plan.added) {
        return false;
    }
    uint32_t number = maxNumber;
    std::vector<CCardChange::Step> steps;
    for (const CEnrolRow& row : plan.rows) {
        const CCard* current = cards.Lookup(row.cardNo);
        if (row.outcome == RowOutcome::Changed) {
            if (current == nullptr) {
                return false;
            }
            std::unique_ptr<CCard> card = CopyOfCard(*current);
            SetValues(*card, row);
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
        SetValues(*card, row);
        steps.push_back({row.cardNo, std::move(card)});
    }
    change = CCardChange(CardOperation::Enrol, number);
    for (CCardChange::Step& step : steps) {
        change.Put(step.key, std::move(step.card));
    }
    return true;
}

bool ApplyEnrolPlan(const CEnrolPlan& plan, CCardMap& cards, uint32_t& maxNumber,
                    const CEnrolDefaults& defaults) {
    CCardChange change;
    if (!MakeEnrolChange(plan, cards, maxNumber, defaults, change)) {
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
