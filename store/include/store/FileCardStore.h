#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "register/CardMap.h"
#include "store/CardStore.h"
#include "store/Journal.h"

// The register on this machine: the register file as it has always been written, and beside
// it the journal ("<register>.journal") that holds every change since that file was written.
// Until Open() attaches a journal, changes are applied in memory only.
class CFileCardStore : public CCardStore {
public:
    // The journal grows to at most about this much before it is folded into the register.
    static constexpr size_t kFoldRecords = 10000;
    static constexpr uint64_t kFoldBytes = 4u << 20;

    // What Open() found.
    struct OpenReport {
        size_t replayed = 0;     // changes applied from the journal
        uint64_t lost = 0;       // changes that damage made unreadable
        size_t ignored = 0;      // changes not applied: the journal follows another file
        bool keptAside = false;  // the journal was renamed to `keptAs`
        std::string keptAs;
    };

    CFileCardStore(CCardMap& map, uint32_t& maxNumber) : m_map(map), m_maxNumber(maxNumber) {}

    const CCardMap& Cards() const override { return m_map; }
    uint32_t MaxNumber() const override { return m_maxNumber; }
    CommitResult Commit(CCardChange change, CommitMode mode, std::string& error) override;

    // Attaches the journal of the register at `registerPath`, after the register was loaded
    // from that file into the map: the journal's changes are applied in order. A journal that
    // is damaged, or that follows another register file, is renamed aside (never deleted)
    // after what can be trusted was applied; the register should then be written at once
    // (WriteRegister) so that a fresh journal follows it. False with `error` when the journal
    // cannot be read or created; the store then works in memory only.
    bool Open(const std::string& registerPath, OpenReport& report, std::string& error);
    bool IsOpen() const { return m_journal.IsOpen(); }
    // Names the register file without attaching a journal (WriteRegister writes it).
    void Locate(const std::string& registerPath) { m_strRegisterPath = registerPath; }
    const std::string& RegisterPath() const { return m_strRegisterPath; }

    // Writes the register file (with its backup) and then renews the journal, which the file
    // now holds. False with `error` when the file could not be written: it and the backup are
    // as they were, and the journal still holds every change.
    bool WriteRegister(std::string& error);
    // Writes `cards` as the register file (with its backup), renews the journal and only then
    // makes them the register (an import): on failure nothing has changed.
    bool ReplaceAll(CCardMap cards, uint32_t maxNumber, std::string& error);
    // Whether the journal has grown past its bound.
    bool NeedsFold() const;
    // Changes a device carried out that are not yet on disk.
    size_t Unsaved() const { return m_unsaved.size(); }

    size_t JournalRecords() const { return m_nRecords; }
    std::string JournalPath() const { return m_strRegisterPath + kJournalSuffix; }
    std::string BackupPath() const { return m_strRegisterPath + ".old"; }

    static constexpr const char* kJournalSuffix = ".journal";

private:
    bool WriteMap(const CCardMap& cards, std::string& error);
    bool AppendRecords(const std::string& first, std::string& error);

    CCardMap& m_map;
    uint32_t& m_maxNumber;
    std::string m_strRegisterPath;
    CJournal m_journal;
    bool m_bAttached = false;  // Open() was called: changes must reach the journal
    uint64_t m_nNextSeq = 1;
    size_t m_nRecords = 0;
    // Encoded records of changes already applied but not yet in the journal, in order.
    std::vector<std::string> m_unsaved;
};
