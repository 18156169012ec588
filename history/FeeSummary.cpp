#include "history/FeeSummary.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "register/CardFields.h"

namespace {

struct CPaid {
    int32_t period;
    uint32_t index;
    int64_t feeCents;
    std::string_view cardNo;
};

// The different card numbers among those added: six digits compared as their number (cheaper
// than their text across a million records), any other non-empty text as it is.
class CCardSet {
public:
    void Add(std::string_view cardNo) {
        const int number = SearchedCardNo(cardNo);
        if (number > 0) {
            m_numbers.push_back(number);
        } else if (!cardNo.empty()) {
            m_others.push_back(cardNo);
        }
    }
    uint32_t Count() { return Distinct(m_numbers) + Distinct(m_others); }
    void Clear() {
        m_numbers.clear();
        m_others.clear();
    }

private:
    template <class T>
    static uint32_t Distinct(std::vector<T>& values) {
        std::sort(values.begin(), values.end());
        return static_cast<uint32_t>(std::unique(values.begin(), values.end()) - values.begin());
    }

    std::vector<int> m_numbers;
    std::vector<std::string_view> m_others;
};

}  // namespace

CFeeSummary SummarizeFees(const CHistoryFile::RecordList& records, int32_t fromDay, int32_t toDay,
                          FeePeriod period) {
    CFeeSummary summary;
    summary.period = period;
    summary.fromDay = fromDay;
    summary.toDay = toDay;

    std::vector<CPaid> paid;
    CHistoryEntryView entry;
    for (size_t i = 0; i < records.size(); ++i) {
        if (!CHistoryEntryView::Decode(records[i].payload, entry)) {
            ++summary.unreadable;
            continue;
        }
        if (entry.feeCents == 0) {
            continue;
        }
        const int32_t day = entry.LocalDay();
        if (day < fromDay || day > toDay) {
            continue;
        }
        paid.push_back({period == FeePeriod::Day ? day : day / 100, static_cast<uint32_t>(i),
                        entry.feeCents, entry.cardNo});
    }
    // The history is in time order, but a clock set back or a changed offset can put a day's
    // records after a later day's: sorted by period, and by position within one.
    std::sort(paid.begin(), paid.end(), [](const CPaid& a, const CPaid& b) {
        return a.period != b.period ? a.period < b.period : a.index < b.index;
    });

    summary.payments.reserve(paid.size());
    CCardSet cards;
    CCardSet allCards;
    for (size_t i = 0; i < paid.size();) {
        CFeeLine line;
        line.period = paid[i].period;
        line.first = static_cast<uint32_t>(summary.payments.size());
        cards.Clear();
        for (; i < paid.size() && paid[i].period == line.period; ++i) {
            line.totalCents += paid[i].feeCents;
            ++line.payments;
            cards.Add(paid[i].cardNo);
            allCards.Add(paid[i].cardNo);
            summary.payments.push_back(paid[i].index);
        }
        line.cards = cards.Count();
        summary.totalCents += line.totalCents;
        summary.totalPayments += line.payments;
        summary.lines.push_back(line);
    }
    summary.cards = allCards.Count();
    return summary;
}

std::vector<CFeePayment> LinePayments(const CFeeSummary& summary, size_t line,
                                      const CHistoryFile::RecordList& records) {
    std::vector<CFeePayment> payments;
    if (line >= summary.lines.size()) {
        return payments;
    }
    const CFeeLine& sums = summary.lines[line];
    payments.reserve(sums.payments);
    for (uint32_t k = sums.first; k < sums.first + sums.payments; ++k) {
        const CHistoryFile::Record& record = records[summary.payments[k]];
        CFeePayment payment;
        payment.number = record.number;
        CHistoryEntryView::Decode(record.payload, payment.entry);
        payments.push_back(payment);
    }
    return payments;
}

std::string FeePeriodText(int32_t period, FeePeriod kind) {
    char text[16];
    if (kind == FeePeriod::Day) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", period / 10000, period / 100 % 100,
                      period % 100);
    } else {
        std::snprintf(text, sizeof text, "%04d-%02d", period / 100, period % 100);
    }
    return text;
}

ExportTable FeeSummaryExportTable(const CFeeSummary& summary) {
    ExportTable table;
    table.titles = {summary.period == FeePeriod::Day ? "日期" : "月份", "卡数", "笔数", "金额(元)"};
    table.numeric = {false, true, true, true};
    table.rowCount = summary.lines.size() + 1;
    table.fillRow = [&summary](size_t row, std::vector<std::string>& cells) {
        cells.resize(4);
        if (row < summary.lines.size()) {
            const CFeeLine& line = summary.lines[row];
            cells[0] = FeePeriodText(line.period, summary.period);
            cells[1] = std::to_string(line.cards);
            cells[2] = std::to_string(line.payments);
            cells[3] = FeeText(line.totalCents);
        } else {
            cells[0] = "合计";
            cells[1] = std::to_string(summary.cards);
            cells[2] = std::to_string(summary.totalPayments);
            cells[3] = FeeText(summary.totalCents);
        }
    };
    return table;
}
