#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/BulkMemory.h"
#include "register/Card.h"

// Ends a record's life: deletes it, or only destroys it when it lives in a map's reserved
// room (CCardMap::NewRecord). A std::unique_ptr<CCard> converts to a CRecordPtr.
struct CRecordRelease {
    CRecordRelease() = default;
    CRecordRelease(std::default_delete<CCard>) {}  // NOLINT: implicit, for make_unique
    explicit CRecordRelease(bool reserved) : reserved(reserved) {}
    void operator()(CCard* card) const {
        if (reserved) {
            card->~CCard();
        } else {
            delete card;
        }
    }
    bool reserved = false;
};
using CRecordPtr = std::unique_ptr<CCard, CRecordRelease>;

// The register: card number -> owned CCard, in a fixed-size chained hash table whose
// iteration order is part of the register file format:
//   hash h = h * 33 + c over the key's bytes (c as signed char, wrapping at 32 bits),
//   bucket = h % table size, a new key goes to the head of its bucket's chain,
//   iteration runs through the buckets in ascending order, each chain from its head.
// Keys are C strings: a key is taken up to its first NUL byte.
class CCardMap {
public:
    static constexpr uint32_t kRegisterHashSize = 12001;

    struct CAssoc {
        CAssoc* pNext = nullptr;
        CCardText key;
        CRecordPtr value;
        bool reserved = false;  // lives in the map's reserved room
    };

    class const_iterator {
    public:
        const_iterator() = default;
        const CAssoc& operator*() const { return *m_pAssoc; }
        const CAssoc* operator->() const { return m_pAssoc; }
        const_iterator& operator++();
        bool operator==(const const_iterator& o) const { return m_pAssoc == o.m_pAssoc; }
        bool operator!=(const const_iterator& o) const { return m_pAssoc != o.m_pAssoc; }

    private:
        friend class CCardMap;
        const_iterator(const CCardMap* map, uint32_t bucket, const CAssoc* assoc)
            : m_pMap(map), m_nBucket(bucket), m_pAssoc(assoc) {}
        const CCardMap* m_pMap = nullptr;
        uint32_t m_nBucket = 0;
        const CAssoc* m_pAssoc = nullptr;
    };

    explicit CCardMap(uint32_t hashTableSize = kRegisterHashSize);
    ~CCardMap();
    CCardMap(CCardMap&& other) noexcept;
    CCardMap& operator=(CCardMap&& other) noexcept;
    CCardMap(const CCardMap&) = delete;
    CCardMap& operator=(const CCardMap&) = delete;

    // Sets the number of buckets; only while the map is empty.
    bool InitHashTable(uint32_t hashTableSize);
    uint32_t GetHashTableSize() const { return static_cast<uint32_t>(m_buckets.size()); }

    size_t GetCount() const { return m_nCount; }
    bool IsEmpty() const { return m_nCount == 0; }

    // A key of six digits (a card number) is found through the index beside the buckets,
    // any other key through its bucket's chain.
    CCard* Lookup(std::string_view key) const;
    // Whether the card number n (1 ... 999999, the key "%06d") is in the map, from the index.
    bool IsNumberTaken(int n) const;
    // Inserts, or replaces the record of an existing key in its place. Returns the record. A
    // new key is kept as given (a borrowed key stays borrowed).
    CCard* SetAt(CCardText key, CRecordPtr card);
    // Removes and deletes the record; false when the key is not there.
    bool RemoveKey(std::string_view key);
    void RemoveAll();

    // Keeps `bytes` for as long as the records that borrow texts from it (CCardText::Borrowed):
    // until RemoveAll, or until the map is destroyed or replaced. Called once per load.
    void KeepTextBuffer(CBulkMemory bytes) { m_textBuffer = std::move(bytes); }

    // Room for `count` more records and their entries in two allocations, for a load that
    // knows its count: NewRecord and SetAt take from it until it is used up, then allocate
    // one by one. The room is given back by RemoveAll (a removed or replaced record's place
    // is not reused before).
    void Reserve(size_t count);
    // A new empty record, from the reserved room when there is some. It must be inserted with
    // SetAt, or dropped, before RemoveAll.
    CRecordPtr NewRecord();

    // Calls f(entry) for each entry under a card number, in ascending number, from the index.
    template <class F>
    void ForEachNumbered(F&& f) const {
        for (const CAssoc* entry : m_numbers) {
            if (entry != nullptr) {
                f(*entry);
            }
        }
    }

    const_iterator begin() const;
    const_iterator end() const { return const_iterator(); }

    static uint32_t HashKey(std::string_view key);
    uint32_t BucketOf(std::string_view key) const;

private:
    static std::string_view AsKey(std::string_view key);
    const_iterator FirstFrom(uint32_t bucket) const;

    CAssoc* Find(std::string_view key) const;
    // Enters the entry under its key's card number, or clears the number (nullptr).
    void IndexNumber(int n, CAssoc* entry);
    CAssoc* NewEntry(CAssoc* next, CCardText key, CRecordPtr card);
    static void DeleteEntry(CAssoc* entry);

    static constexpr size_t kCardNumbers = 1000000;

    // Reserved room: raw storage for records and entries, constructed as they are taken.
    struct CRoom {
        CBulkMemory records;
        CBulkMemory entries;
        size_t capacity = 0;
        size_t recordsTaken = 0;
        size_t entriesTaken = 0;
    };

    std::vector<CAssoc*> m_buckets;
    size_t m_nCount = 0;
    // The entry of each card number, so that a numbered key is found, and a new one inserted,
    // without walking a chain. Grows to the highest number held; empty until one comes.
    std::vector<CAssoc*> m_numbers;
    CBulkMemory m_textBuffer;
    std::vector<CRoom> m_rooms;
};
