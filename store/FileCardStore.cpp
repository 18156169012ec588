#include "store/FileCardStore.h"

#include <zlib.h>
#include <algorithm>
#include <cerrno>
#include <ctime>

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

bool IsCheckpointOf(const CJournal::Record& record, const RegisterFingerprint& fp) {
    return record.kind == CJournal::kCheckpoint && record.payload == CheckpointPayload(fp);
}

}  // namespace

CommitResult CFileCardStore::Commit(CCardChange change, CommitMode mode, std::string& error) {
    const CCardNotice notice = NoticeOf(change);
    if (!m_bAttached) {
        change.ApplyTo(m_map, m_maxNumber);
        Notify(notice);
        return CommitResult::Durable;
    }
    std::string record = CJournal::EncodeRecord(m_nNextSeq, CJournal::kChange, change.Encode());
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
    return result;
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
    m_nRecords = 0;
    CJournal::Contents contents;
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
                break;
            }
        }
    }
    bool trusted = !contents.Damaged() && start <= contents.records.size();
    std::vector<std::string_view> applied;
    for (size_t i = 0; i < contents.records.size(); ++i) {
        const CJournal::Record& record = contents.records[i];
        if (record.kind != CJournal::kChange) {
            continue;
        }
        if (i < start) {
            if (start > contents.records.size()) {
                ++report.ignored;
            }
            continue;
        }
        CCardChange change;
        if (!CCardChange::Decode(record.payload, change)) {
            ++report.lost;
            trusted = false;
            continue;
        }
        const CCardNotice notice = NoticeOf(change);
        change.ApplyTo(m_map, m_maxNumber);
        Notify(notice);
        applied.push_back(record.payload);
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
    for (const std::string_view payload : applied) {
        records += CJournal::EncodeRecord(m_nNextSeq++, CJournal::kChange, payload);
    }
    if (!records.empty() && !m_journal.Append(records, error)) {
        return false;
    }
    m_nRecords = applied.size();
    return true;
}

bool CFileCardStore::WriteRegister(std::string& error) {
    return WriteMap(m_map, error);
}

bool CFileCardStore::ReplaceAll(CCardMap cards, uint32_t maxNumber, std::string& error) {
    if (!WriteMap(cards, error)) {
        return false;
    }
    m_map = std::move(cards);
    m_maxNumber = std::max(m_maxNumber, maxNumber);
    Notify(CCardNotice());
    return true;
}

bool CFileCardStore::WriteMap(const CCardMap& cards, std::string& error) {
    RegisterFingerprint written;
    const auto observe = [&written](const void* data, size_t size) {
        written.crc = static_cast<uint32_t>(
            ::crc32(written.crc, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
        written.size += size;
    };
    // Before the file is replaced, the journal notes which file replaces it: a crash after
    // the replacement and before the journal is renewed then finds the journal already held
    // by the file. Where the note cannot be written, a restart keeps the journal aside.
    const auto note = [this, &written](std::string&) {
        std::string ignored;
        if (m_journal.IsOpen() &&
            AppendRecords(CJournal::EncodeRecord(m_nNextSeq, CJournal::kCheckpoint,
                                                 CheckpointPayload(written)),
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
    std::string journalError;
    if (m_journal.Create(JournalPath(), written, m_nNextSeq, journalError)) {
        m_nRecords = 0;
    }
    return true;
}
