#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "store/CardChange.h"

// What the history records besides the register's own changes (CardOperation takes 1..10).
enum class HistoryOperation : uint8_t {
    Import = 20,           // 导入: the register replaced by a file
    Export = 21,           // 导出: the register written to a file
    ExportExcel = 22,      // 导出EXCEL: the register written to a spreadsheet
    PasswordChanged = 23,  // 系统密码修改 (that it changed, never the password)
    Begun = 24,            // 开始记录: the history started, with the register as it was
    Undelivered = 25,      // 未送达: a change kept while the server was away met another desk's
};

// The operator's word for an operation (a CardOperation or HistoryOperation value), UTF-8;
// "未知操作" for a value this program does not know.
const char* HistoryOperationText(uint8_t operation);
// Every operation with its text, in the order a filter offers them.
struct HistoryOperationName {
    uint8_t operation;
    const char* text;
};
extern const HistoryOperationName g_historyOperations[];
extern const int g_historyOperationCount;

// One record of the history, as the program writes it. Texts are UTF-8.
struct CHistoryEntry {
    int64_t time = 0;       // seconds since the epoch
    int32_t utcOffset = 0;  // the desk's local offset then, seconds east of UTC
    uint8_t operation = 0;  // a CardOperation or HistoryOperation value
    uint64_t batch = 0;     // the records of one batch enrolment: the number of its first record
    int64_t feeCents = 0;   // money received with this change, in fen (a correction may be < 0)
    std::string desk;       // "host/login"
    std::string cardNo;
    std::string name;
    std::string content;  // what changed: "字段:前→后" items joined by "; "

    // The payload of a history record.
    std::string Encode() const;
    static bool Decode(std::string_view payload, CHistoryEntry& entry);
};

// A record decoded in place: the texts point into the payload (no copies), for scanning a
// million records.
struct CHistoryEntryView {
    int64_t time = 0;
    int32_t utcOffset = 0;
    uint8_t operation = 0;
    uint64_t batch = 0;
    int64_t feeCents = 0;
    std::string_view desk;
    std::string_view cardNo;
    std::string_view name;
    std::string_view content;

    static bool Decode(std::string_view payload, CHistoryEntryView& entry);
    // The local time of the record as the desk saw it: "2026-12-10 09:05:00".
    std::string TimeText() const;
    // The local day as a number yyyymmdd (for ranges and daily sums).
    int32_t LocalDay() const;
};

// Fen as "12.50" ("-3.00" for a correction).
std::string FeeText(int64_t feeCents);
// An amount as the form takes it ("12", "12.5", "1.005") in fen, rounded to the nearest fen;
// false when the text is no such amount or beyond a billion yuan.
bool ParseFee(std::string_view amount, int64_t& feeCents);
