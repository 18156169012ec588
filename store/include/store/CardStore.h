#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "register/CardMap.h"
#include "store/CardChange.h"
#include "store/HistoryEntry.h"

// Whether a change may still be refused: one that no device has carried out yet is refused
// when it cannot be made durable; one that a device already carried out (a card written) is
// kept in memory all the same and made durable later.
enum class CommitMode { Refusable, DeviceDone };

enum class CommitResult {
    Durable,      // on disk and in the register
    Refused,      // not on disk: the register is unchanged
    NotYetSaved,  // in the register, not yet on disk (DeviceDone only): tried again later
    Conflict,     // not written: another desk changed the card first; the register shows its
                  // change, `error` says so in the operator's words
};

// What a listener is told once a change has been applied.
struct CCardNotice {
    // Every key that the change touched, in its order; none: the whole register was replaced.
    std::vector<std::string> keys;
    // Those of `keys` that the register did not hold before the change.
    std::vector<std::string> added;
    // Made at another desk (a shared register), not through this store's Commit.
    bool elsewhere = false;
};

class CCardStore;

// A listener's registration with a store: it is told of changes until this is destroyed (or
// Detach()ed: then for the store's whole life). The store must outlive it.
class [[nodiscard]] CCardSubscription {
public:
    CCardSubscription() = default;
    CCardSubscription(CCardSubscription&& other) noexcept
        : m_pStore(std::exchange(other.m_pStore, nullptr)), m_nId(other.m_nId) {}
    CCardSubscription& operator=(CCardSubscription&& other) noexcept;
    CCardSubscription(const CCardSubscription&) = delete;
    CCardSubscription& operator=(const CCardSubscription&) = delete;
    ~CCardSubscription() { Cancel(); }

    // No more notices from here on.
    void Cancel();
    bool Active() const { return m_pStore != nullptr; }
    // The listener stays registered for as long as the store exists.
    void Detach() { m_pStore = nullptr; }

private:
    friend class CCardStore;
    CCardSubscription(CCardStore* store, uint64_t id) : m_pStore(store), m_nId(id) {}

    CCardStore* m_pStore = nullptr;
    uint64_t m_nId = 0;
};

// The one door through which the register changes. It makes each change durable, applies it
// to the in-memory register and tells whoever listens which cards changed. The register stays
// the map the rest of the program reads (its buckets and order unchanged).
class CCardStore {
public:
    using Listener = std::function<void(const CCardNotice& notice)>;

    CCardStore() = default;
    CCardStore(const CCardStore&) = delete;
    CCardStore& operator=(const CCardStore&) = delete;
    virtual ~CCardStore() = default;

    virtual const CCardMap& Cards() const = 0;
    // The highest serial number given out so far.
    virtual uint32_t MaxNumber() const = 0;
    // Makes `change` durable and applies it; `error` says why it is not on disk.
    virtual CommitResult Commit(CCardChange change, CommitMode mode, std::string& error) = 0;

    // Puts on record what is no change of the register (an export, the system password
    // changed, an extension of a card the register lacks): `cardNo` and `feeCents` where it
    // concerns a card. False with `error` when it is not on disk yet.
    virtual bool Record(uint8_t operation, std::string content, std::string& error,
                        const std::string& cardNo = std::string(), int64_t feeCents = 0) = 0;
    // Where the history can be read; empty when there is none.
    virtual std::string HistoryPath() const = 0;
    // The history as a file to read now (empty when there is none), brought up to date first
    // where it is kept elsewhere; `warning` tells the operator what is amiss (a copy that could
    // not be brought up to date, a chain that does not hold).
    virtual std::string ReadableHistory(std::string& warning) {
        warning.clear();
        return HistoryPath();
    }
    // A mark of the register as it is shown now, for CCardChange::SetSeen(); it moves on when
    // another desk's change arrives.
    virtual uint64_t SeenMark() const { return 0; }
    // Whether the register is on a server (the operator's messages name it instead of the
    // disk).
    virtual bool Shared() const { return false; }

    // `listener` is told of every change applied, after it is applied, until the subscription
    // ends. A listener may subscribe or unsubscribe listeners while it is told.
    CCardSubscription Listen(Listener listener);

protected:
    // What `change` will tell the listeners: call before applying it.
    CCardNotice NoticeOf(const CCardChange& change) const;
    void Notify(const CCardNotice& notice);

private:
    friend class CCardSubscription;
    void Unsubscribe(uint64_t id);

    struct Entry {
        uint64_t id;
        Listener listener;  // empty: unsubscribed while notices were being told
    };
    std::vector<Entry> m_listeners;
    uint64_t m_nNextId = 1;
    int m_nNotifying = 0;
};
