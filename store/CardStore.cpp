#include "store/CardStore.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

CCardSubscription& CCardSubscription::operator=(CCardSubscription&& other) noexcept {
    if (this != &other) {
        Cancel();
        m_pStore = std::exchange(other.m_pStore, nullptr);
        m_nId = other.m_nId;
    }
    return *this;
}

void CCardSubscription::Cancel() {
    if (m_pStore != nullptr) {
        std::exchange(m_pStore, nullptr)->Unsubscribe(m_nId);
    }
}

CCardSubscription CCardStore::Listen(Listener listener) {
    const uint64_t id = m_nNextId++;
    m_listeners.push_back({id, std::move(listener)});
    return CCardSubscription(this, id);
}

void CCardStore::Unsubscribe(uint64_t id) {
    const auto entry = std::find_if(m_listeners.begin(), m_listeners.end(),
                                    [id](const Entry& e) { return e.id == id; });
    if (entry == m_listeners.end()) {
        return;
    }
    if (m_nNotifying > 0) {
        entry->listener = nullptr;  // removed once the notice has been told
    } else {
        m_listeners.erase(entry);
    }
}

CCardNotice CCardStore::NoticeOf(const CCardChange& change) const {
    CCardNotice notice;
    notice.keys.reserve(change.Steps().size());
    std::unordered_set<std::string_view> added;
    for (const CCardChange::Step& step : change.Steps()) {
        notice.keys.push_back(step.key);
        if (step.card != nullptr && Cards().Lookup(step.key) == nullptr &&
            added.insert(step.key).second) {
            notice.added.push_back(step.key);
        }
    }
    return notice;
}

void CCardStore::Notify(const CCardNotice& notice) {
    ++m_nNotifying;
    // By index and by copy: a listener may add or remove listeners while it is told. Those
    // added are told from the next notice on.
    const size_t count = m_listeners.size();
    for (size_t i = 0; i < count; ++i) {
        if (m_listeners[i].listener) {
            const Listener listener = m_listeners[i].listener;
            listener(notice);
        }
    }
    if (--m_nNotifying == 0) {
        std::erase_if(m_listeners, [](const Entry& e) { return !e.listener; });
    }
}
