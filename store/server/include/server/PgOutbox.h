#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "store/Journal.h"

// The desk's own file of changes that a device already carried out while the server was away
// (a card written, an extension): each with the row versions its cards had when the desk made
// it and its history records, flushed to disk before the operator is told, and sent in order
// once the server answers. The file is a journal (store/Journal.h) of kDeferredChange records:
//   16 bytes: the outbox's name on the server (it marks what was delivered there)
//   u32 length of the change, the change (CCardChange::Encode)
//   u32 count, then each step's row version as u64
//   the history records (as a kHistory block)
class CPgOutbox {
public:
    using Id = std::array<uint8_t, 16>;

    struct Deferred {
        uint64_t seq = 0;
        std::string change;             // CCardChange::Encode()
        std::vector<int64_t> versions;  // one for each step of the change
        std::vector<std::string> history;
    };

    // Opens the file at `path` (made when missing) and reads what it holds. `lost` counts
    // records that were damaged and cannot be sent. False with `error` when it cannot be read
    // or written.
    bool Open(const std::string& path, uint64_t& lost, std::string& error);
    bool IsOpen() const { return m_journal.IsOpen(); }

    // Adds a change, on disk before it returns; false with `error` when it could not be
    // written (the change is then still kept for sending, in memory).
    bool Add(Deferred deferred, std::string& error);
    // What is still to be sent, oldest first, and the name the server knows this outbox by.
    const std::vector<Deferred>& Pending() const { return m_pending; }
    const Id& Name() const { return m_id; }
    // The oldest change has reached the server (or was recorded there as not delivered).
    void Delivered();
    // Once everything is delivered, starts the file afresh so that it does not grow.
    bool Renew(std::string& error);

    static std::string Encode(const Id& id, const Deferred& deferred);
    // False when `payload` is no complete record.
    static bool Decode(std::string_view payload, Id& id, Deferred& deferred);

private:
    std::string m_strPath;
    CJournal m_journal;
    Id m_id{};
    uint64_t m_nNextSeq = 1;
    std::vector<Deferred> m_pending;
};
