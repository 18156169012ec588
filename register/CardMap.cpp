#include "register/CardMap.h"

#include <algorithm>
#include <new>
#include <utility>

#include "register/CardFields.h"

CCardMap::CCardMap(uint32_t hashTableSize) : m_buckets(hashTableSize == 0 ? 1 : hashTableSize) {}

CCardMap::~CCardMap() {
    RemoveAll();
}

CCardMap::CCardMap(CCardMap&& other) noexcept : m_buckets(other.m_buckets.size(), nullptr) {
    *this = std::move(other);
}

CCardMap& CCardMap::operator=(CCardMap&& other) noexcept {
    if (this != &other) {
        RemoveAll();
        std::swap(m_buckets, other.m_buckets);
        std::swap(m_nCount, other.m_nCount);
        std::swap(m_numbers, other.m_numbers);
        std::swap(m_textBuffer, other.m_textBuffer);
        std::swap(m_rooms, other.m_rooms);
    }
    return *this;
}

bool CCardMap::InitHashTable(uint32_t hashTableSize) {
    if (m_nCount != 0 || hashTableSize == 0) {
        return false;
    }
    m_buckets.assign(hashTableSize, nullptr);
    return true;
}

std::string_view CCardMap::AsKey(std::string_view key) {
    const size_t nul = key.find('\0');
    return nul == std::string_view::npos ? key : key.substr(0, nul);
}

uint32_t CCardMap::HashKey(std::string_view key) {
    uint32_t h = 0;
    for (char c : AsKey(key)) {
        h = h * 33 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    }
    return h;
}

uint32_t CCardMap::BucketOf(std::string_view key) const {
    return HashKey(key) % GetHashTableSize();
}

CCardMap::CAssoc* CCardMap::Find(std::string_view key) const {
    if (const int n = SearchedCardNo(key); n != 0) {
        return static_cast<size_t>(n) < m_numbers.size() ? m_numbers[static_cast<size_t>(n)]
                                                         : nullptr;
    }
    for (CAssoc* a = m_buckets[BucketOf(key)]; a != nullptr; a = a->pNext) {
        if (a->key == key) {
            return a;
        }
    }
    return nullptr;
}

CCard* CCardMap::Lookup(std::string_view key) const {
    const CAssoc* found = Find(AsKey(key));
    return found != nullptr ? found->value.get() : nullptr;
}

bool CCardMap::IsNumberTaken(int n) const {
    return n > 0 && static_cast<size_t>(n) < m_numbers.size() &&
           m_numbers[static_cast<size_t>(n)] != nullptr;
}

void CCardMap::IndexNumber(int n, CAssoc* entry) {
    if (n == 0) {
        return;
    }
    const auto at = static_cast<size_t>(n);
    if (at >= m_numbers.size()) {
        if (entry == nullptr) {
            return;
        }
        // In steps of 64 Ki numbers, so that a load in hash order grows it a few times only.
        constexpr size_t kStep = size_t{1} << 16;
        m_numbers.resize(std::min(kCardNumbers, (at / kStep + 1) * kStep), nullptr);
    }
    m_numbers[at] = entry;
}

void CCardMap::Reserve(size_t count) {
    if (count == 0) {
        return;
    }
    CRoom room;
    room.records = CBulkMemory(count * sizeof(CCard));
    room.entries = CBulkMemory(count * sizeof(CAssoc));
    room.capacity = count;
    m_rooms.push_back(std::move(room));
}

CRecordPtr CCardMap::NewRecord() {
    if (!m_rooms.empty() && m_rooms.back().recordsTaken < m_rooms.back().capacity) {
        CRoom& room = m_rooms.back();
        void* at = room.records.data() + room.recordsTaken++ * sizeof(CCard);
        return CRecordPtr(new (at) CCard, CRecordRelease(true));
    }
    return CRecordPtr(new CCard);
}

CCardMap::CAssoc* CCardMap::NewEntry(CAssoc* next, CCardText key, CRecordPtr card) {
    if (!m_rooms.empty() && m_rooms.back().entriesTaken < m_rooms.back().capacity) {
        CRoom& room = m_rooms.back();
        void* at = room.entries.data() + room.entriesTaken++ * sizeof(CAssoc);
        return new (at) CAssoc{next, std::move(key), std::move(card), true};
    }
    return new CAssoc{next, std::move(key), std::move(card), false};
}

void CCardMap::DeleteEntry(CAssoc* entry) {
    if (entry->reserved) {
        entry->~CAssoc();
    } else {
        delete entry;
    }
}

CCard* CCardMap::SetAt(CCardText key, CRecordPtr card) {
    if (AsKey(key).size() != key.size()) {
        key = AsKey(key);
    }
    if (CAssoc* existing = Find(key)) {
        existing->value = std::move(card);
        return existing->value.get();
    }
    CAssoc*& head = m_buckets[BucketOf(key)];
    head = NewEntry(head, std::move(key), std::move(card));
    ++m_nCount;
    IndexNumber(SearchedCardNo(head->key), head);
    return head->value.get();
}

bool CCardMap::RemoveKey(std::string_view key) {
    key = AsKey(key);
    for (CAssoc** link = &m_buckets[BucketOf(key)]; *link != nullptr; link = &(*link)->pNext) {
        if ((*link)->key == key) {
            CAssoc* gone = *link;
            *link = gone->pNext;
            // `key` may be the removed entry's own text: read its number before it goes.
            IndexNumber(SearchedCardNo(key), nullptr);
            DeleteEntry(gone);
            --m_nCount;
            return true;
        }
    }
    return false;
}

void CCardMap::RemoveAll() {
    for (CAssoc*& head : m_buckets) {
        while (head != nullptr) {
            CAssoc* next = head->pNext;
            DeleteEntry(head);
            head = next;
        }
    }
    m_nCount = 0;
    std::vector<CAssoc*>().swap(m_numbers);
    // Every record and entry in the rooms has been destroyed above; their memory goes now.
    m_rooms.clear();
    m_textBuffer = CBulkMemory();
}

CCardMap::const_iterator CCardMap::FirstFrom(uint32_t bucket) const {
    for (; bucket < m_buckets.size(); ++bucket) {
        if (m_buckets[bucket] != nullptr) {
            return const_iterator(this, bucket, m_buckets[bucket]);
        }
    }
    return const_iterator();
}

CCardMap::const_iterator CCardMap::begin() const {
    return FirstFrom(0);
}

CCardMap::const_iterator& CCardMap::const_iterator::operator++() {
    if (m_pAssoc->pNext != nullptr) {
        m_pAssoc = m_pAssoc->pNext;
    } else {
        *this = m_pMap->FirstFrom(m_nBucket + 1);
    }
    return *this;
}
