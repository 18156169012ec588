#include "server/PgHistoryCopy.h"

#include <functional>
#include <string_view>
#include <vector>

#include "PgCards.h"
#include "base/SafeFile.h"
#include "store/HistoryFile.h"

namespace {

// Records read from the server by one statement, so that a long history never sits in memory
// whole.
constexpr int kBatch = 10000;

std::string_view View(const CHistoryFile::Hash& hash) {
    return {reinterpret_cast<const char*>(hash.data()), hash.size()};
}

// A walk along the server's chain: the record expected next and the hash it follows.
struct ChainWalk {
    uint64_t next = 1;
    CHistoryFile::Hash previous{};
    uint64_t brokenAt = 0;
    uint64_t count = 0;  // records read
};

// Hands each batch's payloads, in order, to the file.
using TakeBatch = std::function<bool(const std::vector<std::string>& payloads, std::string&)>;

// Checks the consecutive records `payloads` from `walk.next` on against their stored hashes,
// hashed in one go (setting the digest up for each record would cost more than hashing it).
void CheckRun(const std::vector<std::string>& payloads, const std::vector<std::string_view>& stored,
              ChainWalk& walk) {
    if (payloads.empty()) {
        return;
    }
    CHistoryFile::Hash last{};
    const std::string encoded =
        CHistoryFile::EncodeRecords(payloads, walk.next, walk.previous, last);
    size_t at = 0;
    for (size_t i = 0; i < payloads.size(); ++i) {
        at += CHistoryFile::kRecordHeaderSize + payloads[i].size();
        if (walk.brokenAt == 0 &&
            stored[i] != std::string_view(encoded).substr(at, CHistoryFile::kHashSize)) {
            walk.brokenAt = walk.next + i;
        }
        at += CHistoryFile::kHashSize;
    }
    walk.previous = last;
    walk.next += payloads.size();
    walk.count += payloads.size();
}

// Reads the server's records from `walk.next` on, checking each against the chain. At a
// missing number the walk ends when `take` is given (the file cannot skip a number), and goes
// on after it otherwise.
bool WalkPgHistory(CPgConnection& connection, ChainWalk& walk, const TakeBatch& take,
                   std::string& error) {
    for (;;) {
        CPgResult rows = connection.Exec(
            "SELECT number, payload, hash FROM orvane_history WHERE number >= $1 "
            "ORDER BY number LIMIT " +
                std::to_string(kBatch),
            {std::to_string(walk.next)}, {}, true);
        if (!rows.Ok()) {
            error = rows.Error();
            return false;
        }
        std::vector<std::string> payloads;
        std::vector<std::string_view> stored;
        bool ended = false;
        for (int row = 0; row < rows.Rows(); ++row) {
            const auto number = static_cast<uint64_t>(PgInteger(rows.Cell(row, 0)));
            if (number != walk.next + payloads.size()) {
                CheckRun(payloads, stored, walk);
                if (walk.brokenAt == 0) {
                    walk.brokenAt = walk.next;
                }
                if (take) {
                    ended = true;
                    break;
                }
                payloads.clear();
                stored.clear();
                walk.next = number;
            }
            payloads.emplace_back(rows.Cell(row, 1));
            stored.push_back(rows.Cell(row, 2));
        }
        if (!ended) {
            CheckRun(payloads, stored, walk);
        }
        if (take && !payloads.empty() && !take(payloads, error)) {
            return false;
        }
        if (ended || rows.Rows() < kBatch) {
            return true;
        }
    }
}

// Whether the file's records are the server's records 1..N: numbered 1..N, the file's own
// chain whole, the server's record N the same payload, and its hash the one the server's
// chain gives over the file's payloads. `chain` is that hash.
bool HoldsServerRecords(CPgConnection& connection, CHistoryFile::Contents& contents,
                        CHistoryFile::Hash& chain, std::string& error, bool& holds) {
    holds = false;
    chain = {};
    if (!contents.exists || !contents.headerValid) {
        return true;
    }
    CHistoryFile::Verify(contents);
    if (contents.brokenAt != 0) {
        return true;
    }
    const uint64_t last = contents.LastNumber();
    if (last == 0) {
        holds = true;
        return true;
    }
    CPgResult server = connection.Exec("SELECT payload, hash FROM orvane_history WHERE number = $1",
                                       {std::to_string(last)}, {}, true);
    if (!server.Ok()) {
        error = server.Error();
        return false;
    }
    if (server.Rows() != 1 || server.Cell(0, 0) != contents.records.back().payload) {
        return true;
    }
    std::vector<std::string> batch;
    for (size_t i = 0; i < contents.records.size(); i += batch.size()) {
        batch.clear();
        for (size_t k = i;
             k < contents.records.size() && batch.size() < static_cast<size_t>(kBatch); ++k) {
            batch.emplace_back(contents.records[k].payload);
        }
        CHistoryFile::EncodeRecords(batch, i + 1, chain, chain);
    }
    holds = server.Cell(0, 1) == View(chain);
    return true;
}

}  // namespace

bool CopyPgHistory(CPgConnection& connection, const std::string& path, uint64_t& brokenAt,
                   std::string& error) {
    brokenAt = 0;
    CHistoryFile::Contents contents;
    ChainWalk walk;
    bool holds = false;
    if (!CHistoryFile::Read(path, contents, error) ||
        !HoldsServerRecords(connection, contents, walk.previous, error, holds)) {
        return false;
    }
    CHistoryFile file;
    const TakeBatch append = [&file](const std::vector<std::string>& payloads, std::string& why) {
        return file.Append(payloads, why, false);
    };
    if (holds) {
        walk.next = contents.LastNumber() + 1;
        const bool copied = file.Open(path, contents, error) &&
                            WalkPgHistory(connection, walk, append, error) && file.Flush(error);
        brokenAt = walk.brokenAt;
        return copied;
    }
    walk.previous = {};
    // A new file under the replacement's temporary name (the history file puts its header
    // there in place of the empty file), renamed over the old one once every record is in it
    // and on disk; the old one stays as it was until then.
    CFileReplacement replacement;
    if (!replacement.Open(path, error) ||
        !file.Open(replacement.TempPath(), CHistoryFile::Contents(), error) ||
        !WalkPgHistory(connection, walk, append, error) || !file.Flush(error)) {
        return false;
    }
    file.Close();
    if (!replacement.Commit(error)) {
        return false;
    }
    brokenAt = walk.brokenAt;
    return true;
}

bool VerifyPgHistory(CPgConnection& connection, uint64_t& brokenAt, uint64_t& count,
                     std::string& error) {
    ChainWalk walk;
    const bool read = WalkPgHistory(connection, walk, TakeBatch(), error);
    brokenAt = walk.brokenAt;
    count = walk.count;
    return read;
}
