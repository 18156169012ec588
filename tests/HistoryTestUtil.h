#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "store/HistoryEntry.h"
#include "store/HistoryFile.h"

// Seconds since the epoch of a UTC calendar time.
inline int64_t UtcTime(int year, int month, int day, int hour, int minute) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    return static_cast<int64_t>(::timegm(&tm));
}

// A record as a desk eight hours east of UTC writes it at the local time given.
inline CHistoryEntry EntryAt(int year, int month, int day, int hour, int minute,
                             CardOperation operation, const std::string& cardNo,
                             const std::string& name, const std::string& content,
                             int64_t feeCents = 0) {
    CHistoryEntry entry;
    entry.utcOffset = 8 * 3600;
    entry.time = UtcTime(year, month, day, hour, minute) - entry.utcOffset;
    entry.operation = static_cast<uint8_t>(operation);
    entry.desk = "desk1/operator";
    entry.cardNo = cardNo;
    entry.name = name;
    entry.content = content;
    entry.feeCents = feeCents;
    return entry;
}

// Appends the payloads as the next records of the history at `path` (created when missing).
inline void AppendPayloads(const std::string& path, const std::vector<std::string>& payloads) {
    CHistoryFile::Contents contents;
    std::string error;
    ASSERT_TRUE(CHistoryFile::Read(path, contents, error)) << error;
    CHistoryFile file;
    ASSERT_TRUE(file.Open(path, contents, error)) << error;
    ASSERT_TRUE(file.Append(payloads, error)) << error;
}

inline void AppendEntries(const std::string& path, const std::vector<CHistoryEntry>& entries) {
    std::vector<std::string> payloads;
    for (const CHistoryEntry& entry : entries) {
        payloads.push_back(entry.Encode());
    }
    AppendPayloads(path, payloads);
}

// Eight records of one desk (record n is entries[n - 1]), from 2026-11-30 to 2026-12-10.
inline std::vector<CHistoryEntry> SampleEntries() {
    CHistoryEntry exported = EntryAt(2026, 12, 10, 17, 45, CardOperation::Save, "", "", "");
    exported.operation = static_cast<uint8_t>(HistoryOperation::Export);
    exported.content = "cardbook.kcd → /home/office/backup.kcd";
    // Record 3 is at 23:00 of 12-01 locally; record 4 is at 00:30 of 12-02 locally, although
    // both are on 12-01 in UTC.
    return {
        EntryAt(2026, 11, 30, 9, 0, CardOperation::Add, "000123", "张三", "姓名:→张三"),
        EntryAt(2026, 12, 1, 10, 0, CardOperation::Issue, "000123", "张三",
                "卡片状态:未发行→已发行"),
        EntryAt(2026, 12, 1, 23, 0, CardOperation::Extend, "001234", "李四",
                "有效期:20261231→20271231", 5000),
        EntryAt(2026, 12, 2, 0, 30, CardOperation::Save, "012345", "Li Wei", "电话:→13800000000"),
        EntryAt(2026, 12, 5, 8, 15, CardOperation::Delete, "123456", "LIU Yang", "删除"),
        EntryAt(2026, 12, 10, 9, 5, CardOperation::Extend, "000123", "张三丰",
                "有效期:20261231→20270630", 1250),
        // The desk's clock was set back: written after record 6, dated before it.
        EntryAt(2026, 12, 9, 16, 0, CardOperation::ReportLost, "555555", "王小明", "挂失"),
        exported,
    };
}
