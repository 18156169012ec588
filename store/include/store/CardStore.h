#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "register/CardMap.h"
#include "store/CardChange.h"

// Whether a change may still be refused: one that no device has carried out yet is refused
// when it cannot be made durable; one that a device already carried out (a card written) is
// kept in memory all the same and made durable later.
enum class CommitMode { Refusable, DeviceDone };

enum class CommitResult {
    Durable,      // on disk and in the register
    Refused,      // not on disk: the register is unchanged
    NotYetSaved,  // in the register, not yet on disk (DeviceDone only): tried again later
};

// The one door through which the register changes. It makes each change durable, applies it
// to the in-memory register and tells whoever listens which cards changed. The register stays
// the map the rest of the program reads (its buckets and order unchanged).
class CCardStore {
public:
    using Listener = std::function<void(const std::vector<std::string>& keys)>;

    virtual ~CCardStore() = default;

    virtual const CCardMap& Cards() const = 0;
    // The highest serial number given out so far.
    virtual uint32_t MaxNumber() const = 0;
    // Makes `change` durable and applies it; `error` says why it is not on disk.
    virtual CommitResult Commit(CCardChange change, CommitMode mode, std::string& error) = 0;

    // `listener` is told the keys of every change applied, after it is applied; no keys:
    // the whole register was replaced.
    void Listen(Listener listener) { m_listeners.push_back(std::move(listener)); }

protected:
    void Notify(const std::vector<std::string>& keys) const {
        for (const Listener& listener : m_listeners) {
            listener(keys);
        }
    }

private:
    std::vector<Listener> m_listeners;
};
