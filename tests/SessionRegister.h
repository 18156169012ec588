#pragma once

#include <string>

#include "TestUtil.h"
#include "base/CodePage.h"
#include "register/Card.h"
#include "register/CardMap.h"

// The register a working session at the desk starts from: a card issued with a payment, one
// issued, one not issued and one not issued with a payment, each with `password`.
inline std::string SessionStartRegister(const char* password) {
    CCardMap map;
    const struct {
        const char* cardNo;
        const char* name;
        uint8_t status;
        const char* paid;
    } cards[] = {{"000001", "张三", CARD_ISSUED, "100"},
                 {"000002", "李四", CARD_ISSUED, ""},
                 {"000004", "孙七", CARD_NOT_ISSUED, ""},
                 {"000005", "周八", CARD_NOT_ISSUED, "80"}};
    int number = 0;
    for (const auto& c : cards) {
        auto card = MakeCard(c.cardNo, ++number);
        card->m_strName = Utf8ToCodePage(c.name);
        card->m_nStatus = c.status;
        card->m_strPaid = c.paid;
        card->m_strPassword = password;
        card->m_strValidDate = "20301231";
        map.SetAt(c.cardNo, std::move(card));
    }
    return RegisterBytes(map);
}
