#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/AppendFile.h"

// Which register file a journal follows: its size and CRC-32. A missing or empty register is
// {0, 0}.
struct RegisterFingerprint {
    uint64_t size = 0;
    uint32_t crc = 0;
    bool operator==(const RegisterFingerprint&) const = default;
};

// The fingerprint of the file at `path`; false with `error` when it exists but cannot be read.
bool FingerprintOfFile(const std::string& path, RegisterFingerprint& fingerprint,
                       std::string& error);

// The journal beside the register: an append-only file of records, each flushed to disk
// (fdatasync) before the change it holds is confirmed.
//
//   header  "KCDJRNL\1", u32 version, u32 0, u64 register size, u32 register CRC-32,
//           u64 first sequence number, u32 CRC-32 of the 36 bytes before it
//   record  u32 marker, u32 payload length, u64 sequence number, u8 kind, 3 zero bytes,
//           u32 CRC-32 of the payload, u32 CRC-32 of the 24 bytes before it; the payload
//
// Integers are little-endian. Sequence numbers run on without a gap, also across the journal's
// renewal. A record counts only when both checksums hold and its number is the next one; an
// incomplete record at the end (cut by a crash) is ignored, one that is damaged before valid
// ones is reported.
class CJournal {
public:
    enum Kind : uint8_t {
        kChange = 1,          // a CCardChange
        kCheckpoint = 2,      // the fingerprint of a register about to replace the current one,
                              // then the history records of that replacement (as kHistory)
        kHistory = 3,         // history records: u64 number of the first, u32 count, then each
                              // as u32 length and payload
        kRecordedChange = 4,  // u32 length of a CCardChange, the change, then its history
                              // records (as kHistory), so that both are whole or neither is
        kDeferredChange = 5,  // a change kept for a server that was away (CPgOutbox)
    };

    struct Record {
        uint64_t seq = 0;
        uint8_t kind = 0;
        std::string_view payload;  // into Contents::bytes
    };

    // What a journal file holds.
    struct Contents {
        bool exists = false;
        bool headerValid = false;
        RegisterFingerprint base;
        uint64_t firstSeq = 1;
        std::vector<Record> records;  // the valid ones, in order
        uint64_t validEnd = 0;        // the offset after the last valid record
        uint64_t tornBytes = 0;       // bytes after it that form no valid record
        uint64_t damagedRecords = 0;  // sequence numbers lost to damage before valid records
        uint64_t damagedBytes = 0;    // bytes skipped over in the middle
        std::string bytes;
        bool Damaged() const { return !headerValid || damagedBytes != 0; }
    };

    static constexpr size_t kHeaderSize = 40;
    static constexpr size_t kRecordHeaderSize = 28;

    CJournal() = default;
    CJournal(const CJournal&) = delete;
    CJournal& operator=(const CJournal&) = delete;

    // Reads the journal at `path` whole. False with `error` only when the file exists but
    // cannot be read; a missing file gives `exists` false.
    static bool Read(const std::string& path, Contents& contents, std::string& error);
    // Finds the header and the valid records in `contents.bytes` (Read does this).
    static void Parse(Contents& contents);

    // The change (a CCardChange's encoding) and its history records of a record that holds a
    // change (kChange: no history records); false for other records and damaged ones.
    static bool ChangeOf(const Record& record, std::string_view& change, std::string_view& history);

    // A kHistory payload: `payloads` numbered from `first`.
    static std::string HistoryBlock(uint64_t first, const std::vector<std::string>& payloads);
    // The history records of a kHistory payload, with the number of the first; false when the
    // block is damaged.
    static bool DecodeHistoryBlock(std::string_view block, uint64_t& first,
                                   std::vector<std::string_view>& payloads);

    // One record's bytes.
    static std::string EncodeRecord(uint64_t seq, Kind kind, std::string_view payload);

    // Replaces the journal at `path` with an empty one that follows the register `base` and
    // numbers from `nextSeq`, safely (a complete file or the old one), and opens it in place
    // of the old one; on failure the old one stays open.
    bool Create(const std::string& path, const RegisterFingerprint& base, uint64_t nextSeq,
                std::string& error);
    // Opens an existing journal for appending after its valid records: what follows them
    // (a torn record) is cut off first.
    bool OpenAt(const std::string& path, uint64_t validEnd, std::string& error);
    void Close();
    bool IsOpen() const { return m_file.IsOpen(); }

    // Appends the bytes of whole records and flushes them to disk. On failure the journal is
    // cut back to where it was (as far as the disk allows) and `error` says what failed.
    bool Append(std::string_view records, std::string& error);

    const std::string& Path() const { return m_file.Path(); }
    uint64_t Size() const { return m_file.Size(); }

private:
    CAppendFile m_file;
};
