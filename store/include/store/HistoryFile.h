#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/AppendFile.h"

// The history beside the register ("<register>.history"): every change, append-only, never
// shortened or rewritten. Each record carries a SHA-256 over the previous record's hash and
// its own content, so a record changed, removed or moved breaks the chain from there on.
//
//   header  "KCDHIST\1", u32 version, u32 0, u64 creation time, u32 0, u32 0  (32 bytes)
//   record  u32 marker "KCHR", u32 payload length, u64 record number (from 1), the payload
//           (CHistoryEntry::Encode), then 32 bytes SHA-256(previous hash, the 16 bytes of
//           marker, length and number, payload); the first record follows the SHA-256 of the
//           header.
//
// Integers are little-endian.
class CHistoryFile {
public:
    using Hash = std::array<uint8_t, 32>;

    static constexpr size_t kHeaderSize = 32;
    static constexpr size_t kRecordHeaderSize = 16;
    static constexpr size_t kHashSize = 32;

    // A record as it stands in the file.
    struct Record {
        uint64_t number = 0;
        uint64_t offset = 0;       // of its header in the file
        std::string_view payload;  // into the mapped file
        const uint8_t* hash = nullptr;
    };

    // The records of a file, found by their offsets alone (8 bytes a record, so that a
    // million records take little memory) and read from the mapped file when asked for.
    class RecordList {
    public:
        size_t size() const { return m_offsets.size(); }
        bool empty() const { return m_offsets.empty(); }
        Record operator[](size_t i) const;
        Record back() const { return (*this)[size() - 1]; }

        class const_iterator {
        public:
            const_iterator(const RecordList* list, size_t i) : m_pList(list), m_nIndex(i) {}
            Record operator*() const { return (*m_pList)[m_nIndex]; }
            const_iterator& operator++() {
                ++m_nIndex;
                return *this;
            }
            bool operator!=(const const_iterator& other) const {
                return m_nIndex != other.m_nIndex;
            }

        private:
            const RecordList* m_pList;
            size_t m_nIndex;
        };
        const_iterator begin() const { return {this, 0}; }
        const_iterator end() const { return {this, size()}; }

        // Whether bytes that form no record stand before record `i`.
        bool AfterGap(size_t i) const;

    private:
        friend class CHistoryFile;
        const char* m_pData = nullptr;
        std::vector<uint64_t> m_offsets;
        std::vector<size_t> m_gaps;  // indices of records after such bytes, ascending
    };

    // A history file read whole (mapped read-only; valid while this lives).
    class Contents {
    public:
        Contents() = default;
        ~Contents();
        Contents(Contents&& other) noexcept;
        Contents& operator=(Contents&& other) noexcept;
        Contents(const Contents&) = delete;
        Contents& operator=(const Contents&) = delete;

        bool exists = false;
        bool headerValid = false;
        int64_t created = 0;
        // Every record whose structure is whole, in file order (after damage, the walk goes
        // on at the next whole record).
        RecordList records;
        uint64_t validEnd = 0;   // the offset after the last whole record
        uint64_t tornBytes = 0;  // bytes after it that form no whole record (a cut write)
        // The position (1-based) of the first record that is not as written: changed,
        // missing, moved, or bytes that are no record in the middle; 0 when the chain holds.
        // Set by Verify().
        uint64_t brokenAt = 0;
        bool verified = false;

        std::string_view Bytes() const { return {m_pData, m_nSize}; }
        uint64_t LastNumber() const { return records.empty() ? 0 : records.back().number; }
        Hash LastHash() const;

    private:
        friend class CHistoryFile;
        const char* m_pData = nullptr;
        size_t m_nSize = 0;
        void Unmap();
    };

    // Reads the history at `path` (a missing file gives `exists` false) and finds its records.
    // False with `error` only when it exists but cannot be read.
    static bool Read(const std::string& path, Contents& contents, std::string& error);
    // Checks the chain of `contents` and sets brokenAt.
    static void Verify(Contents& contents);

    // The bytes of records `payloads` numbered from `firstNumber`, chained after `previous`;
    // `last` is the hash of the last of them.
    static std::string EncodeRecords(const std::vector<std::string>& payloads, uint64_t firstNumber,
                                     const Hash& previous, Hash& last);

    CHistoryFile() = default;
    CHistoryFile(const CHistoryFile&) = delete;
    CHistoryFile& operator=(const CHistoryFile&) = delete;

    // Opens the history at `path` for appending after what `contents` found there (a cut
    // record at the end is removed first), or creates it when it does not exist, whole with
    // its first records `first`. With `keepThrough`, the records after that number are cut
    // off first (they are written again from the journal, which holds them).
    bool Open(const std::string& path, const Contents& contents, std::string& error,
              const std::vector<std::string>& first = {}, uint64_t keepThrough = UINT64_MAX);
    // Whether the records after `number` can be cut off and written again: the records up to
    // it stand in their places, their chain whole.
    static bool CanKeepThrough(const Contents& contents, uint64_t number);
    bool IsOpen() const { return m_file.IsOpen(); }
    void Close() { m_file.Close(); }

    // Appends the entries' payloads as the next records, flushed to disk unless `flush` is
    // false (Flush() then does it). On failure nothing counts as written.
    bool Append(const std::vector<std::string>& payloads, std::string& error, bool flush = true);
    bool Flush(std::string& error) { return m_file.Flush(error); }
    // The number the next record gets, and the hash it follows.
    uint64_t NextNumber() const { return m_nLastNumber + 1; }
    const Hash& LastHash() const { return m_lastHash; }
    const std::string& Path() const { return m_file.Path(); }

private:
    CAppendFile m_file;
    uint64_t m_nLastNumber = 0;
    Hash m_lastHash{};
};
