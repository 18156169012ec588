#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "history/HistoryExport.h"
#include "store/HistoryEntry.h"
#include "store/HistoryFile.h"

// The fees received, from the history: the records that carry money (feeCents != 0, a
// correction counting with its negative amount) summed per local day or per month over a range
// of local days.

enum class FeePeriod : uint8_t { Day, Month };

// One period's sums.
struct CFeeLine {
    int32_t period = 0;     // yyyymmdd for a day, yyyymm for a month
    uint32_t cards = 0;     // distinct card numbers among its payments
    uint32_t payments = 0;  // records with a fee
    int64_t totalCents = 0;
    uint32_t first = 0;  // its payments are CFeeSummary::payments[first, first + payments)
};

// One payment of a line: its record decoded in place (texts point into the history's mapping).
struct CFeePayment {
    uint64_t number = 0;  // the record number
    CHistoryEntryView entry;
};

struct CFeeSummary {
    FeePeriod period = FeePeriod::Day;
    int32_t fromDay = 0;          // yyyymmdd, inclusive
    int32_t toDay = 0;            // yyyymmdd, inclusive
    std::vector<CFeeLine> lines;  // ascending period
    // Indices into the records summed, grouped by line, each line's in file order.
    std::vector<uint32_t> payments;
    uint32_t cards = 0;  // distinct card numbers over the whole range
    uint64_t totalPayments = 0;
    int64_t totalCents = 0;
    uint64_t unreadable = 0;  // whole records whose payload could not be decoded
};

// Sums the fees of `records` (a history's records in file order) whose local day lies in
// [fromDay, toDay].
CFeeSummary SummarizeFees(const CHistoryFile::RecordList& records, int32_t fromDay, int32_t toDay,
                          FeePeriod period);

// The payments of `summary.lines[line]`, in file order; `records` are those it was made from.
std::vector<CFeePayment> LinePayments(const CFeeSummary& summary, size_t line,
                                      const CHistoryFile::RecordList& records);

// "2026-12-10" for a day, "2026-12" for a month.
std::string FeePeriodText(int32_t period, FeePeriod kind);

// The summary as exported: 日期 (or 月份), 卡数, 笔数, 金额(元), a row a line and the grand total
// "合计" last. `summary` must outlive it.
ExportTable FeeSummaryExportTable(const CFeeSummary& summary);
