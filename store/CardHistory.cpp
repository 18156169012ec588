#include "store/CardHistory.h"

#include <pwd.h>
#include <unistd.h>
#include <climits>
#include <ctime>

#include "base/CodePage.h"

namespace {

// A register text as the history shows it: code-page bytes in UTF-8, anything that is no
// character written as \xHH.
std::string Utf8Of(std::string_view bytes) {
    std::string utf8;
    if (CodePageToUtf8(bytes, utf8)) {
        return utf8;
    }
    return CodePageToEscapedUtf8(bytes);
}

std::string EnumText(const char* text, uint8_t value) {
    return text != nullptr ? std::string(text) : std::to_string(value);
}

// The doors a permission string opens, "1,2,16"; "无" for none.
std::string DoorsText(std::string_view rights) {
    std::string doors;
    if (rights.size() != 16 || rights.find_first_not_of("01") != std::string_view::npos) {
        return Utf8Of(rights);
    }
    for (int port = 1; port <= 16; ++port) {
        if (rights[16 - port] == '1') {
            if (!doors.empty()) {
                doors += ',';
            }
            doors += std::to_string(port);
        }
    }
    return doors.empty() ? "无" : doors;
}

struct FieldText {
    const char* name;
    std::string value;
    bool secret = false;  // shown only as set or changed
};

// The 19 fields in the order of the record, as texts.
std::vector<FieldText> FieldsOf(const CCard& card) {
    return {
        {"编号", std::to_string(card.m_nNumber)},
        {"卡片状态", EnumText(CardStatusText(card.m_nStatus), card.m_nStatus)},
        {"卡号", Utf8Of(card.m_strCardNo)},
        {"卡类型", EnumText(CardTypeText(card.m_nCardType), card.m_nCardType)},
        {"有效期", Utf8Of(card.m_strValidDate)},
        {"密码", Utf8Of(card.m_strPassword), true},
        {"登记日期", Utf8Of(card.m_strRegDate)},
        {"姓名", Utf8Of(card.m_strName)},
        {"联系电话", Utf8Of(card.m_strPhone)},
        {"门牌号", Utf8Of(card.m_strHouseNo)},
        {"证件号码", Utf8Of(card.m_strIdNo)},
        {"地址", Utf8Of(card.m_strAddress)},
        {"备注", Utf8Of(card.m_strRemark)},
        {"门禁权限", DoorsText(card.m_strRights)},
        // The second permission string is unused by the windows: shown only when it holds doors.
        {"门禁权限2", card.m_strRights2.view() == "0000000000000000"
                          ? std::string()
                          : DoorsText(card.m_strRights2)},
        {"性别", EnumText(CardSexText(card.m_nSex), card.m_nSex)},
        {"缴费金额", Utf8Of(card.m_strPaid)},
        {"月收费标准", Utf8Of(card.m_strMonthFee)},
        {"年收费标准", Utf8Of(card.m_strYearFee)},
    };
}

void AppendItem(std::string& out, const char* name, const std::string& value) {
    if (!out.empty()) {
        out += "; ";
    }
    out += name;
    out += ':';
    out += value;
}

std::string Shown(const std::string& value) {
    return value.empty() ? "(空)" : value;
}

int64_t PaidFen(const CCard* card) {
    int64_t fen = 0;
    if (card == nullptr || !ParseFee(card->m_strPaid.view(), fen)) {
        return 0;
    }
    return fen;
}

CHistoryEntry StampedEntry(const HistoryStamp& stamp, uint8_t operation) {
    CHistoryEntry entry;
    entry.time = stamp.time;
    entry.utcOffset = stamp.utcOffset;
    entry.desk = stamp.desk;
    entry.operation = operation;
    return entry;
}

}  // namespace

HistoryStamp CurrentStamp() {
    HistoryStamp stamp;
    const time_t now = std::time(nullptr);
    stamp.time = static_cast<int64_t>(now);
    std::tm local{};
    if (::localtime_r(&now, &local) != nullptr) {
        stamp.utcOffset = static_cast<int32_t>(local.tm_gmtoff);
    }
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) != 0) {
        host[0] = '\0';
    }
    std::string login;
    if (const passwd* user = ::getpwuid(::geteuid()); user != nullptr && user->pw_name != nullptr) {
        login = user->pw_name;
    } else {
        login = std::to_string(::geteuid());
    }
    stamp.desk = std::string(host) + "/" + login;
    return stamp;
}

std::string CardFieldsText(const CCard& card, bool all) {
    std::string out;
    for (const FieldText& field : FieldsOf(card)) {
        if (field.secret) {
            if (all || !field.value.empty()) {
                AppendItem(out, field.name, field.value.empty() ? "未设置" : "已设置");
            }
        } else if (all || !field.value.empty()) {
            AppendItem(out, field.name, field.value);
        }
    }
    return out;
}

std::string CardDiffText(const CCard& before, const CCard& after) {
    const std::vector<FieldText> was = FieldsOf(before);
    const std::vector<FieldText> now = FieldsOf(after);
    std::string out;
    for (size_t i = 0; i < was.size(); ++i) {
        if (was[i].value == now[i].value) {
            continue;
        }
        if (was[i].secret) {
            AppendItem(out, was[i].name, "已更改");
        } else {
            AppendItem(out, was[i].name, Shown(was[i].value) + "→" + Shown(now[i].value));
        }
    }
    return out;
}

std::vector<std::string> HistoryPayloads(const CCardChange& change, const CCardMap& before,
                                         const HistoryStamp& stamp, uint64_t firstNumber) {
    std::vector<std::string> payloads;
    const bool batch = change.Operation() == CardOperation::Enrol;
    const bool told = !change.Note().empty() || change.FeeSet();
    for (const CCardChange::Step& step : change.Steps()) {
        const CCard* was = before.Lookup(step.key);
        CHistoryEntry entry = StampedEntry(stamp, static_cast<uint8_t>(change.Operation()));
        entry.cardNo = Utf8Of(step.key);
        std::string content;
        if (step.card == nullptr) {
            if (was == nullptr) {
                continue;  // removing a card the register does not hold changes nothing
            }
            entry.operation = static_cast<uint8_t>(CardOperation::Delete);
            entry.name = Utf8Of(was->m_strName);
            content = CardFieldsText(*was);
        } else {
            entry.name = Utf8Of(step.card->m_strName);
            content = was == nullptr ? CardFieldsText(*step.card) : CardDiffText(*was, *step.card);
            if (content.empty() && !told) {
                continue;
            }
            // A copy (新增相同信息卡) carries the other card's payment: no money received.
            if (change.FeeSet()) {
                entry.feeCents = change.Fee();
            } else if (change.Operation() != CardOperation::SameInfo) {
                entry.feeCents = PaidFen(step.card.get()) - PaidFen(was);
            }
        }
        if (!change.Note().empty()) {
            content = content.empty() ? change.Note() : change.Note() + "; " + content;
        }
        entry.content = std::move(content);
        entry.batch = batch ? firstNumber : 0;
        payloads.push_back(entry.Encode());
    }
    return payloads;
}

std::string EventPayload(uint8_t operation, const HistoryStamp& stamp, std::string content,
                         const std::string& cardNo, int64_t feeCents) {
    CHistoryEntry entry = StampedEntry(stamp, operation);
    entry.content = std::move(content);
    entry.cardNo = Utf8Of(cardNo);
    entry.feeCents = feeCents;
    return entry.Encode();
}
