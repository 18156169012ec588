#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "register/CardMap.h"
#include "store/CardHistory.h"
#include "store/CardStore.h"
#include "store/HistoryFile.h"
#include "store/Journal.h"

// The register on this machine: the register file as it has always been written, beside it
// the journal ("<register>.journal") that holds every change since that file was written, and
// the history ("<register>.history") of every change ever made. Until Open() attaches the
// journal and the history, changes are applied in memory only.
//
// A change's history records travel in the journal with the change, in the same flushed
// write, and are then appended to the history; a crash between the two is made good at the
// next start from the journal. An import's record travels in the journal's note of the file
// that replaces the register, so that it is in the history exactly when the import happened.
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
        // The history: its records, the first that is not as written (0: none), and whether
        // it could be opened for appending (`historyError` says why not).
        uint64_t historyRecords = 0;
        uint64_t historyBrokenAt = 0;
        uint64_t historyRecovered = 0;  // records made good from the journal
        bool historyOpen = false;
        std::string historyError;
        std::string historyKeptAs;  // a history whose header was damaged, renamed aside
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
    // makes them the register (an import of the file `source`, recorded in the history): on
    // failure nothing has changed.
    bool ReplaceAll(CCardMap cards, uint32_t maxNumber, std::string& error,
                    const std::string& source = std::string());
    // Records what is no change of the register (an export, the system password changed).
    // False with `error` when it is not on disk yet; it is then written with the next change.
    bool Record(uint8_t operation, std::string content, std::string& error,
                const std::string& cardNo = std::string(), int64_t feeCents = 0) override;
    // Who and when the next records name; CurrentStamp() unless set (tests).
    void SetStamp(std::function<HistoryStamp()> stamp) { m_stamp = std::move(stamp); }
    std::string HistoryPath() const override { return m_strRegisterPath + kHistorySuffix; }
    // History records not yet on disk.
    size_t HistoryUnsaved() const { return m_historyPending.size(); }
    // Whether the journal has grown past its bound.
    bool NeedsFold() const;
    // Changes a device carried out that are not yet on disk.
    size_t Unsaved() const { return m_unsaved.size(); }

    size_t JournalRecords() const { return m_nRecords; }
    std::string JournalPath() const { return m_strRegisterPath + kJournalSuffix; }
    std::string BackupPath() const { return m_strRegisterPath + ".old"; }

    static constexpr const char* kJournalSuffix = ".journal";
    static constexpr const char* kHistorySuffix = ".history";

private:
    // `history`: the records of the replacement (an import), in the journal's note of it.
    bool WriteMap(const CCardMap& cards, const std::vector<std::string>& history,
                  std::string& error);
    bool AppendRecords(const std::string& first, std::string& error);
    bool OpenJournal(CJournal::Contents& contents, size_t& checkpoint, OpenReport& report,
                     std::string& error);
    // Opens the history and appends to it what the journal holds beyond it.
    void OpenHistory(const CJournal::Contents& journal, size_t checkpoint, size_t cardsBefore,
                     OpenReport& report);
    uint64_t NextHistoryNumber() const { return m_history.NextNumber() + m_historyPending.size(); }
    // Appends `payloads` (and those still waiting) to the history.
    bool AppendHistory(std::vector<std::string> payloads, std::string& error);
    HistoryStamp Stamp() const { return m_stamp ? m_stamp() : CurrentStamp(); }

    CCardMap& m_map;
    uint32_t& m_maxNumber;
    std::string m_strRegisterPath;
    CJournal m_journal;
    bool m_bAttached = false;  // Open() was called: changes must reach the journal
    uint64_t m_nNextSeq = 1;
    size_t m_nRecords = 0;
    // Encoded records of changes already applied but not yet in the journal, in order.
    std::vector<std::string> m_unsaved;
    CHistoryFile m_history;
    // History records (payloads) not yet in the history file, in order.
    std::vector<std::string> m_historyPending;
    std::function<HistoryStamp()> m_stamp;
};
