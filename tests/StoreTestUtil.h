#pragma once

#include <memory>
#include <string>

#include "TestUtil.h"
#include "register/RegisterFile.h"
#include "store/FileCardStore.h"

// The register as a new start of the program finds it: the file loaded, its journal replayed.
struct Restarted {
    CCardMap map;
    uint32_t maxNumber = 0;
    CFileCardStore store{map, maxNumber};
    CFileCardStore::OpenReport report;
    bool opened = false;
    std::string error;

    explicit Restarted(const std::string& registerPath) {
        std::string loadError;
        LoadRegisterFile(registerPath, map, maxNumber, loadError);
        opened = store.Open(registerPath, report, error);
    }
};

// A change that puts the card `cardNo` (holder `name`, serial number `number`).
inline CCardChange PutCard(const std::string& cardNo, const std::string& name, int32_t number,
                           CardOperation operation = CardOperation::Add) {
    auto card = MakeCard(cardNo, number);
    card->m_strName = name;
    CCardChange change(operation, static_cast<uint32_t>(number));
    change.Put(cardNo, std::move(card));
    return change;
}

inline CCardChange RemoveCard(const std::string& cardNo, uint32_t maxNumber) {
    CCardChange change(CardOperation::Delete, maxNumber);
    change.Remove(cardNo);
    return change;
}
