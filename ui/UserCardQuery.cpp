// The query panel of the user-card window: the list narrowed to the matching cards, or all
// cards again; and the quick find, which narrows the listed rows as the operator types.

#include <QLabel>
#include <QLineEdit>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/CodePageText.h"
#include "cards/CardQuery.h"
#include "register/Card.h"
#include "ui/RecordDate.h"
#include "ui/UserCardDlg.h"

namespace {

// The length of the GB18030 character at `at`: one byte for ASCII (and for a byte that
// starts no character), four for a lead byte followed by a digit, two otherwise; never past
// the end.
size_t CharLength(std::string_view text, size_t at) {
    const auto byte = static_cast<uint8_t>(text[at]);
    size_t length = 1;
    if (byte >= 0x81 && byte <= 0xFE && at + 1 < text.size()) {
        const char next = text[at + 1];
        length = next >= '0' && next <= '9' ? 4 : 2;
    }
    return std::min(length, text.size() - at);
}

// A text to find in the register's GB18030 bytes, Latin letters matching either case. Only
// matches that start on a character are found, so that a letter never matches the second
// byte of a Chinese character; the texts are searched as they are, without converting them.
class CQuickFind {
public:
    explicit CQuickFind(std::string_view typed) : m_needle(typed), m_bLetter(typed.size()) {
        for (size_t at = 0; at < m_needle.size(); at += CharLength(m_needle, at)) {
            char& c = m_needle[at];
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
            m_bLetter[at] = c >= 'a' && c <= 'z';
        }
    }

    // The needle with its letters in lower case.
    const std::string& Folded() const { return m_needle; }

    // The texts that Matches() reads, asked for ahead.
    static void Prefetch(const CCard& card) {
        for (const CCardText* text : {&card.m_strCardNo, &card.m_strName, &card.m_strHouseNo,
                                      &card.m_strPhone, &card.m_strIdNo}) {
            __builtin_prefetch(text->data());
        }
    }

    bool Matches(const CCard& card) const {
        return In(card.m_strCardNo.view()) || In(card.m_strName.view()) ||
               In(card.m_strHouseNo.view()) || In(card.m_strPhone.view()) ||
               In(card.m_strIdNo.view());
    }

private:
    bool In(std::string_view text) const {
        const size_t n = m_needle.size();
        for (size_t at = 0; at + n <= text.size(); at += CharLength(text, at)) {
            if (At(text, at)) {
                return true;
            }
        }
        return false;
    }
    // Where the needle matches from a character on, its letters are characters of the text
    // too (they line up), so only they are compared without regard to case.
    bool At(std::string_view text, size_t at) const {
        for (size_t i = 0; i < m_needle.size(); ++i) {
            const char c = text[at + i];
            if (c != m_needle[i] && !(m_bLetter[i] && c - 'A' + 'a' == m_needle[i])) {
                return false;
            }
        }
        return true;
    }

    std::string m_needle;
    std::vector<bool> m_bLetter;  // the needle's byte is a Latin letter of its own
};

}  // namespace

void CUserCardDlg::OnQuery() {
    if (!UpdateData(true)) {
        return;
    }
    m_list.DeleteAllItems();
    // A range that ends before it starts (to the second) lists nothing.
    if (m_dateQueryFrom > m_dateQueryTo) {
        ShowMembers();
        return;
    }
    CardQuery query;
    query.cardNo = m_strQueryCardNo;
    query.name = m_strQueryName;
    query.phone = m_strQueryPhone;
    query.houseNo = m_strQueryHouseNo;
    query.status = m_nQueryStatus;
    query.regFrom = RecordDate(m_dateQueryFrom);
    query.regTo = RecordDate(m_dateQueryTo);
    AppendCardRows(QueryCards(m_desk.cards, query));
    ShowMembers();
    MarkFormCard();
}

void CUserCardDlg::OnShowAll() {
    if (!UpdateData(true)) {
        return;
    }
    ListAllCards();
    ShowMembers();
    MarkFormCard();
}

void CUserCardDlg::OnQuickFind() {
    const CQuickFind find(ToCodePage(m_pQuickFind->text()));
    if (find.Folded().empty()) {
        m_list.Model()->SetFilter(nullptr, false);
    } else {
        // Typing on at the end only narrows what is shown.
        const bool narrowing =
            !m_strQuickFind.empty() && std::string_view(find.Folded()).starts_with(m_strQuickFind);
        m_list.Model()->SetFilter([find](const CCard& card) { return find.Matches(card); },
                                  narrowing, CQuickFind::Prefetch);
    }
    m_strQuickFind = find.Folded();
}

void CUserCardDlg::ShowListCount() {
    m_pListCount->setText(QStringLiteral("共%1张").arg(m_list.GetItemCount()));
}
