#include "history/HistoryView.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "store/HistoryEntry.h"

namespace {

char FoldCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool HasLetter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

std::string Folded(std::string_view text) {
    std::string folded(text);
    std::transform(folded.begin(), folded.end(), folded.begin(), FoldCase);
    return folded;
}

// The local day yyyymmdd of a record, as CHistoryEntryView::LocalDay gives it, by calendar
// arithmetic: the C library's conversion takes a lock each time, a million times over.
int32_t LocalDayOf(int64_t time, int32_t utcOffset) {
    using namespace std::chrono;
    const year_month_day date{floor<days>(sys_seconds(seconds(time + utcOffset)))};
    return static_cast<int32_t>(date.year()) * 10000 +
           static_cast<int32_t>(static_cast<unsigned>(date.month())) * 100 +
           static_cast<int32_t>(static_cast<unsigned>(date.day()));
}

// `part` is folded already and holds a Latin letter. UTF-8 bytes of other characters are
// never ASCII, so folding only ASCII letters cannot make two different characters match.
bool ContainsFolded(std::string_view text, std::string_view part) {
    if (part.size() > text.size()) {
        return false;
    }
    const size_t last = text.size() - part.size();
    for (size_t i = 0; i <= last; ++i) {
        size_t k = 0;
        while (k < part.size() && FoldCase(text[i + k]) == part[k]) {
            ++k;
        }
        if (k == part.size()) {
            return true;
        }
    }
    return false;
}

// A part to look for, prepared once for a whole filter pass.
class CPart {
public:
    explicit CPart(std::string_view part) : m_folded(Folded(part)), m_bFold(HasLetter(part)) {}
    bool Empty() const { return m_folded.empty(); }
    bool In(std::string_view text) const {
        return m_bFold ? ContainsFolded(text, m_folded)
                       : text.find(m_folded) != std::string_view::npos;
    }

private:
    std::string m_folded;
    bool m_bFold;
};

}  // namespace

bool CHistoryView::Load(const std::string& path, std::string& error) {
    CHistoryFile::Contents contents;
    if (!CHistoryFile::Read(path, contents, error)) {
        Build(CHistoryFile::Contents());
        return false;
    }
    Build(std::move(contents));
    return true;
}

void CHistoryView::Build(CHistoryFile::Contents contents) {
    m_contents = std::move(contents);
    m_nRows = 0;
    m_nUndecodable = 0;
    m_nFirstDay = 0;
    m_nLastDay = 0;
    const CHistoryFile::RecordList& records = m_contents.records;
    m_rowMemory = CBulkMemory(records.size() * sizeof(Row));
    m_pRows = reinterpret_cast<Row*>(m_rowMemory.data());
    for (size_t i = records.size(); i-- > 0;) {
        const std::string_view payload = records[i].payload;
        CHistoryEntryView entry;
        if (!CHistoryEntryView::Decode(payload, entry)) {
            ++m_nUndecodable;
            continue;
        }
        const auto span = [&payload](std::string_view text) {
            return Span{static_cast<uint32_t>(text.data() - payload.data()),
                        static_cast<uint32_t>(text.size())};
        };
        Row row;
        row.time = entry.time;
        row.feeCents = entry.feeCents;
        row.record = static_cast<uint32_t>(i);
        row.day = LocalDayOf(entry.time, entry.utcOffset);
        row.utcOffset = entry.utcOffset;
        row.operation = entry.operation;
        row.desk = span(entry.desk);
        row.cardNo = span(entry.cardNo);
        row.name = span(entry.name);
        row.content = span(entry.content);
        if (m_nRows == 0 || row.day < m_nFirstDay) {
            m_nFirstDay = row.day;
        }
        if (m_nRows == 0 || row.day > m_nLastDay) {
            m_nLastDay = row.day;
        }
        new (m_pRows + m_nRows++) Row(row);
    }
}

std::vector<uint32_t> CHistoryView::Filter(const HistoryFilter& filter) const {
    const CPart cardNo(filter.cardNo);
    const CPart name(filter.name);
    const int32_t fromDay = filter.fromDay;
    const int32_t toDay = filter.toDay > 0 ? filter.toDay : INT32_MAX;
    std::vector<uint32_t> matches;
    for (uint32_t i = 0; i < Count(); ++i) {
        const Row& row = m_pRows[i];
        if (row.day < fromDay || row.day > toDay ||
            (filter.operation >= 0 && row.operation != filter.operation) ||
            (!cardNo.Empty() && !cardNo.In(CardNo(i))) || (!name.Empty() && !name.In(Name(i)))) {
            continue;
        }
        matches.push_back(i);
    }
    return matches;
}

bool CHistoryView::Contains(std::string_view text, std::string_view part) {
    return CPart(part).In(text);
}

uint64_t CHistoryView::Number(uint32_t row) const {
    return m_contents.records[m_pRows[row].record].number;
}

std::string CHistoryView::TimeText(uint32_t row) const {
    CHistoryEntryView entry;
    entry.time = m_pRows[row].time;
    entry.utcOffset = m_pRows[row].utcOffset;
    return entry.TimeText();
}

std::string CHistoryView::ContentText(uint32_t row) const {
    std::string text(Content(row));
    const int64_t fee = m_pRows[row].feeCents;
    if (fee != 0) {
        if (!text.empty()) {
            text += "; ";
        }
        text += "收费:" + FeeText(fee) + "元";
    }
    return text;
}

const uint8_t* CHistoryView::Hash(uint32_t row) const {
    return m_contents.records[m_pRows[row].record].hash;
}
