#pragma once

#include <gtest/gtest.h>

#include <string>

#include "register/CardMap.h"
#include "server/PgCardStore.h"

// One desk on a server's register: its register in memory over the server's, its records
// named `name` at a fixed time, with an outbox at `outbox` when one is given.
struct PgDesk {
    CCardMap map;
    uint32_t maxNumber = 0;
    CPgCardStore store{map, maxNumber};
    std::string error;
    bool opened = false;
    uint64_t lost = 0;

    PgDesk(const std::string& conninfo, const char* name,
           const std::string& outbox = std::string()) {
        store.SetStamp([name] { return HistoryStamp{1765324800, 8 * 3600, name}; });
        EXPECT_TRUE(outbox.empty() || store.OpenOutbox(outbox, lost, error)) << error;
        opened = store.Open(conninfo, error);
    }
    CommitResult Commit(CCardChange change, CommitMode mode = CommitMode::Refusable) {
        return store.Commit(std::move(change), mode, error);
    }
    // The holder of the card under `key` as stored (bytes), "(none)" without one.
    std::string Name(const std::string& key) const {
        const CCard* card = map.Lookup(key);
        return card != nullptr ? std::string(card->m_strName.view()) : "(none)";
    }
};
