#include "store/HistoryEntry.h"

#include <cstdio>
#include <ctime>

#include "base/LittleEndian.h"

namespace {

constexpr uint8_t kEntryVersion = 1;
// version, time, offset, operation, batch, fee
constexpr size_t kFixedSize = 1 + 8 + 4 + 1 + 8 + 8;

void PutText(std::string& out, std::string_view text) {
    PutLe32(out, static_cast<uint32_t>(text.size()));
    out.append(text);
}

bool GetText(std::string_view& rest, std::string_view& text) {
    if (rest.size() < 4) {
        return false;
    }
    const uint32_t length = GetLe32(rest.data());
    if (length > rest.size() - 4) {
        return false;
    }
    text = rest.substr(4, length);
    rest.remove_prefix(4 + length);
    return true;
}

// The local calendar time of a record.
bool LocalTm(int64_t time, int32_t utcOffset, std::tm& tm) {
    const time_t shifted = static_cast<time_t>(time + utcOffset);
    return ::gmtime_r(&shifted, &tm) != nullptr;
}

}  // namespace

const HistoryOperationName g_historyOperations[] = {
    {static_cast<uint8_t>(CardOperation::Add), "新增"},
    {static_cast<uint8_t>(CardOperation::Save), "修改"},
    {static_cast<uint8_t>(CardOperation::Delete), "删除"},
    {static_cast<uint8_t>(CardOperation::SameInfo), "新增相同信息卡"},
    {static_cast<uint8_t>(CardOperation::Issue), "发卡"},
    {static_cast<uint8_t>(CardOperation::Read), "读卡"},
    {static_cast<uint8_t>(CardOperation::Extend), "延期"},
    {static_cast<uint8_t>(CardOperation::ReportLost), "挂失"},
    {static_cast<uint8_t>(CardOperation::Unlock), "解挂"},
    {static_cast<uint8_t>(CardOperation::Enrol), "批量登记"},
    {static_cast<uint8_t>(HistoryOperation::Import), "导入"},
    {static_cast<uint8_t>(HistoryOperation::Export), "导出"},
    {static_cast<uint8_t>(HistoryOperation::ExportExcel), "导出EXCEL"},
    {static_cast<uint8_t>(HistoryOperation::PasswordChanged), "修改系统密码"},
    {static_cast<uint8_t>(HistoryOperation::Begun), "开始记录"},
    {static_cast<uint8_t>(HistoryOperation::Undelivered), "未送达"},
};
const int g_historyOperationCount =
    static_cast<int>(sizeof g_historyOperations / sizeof g_historyOperations[0]);

const char* HistoryOperationText(uint8_t operation) {
    for (const HistoryOperationName& name : g_historyOperations) {
        if (name.operation == operation) {
            return name.text;
        }
    }
    return "未知操作";
}

std::string CHistoryEntry::Encode() const {
    std::string out;
    out.reserve(kFixedSize + 16 + desk.size() + cardNo.size() + name.size() + content.size());
    out += static_cast<char>(kEntryVersion);
    PutLe64(out, static_cast<uint64_t>(time));
    PutLe32(out, static_cast<uint32_t>(utcOffset));
    out += static_cast<char>(operation);
    PutLe64(out, batch);
    PutLe64(out, static_cast<uint64_t>(feeCents));
    PutText(out, desk);
    PutText(out, cardNo);
    PutText(out, name);
    PutText(out, content);
    return out;
}

bool CHistoryEntry::Decode(std::string_view payload, CHistoryEntry& entry) {
    CHistoryEntryView view;
    if (!CHistoryEntryView::Decode(payload, view)) {
        return false;
    }
    entry.time = view.time;
    entry.utcOffset = view.utcOffset;
    entry.operation = view.operation;
    entry.batch = view.batch;
    entry.feeCents = view.feeCents;
    entry.desk = view.desk;
    entry.cardNo = view.cardNo;
    entry.name = view.name;
    entry.content = view.content;
    return true;
}

bool CHistoryEntryView::Decode(std::string_view payload, CHistoryEntryView& entry) {
    if (payload.size() < kFixedSize || static_cast<uint8_t>(payload[0]) != kEntryVersion) {
        return false;
    }
    const char* p = payload.data();
    entry.time = static_cast<int64_t>(GetLe64(p + 1));
    entry.utcOffset = static_cast<int32_t>(GetLe32(p + 9));
    entry.operation = static_cast<uint8_t>(p[13]);
    entry.batch = GetLe64(p + 14);
    entry.feeCents = static_cast<int64_t>(GetLe64(p + 22));
    std::string_view rest = payload.substr(kFixedSize);
    return GetText(rest, entry.desk) && GetText(rest, entry.cardNo) && GetText(rest, entry.name) &&
           GetText(rest, entry.content) && rest.empty();
}

std::string CHistoryEntryView::TimeText() const {
    std::tm tm{};
    if (!LocalTm(time, utcOffset, tm)) {
        return "?";
    }
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

int32_t CHistoryEntryView::LocalDay() const {
    std::tm tm{};
    if (!LocalTm(time, utcOffset, tm)) {
        return 0;
    }
    return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

std::string FeeText(int64_t feeCents) {
    const bool negative = feeCents < 0;
    const uint64_t fen = negative ? 0 - static_cast<uint64_t>(feeCents) : feeCents;
    char text[40];
    std::snprintf(text, sizeof text, "%s%llu.%02llu", negative ? "-" : "",
                  static_cast<unsigned long long>(fen / 100),
                  static_cast<unsigned long long>(fen % 100));
    return text;
}

bool ParseFee(std::string_view amount, int64_t& feeCents) {
    constexpr int64_t kLimit = 100000000000;  // a billion yuan, in fen
    if (amount.empty()) {
        return false;
    }
    int64_t whole = 0;
    size_t i = 0;
    for (; i < amount.size() && amount[i] != '.'; ++i) {
        if (amount[i] < '0' || amount[i] > '9') {
            return false;
        }
        whole = whole * 10 + (amount[i] - '0');
        if (whole * 100 > kLimit) {
            return false;
        }
    }
    if (i == 0) {
        return false;
    }
    int64_t fen = 0;
    int digits = 0;
    bool roundUp = false;
    if (i < amount.size()) {
        if (i + 1 == amount.size()) {
            return false;  // "5."
        }
        for (size_t k = i + 1; k < amount.size(); ++k) {
            const char c = amount[k];
            if (c < '0' || c > '9') {
                return false;
            }
            if (digits < 2) {
                fen = fen * 10 + (c - '0');
            } else if (digits == 2) {
                roundUp = c >= '5';
            }
            ++digits;
        }
    }
    for (; digits < 2; ++digits) {
        fen *= 10;
    }
    feeCents = whole * 100 + fen + (roundUp ? 1 : 0);
    return true;
}
