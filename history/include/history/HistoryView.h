#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/BulkMemory.h"
#include "store/HistoryFile.h"

// What the operator asks of the history: every bound may be left open.
struct HistoryFilter {
    int32_t fromDay = 0;  // local day yyyymmdd, inclusive; 0: from the first
    int32_t toDay = 0;    // inclusive; 0: to the last
    std::string cardNo;   // a part of the card number (UTF-8); empty: any
    std::string name;     // a part of the holder's name (UTF-8); empty: any
    int operation = -1;   // a CardOperation or HistoryOperation value; -1: all
};

// The history as the operator reads it: every record decoded once into a compact index,
// newest first (the reverse of the file's order, which is the order of the changes). The
// texts stay in the mapped file; a row holds their places, not copies.
class CHistoryView {
public:
    CHistoryView() = default;
    CHistoryView(const CHistoryView&) = delete;
    CHistoryView& operator=(const CHistoryView&) = delete;

    // Reads the history at `path` and indexes it; a missing file gives an empty view with
    // Exists() false. False with `error` when the file exists but cannot be read.
    bool Load(const std::string& path, std::string& error);
    // Indexes records already read.
    void Build(CHistoryFile::Contents contents);

    bool Exists() const { return m_contents.exists; }
    uint32_t Count() const { return m_nRows; }
    // Whole records whose content this program cannot decode: they are left out.
    uint32_t Undecodable() const { return m_nUndecodable; }
    // The earliest and latest local day of the records (0 when there are none).
    int32_t FirstDay() const { return m_nFirstDay; }
    int32_t LastDay() const { return m_nLastDay; }

    // The rows (0 = the newest) that match `filter`, newest first.
    std::vector<uint32_t> Filter(const HistoryFilter& filter) const;

    // A row's fields.
    uint64_t Number(uint32_t row) const;
    int64_t Time(uint32_t row) const { return m_pRows[row].time; }
    int32_t Day(uint32_t row) const { return m_pRows[row].day; }
    uint8_t Operation(uint32_t row) const { return m_pRows[row].operation; }
    int64_t FeeCents(uint32_t row) const { return m_pRows[row].feeCents; }
    std::string TimeText(uint32_t row) const;
    std::string_view Desk(uint32_t row) const { return Text(row, m_pRows[row].desk); }
    std::string_view CardNo(uint32_t row) const { return Text(row, m_pRows[row].cardNo); }
    std::string_view Name(uint32_t row) const { return Text(row, m_pRows[row].name); }
    std::string_view Content(uint32_t row) const { return Text(row, m_pRows[row].content); }
    // The content column: the content, followed by the fee when money was received.
    std::string ContentText(uint32_t row) const;
    // The record's SHA-256 as it stands in the file.
    const uint8_t* Hash(uint32_t row) const;

    // Whether `text` holds `part` (bytes compared, Latin letters in either case).
    static bool Contains(std::string_view text, std::string_view part);

private:
    // A text of a record: where it starts in the record's payload, and its length.
    struct Span {
        uint32_t offset = 0;
        uint32_t size = 0;
    };
    struct Row {
        int64_t time = 0;
        int64_t feeCents = 0;
        uint32_t record = 0;  // in m_contents.records
        int32_t day = 0;
        int32_t utcOffset = 0;
        uint8_t operation = 0;
        Span desk, cardNo, name, content;
    };

    std::string_view Text(uint32_t row, Span span) const {
        return m_contents.records[m_pRows[row].record].payload.substr(span.offset, span.size);
    }

    CHistoryFile::Contents m_contents;
    // The rows, newest first, in memory taken at once: a million rows fault no page in one
    // by one.
    CBulkMemory m_rowMemory;
    Row* m_pRows = nullptr;
    uint32_t m_nRows = 0;
    uint32_t m_nUndecodable = 0;
    int32_t m_nFirstDay = 0;
    int32_t m_nLastDay = 0;
};
