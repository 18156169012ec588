#include "register/CardMap.h"

#include <utility>

#include "register/CardFields.h"

CCardMap::CCardMap(uint32_t hashTableSize) : m_buckets(hashTableSize == 0 ? 1 : hashTableSize) {}

CCardMap::~CCardMap() {
    RemoveAll();
}

CCardMap::CCardMap(CCardMap&& other) noexcept
    : m_buckets(std::move(other.m_buckets)),
      m_nCount(other.m_nCount),
      m_numbers(std::move(other.m_numbers)) {
    other.m_buckets.assign(m_buckets.size(), nullptr);
    other.m_nCount = 0;
    other.m_numbers.clear();
}

CCardMap& CCardMap::operator=(CCardMap&& other) noexcept {
    if (this != &other) {
        RemoveAll();
        std::swap(m_buckets, other.m_buckets);
        std::swap(m_nCount, other.m_nCount);
        std::swap(m_numbers, other.m_numbers);
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

CCard* CCardMap::Lookup(std::string_view key) const {
    key = AsKey(key);
    for (CAssoc* a = m_buckets[BucketOf(key)]; a != nullptr; a = a->pNext) {
        if (a->key == key) {
            return a->value.get();
        }
    }
    return nullptr;
}

bool CCardMap::IsNumberTaken(int n) const {
    return n > 0 && static_cast<size_t>(n) < m_numbers.size() && m_numbers[static_cast<size_t>(n)];
}

void CCardMap::MarkNumber(std::string_view key, bool taken) {
    const int n = SearchedCardNo(key);
    if (n == 0) {
        return;
    }
    if (m_numbers.empty()) {
        m_numbers.assign(1000000, false);
    }
    m_numbers[static_cast<size_t>(n)] = taken;
}

CCard* CCardMap::SetAt(std::string_view key, std::unique_ptr<CCard> card) {
    key = AsKey(key);
    CAssoc*& head = m_buckets[BucketOf(key)];
    for (CAssoc* a = head; a != nullptr; a = a->pNext) {
        if (a->key == key) {
            a->value = std::move(card);
            return a->value.get();
        }
    }
    auto* assoc = new CAssoc{head, std::string(key), std::move(card)};
    head = assoc;
    ++m_nCount;
    MarkNumber(key, true);
    return assoc->value.get();
}

bool CCardMap::RemoveKey(std::string_view key) {
    key = AsKey(key);
    for (CAssoc** link = &m_buckets[BucketOf(key)]; *link != nullptr; link = &(*link)->pNext) {
        if ((*link)->key == key) {
            CAssoc* gone = *link;
            *link = gone->pNext;
            delete gone;
            --m_nCount;
            MarkNumber(key, false);
            return true;
        }
    }
    return false;
}

void CCardMap::RemoveAll() {
    for (CAssoc*& head : m_buckets) {
        while (head != nullptr) {
            CAssoc* next = head->pNext;
            delete head;
            head = next;
        }
    }
    m_nCount = 0;
    m_numbers.clear();
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
