#include "store/FileCardStore.h"

#include <zlib.h>
#include <algorithm>
#include <cerrno>
#include <ctime>

#include "base/LittleEndian.h"
#include "base/PosixIo.h"
#include "register/RegisterFile.h"

namespace {

std::string CheckpointPayload(const RegisterFingerprint& fp) {
    std::string out;
    for (int i = 0; i < 8; ++i) {
        out += static_cast<char>(fp.size >> (8 * i));
    }
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>(fp.crc >> (8 * i));
    }
    return out;
}

constexpr size_t kCheckpointSize = 12;

bool IsCheckpointOf(const CJournal::Record& record, const RegisterFingerprint& fp) {
    return record.kind == CJournal::kCheckpoint &&
           record.payload.substr(0, kCheckpointSize) == CheckpointPayload(fp);
}

// The first record, numbered from `first`, whose bytes in the file (`found`) differ from those
// written again (`written`) otherwise than by a write cut short or lost, which leaves bytes
// missing or zero; 0 when none does. Bytes found beyond those written name the record after
// them.
uint64_t FirstRewrittenChange(std::string_view found, std::string_view written,
                              const std::vector<std::string>& payloads, uint64_t first) {
    size_t start = 0;
    for (size_t k = 0; k < payloads.size(); ++k) {
        const size_t size =
            CHistoryFile::kRecordHeaderSize + payloads[k].size() + CHistoryFile::kHashSize;
        for (size_t i = start; i < start + size && i < found.size(); ++i) {
            if (found[i] != '\0' && found[i] != written[i]) {
                return first + k;
            }
        }
        start += size;
    }
    for (size_t i = start; i < found.size(); ++i) {
        if (found[i] != '\0') {
            return first + payloads.size();
        }
    }
    return 0;
}

}  // namespace

CommitResult CFileCardStore::Commit(CCardChange change, CommitMode mode, std::string& error) {
    const CCardNotice notice = NoticeOf(change);
    if (!m_bAttached) {
        change.ApplyTo(m_map, m_maxNumber);
        Notify(notice);
        return CommitResult::Durable;
    }
    // The change and its history records go to the journal in one record.
    const uint64_t first = NextHistoryNumber();
    std::vector<std::string> history = HistoryPayloads(change, m_map, Stamp(), first);
    std::string record;
    if (history.empty()) {
        record = CJournal::EncodeRecord(m_nNextSeq, CJournal::kChange, change.Encode());
    } else {
        const std::string encoded = change.Encode();
        std::string payload;
        PutLe32(payload, static_cast<uint32_t>(encoded.size()));
        payload += encoded;
        payload += CJournal::HistoryBlock(first, history);
        record = CJournal::EncodeRecord(m_nNextSeq, CJournal::kRecordedChange, payload);
    }
    CommitResult result = CommitResult::Durable;
    if (!AppendRecords(record, error)) {
        if (mode == CommitMode::Refusable) {
            return CommitResult::Refused;
        }
        m_unsaved.push_back(std::move(record));
        result = CommitResult::NotYetSaved;
    }
    ++m_nNextSeq;
    change.ApplyTo(m_map, m_maxNumber);
    Notify(notice);
    // The journal holds the records: one that cannot reach the history now waits for the next
    // append and is made good from the journal at the next start.
    std::string historyError;
    AppendHistory(std::move(history), historyError);
    return result;
}

bool CFileCardStore::AppendHistory(std::vector<std::string> payloads, std::string& error) {
    for (std::string& payload : payloads) {
        m_historyPending.push_back(std::move(payload));
    }
    if (m_historyPending.empty()) {
        return true;
    }
    if (!m_history.IsOpen()) {
        error = "操作记录没有打开";
        return false;
    }
    // Not flushed: the journal holds the records until the history is flushed before the
    // journal is renewed.
    if (!m_history.Append(m_historyPending, error, false)) {
        return false;
    }
    m_historyPending.clear();
    return true;
}

bool CFileCardStore::Record(uint8_t operation, std::string content, std::string& error,
                            const std::string& cardNo, int64_t feeCents) {
    if (!m_bAttached) {
        return true;
    }
    const uint64_t first = NextHistoryNumber();
    std::vector<std::string> payloads{
        EventPayload(operation, Stamp(), std::move(content), cardNo, feeCents)};
    std::string journalError;
    if (AppendRecords(CJournal::EncodeRecord(m_nNextSeq, CJournal::kHistory,
                                             CJournal::HistoryBlock(first, payloads)),
                      journalError)) {
        ++m_nNextSeq;
    }
    return AppendHistory(std::move(payloads), error);
}

bool CFileCardStore::AppendRecords(const std::string& record, std::string& error) {
    if (!m_journal.IsOpen()) {
        error = "操作日志没有打开";
        return false;
    }
    // Changes not yet on disk go first, in order, in the same write.
    std::string all;
    for (const std::string& unsaved : m_unsaved) {
        all += unsaved;
    }
    all += record;
    if (!m_journal.Append(all, error)) {
        return false;
    }
    m_nRecords += m_unsaved.size() + 1;
    m_unsaved.clear();
    return true;
}

bool CFileCardStore::NeedsFold() const {
    return m_nRecords >= kFoldRecords || m_journal.Size() >= kFoldBytes;
}

bool CFileCardStore::Open(const std::string& registerPath, OpenReport& report, std::string& error) {
    report = OpenReport();
    m_strRegisterPath = registerPath;
    m_bAttached = true;
    m_unsaved.clear();
    m_historyPending.clear();
    m_nRecords = 0;
    const size_t cardsBefore = m_map.GetCount();
    CJournal::Contents contents;
    size_t checkpoint = SIZE_MAX;
    const bool opened = OpenJournal(contents, checkpoint, report, error);
    OpenHistory(contents, checkpoint, cardsBefore, report);
    return opened;
}

bool CFileCardStore::OpenJournal(CJournal::Contents& contents, size_t& checkpoint,
                                 OpenReport& report, std::string& error) {
    const std::string& registerPath = m_strRegisterPath;
    if (!CJournal::Read(JournalPath(), contents, error)) {
        return false;
    }
    RegisterFingerprint current;
    if (!contents.exists) {
        return FingerprintOfFile(registerPath, current, error) &&
               m_journal.Create(JournalPath(), current, m_nNextSeq, error);
    }
    if (contents.headerValid && !contents.Damaged() && contents.records.empty()) {
        m_nNextSeq = contents.firstSeq;
        return m_journal.OpenAt(JournalPath(), contents.validEnd, error);
    }
    if (!FingerprintOfFile(registerPath, current, error)) {
        return false;
    }

    // The changes made since the register file was written: all of them when the journal
    // follows this file, those after its checkpoint when the file was written from the
    // journal (a crash before the journal was renewed), none when it follows another file.
    size_t start = contents.records.size() + 1;
    if (contents.headerValid && contents.base == current) {
        start = 0;
    } else {
        for (size_t i = contents.records.size(); i-- > 0;) {
            if (IsCheckpointOf(contents.records[i], current)) {
                start = i + 1;
                checkpoint = i;
                break;
            }
        }
    }
    bool trusted = !contents.Damaged() && start <= contents.records.size();
    std::vector<const CJournal::Record*> applied;
    for (size_t i = 0; i < contents.records.size(); ++i) {
        const CJournal::Record& record = contents.records[i];
        std::string_view encoded;
        std::string_view history;
        if (!CJournal::ChangeOf(record, encoded, history)) {
            continue;
        }
        if (i < start) {
            if (start > contents.records.size()) {
                ++report.ignored;
            }
            continue;
        }
        CCardChange change;
        if (!CCardChange::Decode(encoded, change)) {
            ++report.lost;
            trusted = false;
            continue;
        }
        const CCardNotice notice = NoticeOf(change);
        change.ApplyTo(m_map, m_maxNumber);
        Notify(notice);
        applied.push_back(&record);
        ++report.replayed;
    }
    report.lost += contents.damagedRecords;
    if (!contents.records.empty()) {
        m_nNextSeq = contents.records.back().seq + 1;
    } else if (contents.headerValid) {
        m_nNextSeq = contents.firstSeq;
    }
    if (trusted) {
        m_nRecords = contents.records.size();
        return m_journal.OpenAt(JournalPath(), contents.validEnd, error);
    }

    // Kept aside as it is; a fresh journal that follows the register file holds what was
    // applied from it, so that nothing recovered depends on the old one.
    report.keptAs = DamagedRegisterName(JournalPath(), std::time(nullptr));
    if (Io().rename(JournalPath().c_str(), report.keptAs.c_str()) != 0) {
        error = "无法把操作日志 " + JournalPath() + " 改名留存:" + ErrnoText(errno);
        report.keptAs.clear();
        return false;
    }
    report.keptAside = true;
    if (!m_journal.Create(JournalPath(), current, m_nNextSeq, error)) {
        return false;
    }
    std::string records;
    for (const CJournal::Record* record : applied) {
        records += CJournal::EncodeRecord(m_nNextSeq++, static_cast<CJournal::Kind>(record->kind),
                                          record->payload);
    }
    if (!records.empty() && !m_journal.Append(records, error)) {
        return false;
    }
    m_nRecords = applied.size();
    return true;
}

void CFileCardStore::OpenHistory(const CJournal::Contents& journal, size_t checkpoint,
                                 size_t cardsBefore, OpenReport& report) {
    m_history.Close();
    CHistoryFile::Contents contents;
    if (!CHistoryFile::Read(HistoryPath(), contents, report.historyError)) {
        return;
    }
    if (contents.exists && !contents.headerValid) {
        // Not a history this program can append to: kept aside as it is, and a new one begun.
        const std::string keptAs = DamagedRegisterName(HistoryPath(), std::time(nullptr));
        if (Io().rename(HistoryPath().c_str(), keptAs.c_str()) != 0) {
            report.historyError =
                "无法把操作记录 " + HistoryPath() + " 改名留存:" + ErrnoText(errno);
            return;
        }
        report.historyKeptAs = keptAs;
        contents = CHistoryFile::Contents();
    }
    CHistoryFile::Verify(contents);
    report.historyRecords = contents.records.size();
    report.historyBrokenAt = contents.brokenAt;
    // A new history begins with the register as it was found.
    std::vector<std::string> begun;
    if (!contents.exists) {
        begun.push_back(EventPayload(HistoryOperation::Begun, Stamp(),
                                     "登记中有" + std::to_string(cardsBefore) + "张卡片"));
    }

    // The history records the journal holds, in order: those of every change since the
    // register file was written.
    struct Block {
        uint64_t first;
        std::vector<std::string_view> payloads;
    };
    std::vector<Block> blocks;
    uint64_t journalFirst = UINT64_MAX;
    for (size_t i = 0; i < journal.records.size(); ++i) {
        const CJournal::Record& record = journal.records[i];
        std::string_view block;
        std::string_view change;
        if (record.kind == CJournal::kHistory) {
            block = record.payload;
        } else if (record.kind == CJournal::kRecordedChange) {
            if (!CJournal::ChangeOf(record, change, block)) {
                continue;
            }
        } else if (record.kind == CJournal::kCheckpoint && i == checkpoint &&
                   record.payload.size() > kCheckpointSize) {
            block = record.payload.substr(kCheckpointSize);
        } else {
            continue;
        }
        Block decoded;
        if (CJournal::DecodeHistoryBlock(block, decoded.first, decoded.payloads) &&
            !decoded.payloads.empty()) {
            journalFirst = std::min(journalFirst, decoded.first);
            blocks.push_back(std::move(decoded));
        }
    }

    // The history is flushed to disk only before the journal is renewed: what was appended
    // since may be cut short or missing after a power cut. Those records are the journal's:
    // they are cut off and written again from it, byte for byte as a clean run wrote them.
    uint64_t keepThrough = UINT64_MAX;
    std::string found;  // what stands after the records kept
    if (journalFirst != UINT64_MAX && CHistoryFile::CanKeepThrough(contents, journalFirst - 1)) {
        keepThrough = journalFirst - 1;
        uint64_t keptEnd = CHistoryFile::kHeaderSize;
        if (keepThrough > 0) {
            const CHistoryFile::Record last = contents.records[keepThrough - 1];
            keptEnd = last.offset + CHistoryFile::kRecordHeaderSize + last.payload.size() +
                      CHistoryFile::kHashSize;
        }
        found.assign(contents.Bytes().substr(keptEnd));
    }
    // (Nothing of `contents` is read once the file is cut: the mapping ends with the file.)
    const uint64_t before = contents.exists ? contents.LastNumber() : 0;
    if (!m_history.Open(HistoryPath(), contents, report.historyError, begun, keepThrough)) {
        return;
    }
    report.historyOpen = true;

    // What the journal holds beyond the history, in order (a history begun just now holds
    // none of it).
    std::vector<std::string> recovered;
    uint64_t highest = contents.exists ? m_history.NextNumber() - 1 : 0;
    const uint64_t kept = highest;
    for (const Block& block : blocks) {
        for (size_t k = 0; k < block.payloads.size(); ++k) {
            if (block.first + k > highest) {
                recovered.emplace_back(block.payloads[k]);
                highest = block.first + k;
            }
        }
    }
    if (keepThrough != UINT64_MAX) {
        // What stood there is checked against what is written again: a record changed by hand
        // since the last flush is still told, though the journal's own takes its place.
        CHistoryFile::Hash last{};
        const std::string written = CHistoryFile::EncodeRecords(recovered, m_history.NextNumber(),
                                                                m_history.LastHash(), last);
        report.historyBrokenAt =
            FirstRewrittenChange(found, written, recovered, m_history.NextNumber());
    }
    // Only the records the history lacked count as made good.
    const uint64_t after = kept + recovered.size();
    report.historyRecovered = after > before ? after - before : 0;
    std::string error;
    if (!AppendHistory(std::move(recovered), error)) {
        report.historyError = error;
    }
}

bool CFileCardStore::WriteRegister(std::string& error) {
    return WriteMap(m_map, {}, error);
}

bool CFileCardStore::ReplaceAll(CCardMap cards, uint32_t maxNumber, std::string& error,
                                const std::string& source) {
    std::vector<std::string> history;
    if (m_bAttached) {
        std::string content = "卡片" + std::to_string(cards.GetCount()) + "张; 替换了" +
                              std::to_string(m_map.GetCount()) + "张";
        if (!source.empty()) {
            content = "文件:" + source + "; " + content;
        }
        history.push_back(EventPayload(HistoryOperation::Import, Stamp(), std::move(content)));
    }
    if (!WriteMap(cards, history, error)) {
        return false;
    }
    m_map = std::move(cards);
    m_maxNumber = std::max(m_maxNumber, maxNumber);
    Notify(CCardNotice());
    return true;
}

bool CFileCardStore::WriteMap(const CCardMap& cards, const std::vector<std::string>& history,
                              std::string& error) {
    const uint64_t historyFirst = NextHistoryNumber();
    RegisterFingerprint written;
    const auto observe = [&written](const void* data, size_t size) {
        written.crc = static_cast<uint32_t>(
            ::crc32(written.crc, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
        written.size += size;
    };
    // Before the file is replaced, the journal notes which file replaces it: a crash after
    // the replacement and before the journal is renewed then finds the journal already held
    // by the file. Where the note cannot be written, a restart keeps the journal aside.
    const auto note = [&](std::string&) {
        std::string ignored;
        std::string payload = CheckpointPayload(written);
        if (!history.empty()) {
            payload += CJournal::HistoryBlock(historyFirst, history);
        }
        if (m_journal.IsOpen() &&
            AppendRecords(CJournal::EncodeRecord(m_nNextSeq, CJournal::kCheckpoint, payload),
                          ignored)) {
            ++m_nNextSeq;
        }
        return true;
    };
    if (!SaveRegisterFile(cards, m_strRegisterPath, BackupPath(), error, observe, note)) {
        return false;
    }
    m_unsaved.clear();
    if (!m_bAttached) {
        return true;
    }
    // The history takes what the journal about to be renewed holds for it; what it cannot
    // take yet goes into the new journal.
    std::string historyError;
    AppendHistory(history, historyError);
    // The journal is renewed only once the history holds on disk what the journal held for it.
    if (m_history.IsOpen() && !m_history.Flush(historyError)) {
        return true;
    }
    std::string journalError;
    if (m_journal.Create(JournalPath(), written, m_nNextSeq, journalError)) {
        m_nRecords = 0;
        if (!m_historyPending.empty() &&
            m_journal.Append(CJournal::EncodeRecord(
                                 m_nNextSeq, CJournal::kHistory,
                                 CJournal::HistoryBlock(m_history.NextNumber(), m_historyPending)),
                             journalError)) {
            ++m_nNextSeq;
            ++m_nRecords;
        }
    }
    return true;
}
