#include "server/PgOutbox.h"

#include <algorithm>
#include <random>

#include "base/LittleEndian.h"

namespace {

CPgOutbox::Id NewId() {
    std::random_device random;
    CPgOutbox::Id id{};
    for (uint8_t& byte : id) {
        byte = static_cast<uint8_t>(random());
    }
    return id;
}

}  // namespace

std::string CPgOutbox::Encode(const Id& id, const Deferred& deferred) {
    std::string payload(reinterpret_cast<const char*>(id.data()), id.size());
    PutLe32(payload, static_cast<uint32_t>(deferred.change.size()));
    payload += deferred.change;
    PutLe32(payload, static_cast<uint32_t>(deferred.versions.size()));
    for (const int64_t version : deferred.versions) {
        PutLe64(payload, static_cast<uint64_t>(version));
    }
    payload += CJournal::HistoryBlock(0, deferred.history);
    return payload;
}

bool CPgOutbox::Decode(std::string_view payload, Id& id, Deferred& deferred) {
    if (payload.size() < id.size() + 4) {
        return false;
    }
    std::copy_n(payload.begin(), id.size(), id.begin());
    payload.remove_prefix(id.size());
    const uint32_t changeLength = GetLe32(payload.data());
    if (changeLength > payload.size() - 4) {
        return false;
    }
    deferred.change = payload.substr(4, changeLength);
    payload.remove_prefix(4 + changeLength);
    if (payload.size() < 4) {
        return false;
    }
    const uint32_t count = GetLe32(payload.data());
    payload.remove_prefix(4);
    if (count > payload.size() / 8) {
        return false;
    }
    deferred.versions.clear();
    for (uint32_t i = 0; i < count; ++i) {
        deferred.versions.push_back(static_cast<int64_t>(GetLe64(payload.data())));
        payload.remove_prefix(8);
    }
    uint64_t first = 0;
    std::vector<std::string_view> history;
    if (!CJournal::DecodeHistoryBlock(payload, first, history)) {
        return false;
    }
    deferred.history.assign(history.begin(), history.end());
    return true;
}

bool CPgOutbox::Open(const std::string& path, uint64_t& lost, std::string& error) {
    m_strPath = path;
    m_pending.clear();
    lost = 0;
    CJournal::Contents contents;
    if (!CJournal::Read(path, contents, error)) {
        return false;
    }
    m_id = NewId();
    if (!contents.exists || !contents.headerValid) {
        // A header that cannot be read leaves nothing that can be trusted to be sent.
        lost = contents.exists ? contents.records.size() + contents.damagedRecords : 0;
        return m_journal.Create(path, RegisterFingerprint(), 1, error);
    }
    lost = contents.damagedRecords;
    bool named = false;
    for (const CJournal::Record& record : contents.records) {
        Id id{};
        Deferred deferred;
        deferred.seq = record.seq;
        if (record.kind != CJournal::kDeferredChange || !Decode(record.payload, id, deferred)) {
            ++lost;
            continue;
        }
        // One outbox has one name; its records keep the one it had when they were written.
        if (!named) {
            m_id = id;
            named = true;
        }
        m_pending.push_back(std::move(deferred));
    }
    m_nNextSeq = contents.records.empty() ? contents.firstSeq : contents.records.back().seq + 1;
    return m_journal.OpenAt(path, contents.validEnd, error);
}

bool CPgOutbox::Add(Deferred deferred, std::string& error) {
    deferred.seq = m_nNextSeq++;
    const std::string record =
        CJournal::EncodeRecord(deferred.seq, CJournal::kDeferredChange, Encode(m_id, deferred));
    m_pending.push_back(std::move(deferred));
    return m_journal.IsOpen() ? m_journal.Append(record, error)
                              : (error = "本机的待送文件没有打开", false);
}

void CPgOutbox::Delivered() {
    if (!m_pending.empty()) {
        m_pending.erase(m_pending.begin());
    }
}

bool CPgOutbox::Renew(std::string& error) {
    if (!m_pending.empty() || m_strPath.empty() || m_journal.Size() <= CJournal::kHeaderSize) {
        return true;
    }
    // A fresh name too: the server's mark of this outbox stays with the records it covered.
    m_id = NewId();
    return m_journal.Create(m_strPath, RegisterFingerprint(), m_nNextSeq, error);
}
