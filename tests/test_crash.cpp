// Crash tests: a child process runs a fixed sequence of changes through the real store, its
// journal and the register file, and is ended at the N-th write or flush, as a killed process
// or as a power cut; the parent starts the register again and checks that every confirmed
// change is there, that the change in progress is there whole or not at all, and that the
// files load, and that the history holds exactly the records of the changes the register
// holds, its chain whole. N runs over every write and flush of the sequence.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "CrashSim.h"
#include "StoreTestUtil.h"
#include "TestUtil.h"
#include "store/HistoryFile.h"

namespace {

using Step = std::function<bool(CFileCardStore&)>;

bool Commit(CFileCardStore& store, CCardChange change, CommitMode mode = CommitMode::Refusable) {
    std::string error;
    return store.Commit(std::move(change), mode, error) == CommitResult::Durable;
}

CCardChange Batch(int first, int count) {
    CCardChange change(CardOperation::Enrol, static_cast<uint32_t>(first + count));
    for (int n = first; n < first + count; ++n) {
        const std::string key = "000" + std::to_string(n);
        auto card = MakeCard(key, n);
        card->m_strName = "resident " + std::to_string(n);
        change.Put(key, std::move(card));
    }
    return change;
}

// The day's work: every kind of change, a fold of the journal and an import.
std::vector<Step> Sequence() {
    return {
        [](CFileCardStore& s) { return Commit(s, PutCard("000001", "one", 11)); },
        [](CFileCardStore& s) { return Commit(s, PutCard("000002", "two", 12)); },
        [](CFileCardStore& s) {
            return Commit(s, PutCard("000003", "issued", 13, CardOperation::Issue),
                          CommitMode::DeviceDone);
        },
        [](CFileCardStore& s) { return Commit(s, RemoveCard("000001", 13)); },
        [](CFileCardStore& s) { return Commit(s, Batch(700, 5)); },
        [](CFileCardStore& s) {
            return Commit(s, PutCard("000002", "two changed", 12, CardOperation::Save));
        },
        [](CFileCardStore& s) {
            std::string error;
            return s.WriteRegister(error);
        },
        [](CFileCardStore& s) { return Commit(s, PutCard("000001", "one again", 706)); },
        [](CFileCardStore& s) { return Commit(s, RemoveCard("000700", 706)); },
        [](CFileCardStore& s) {
            CCardMap imported;
            imported.SetAt("000050", MakeCard("000050", 50));
            imported.SetAt("000051", MakeCard("000051", 51));
            std::string error;
            return s.ReplaceAll(std::move(imported), 51, error);
        },
        [](CFileCardStore& s) { return Commit(s, PutCard("000010", "after import", 52)); },
        [](CFileCardStore& s) { return Commit(s, Batch(800, 3)); },
    };
}

std::string InitialRegister() {
    CCardMap map;
    for (int n = 1; n <= 3; ++n) {
        map.SetAt("00090" + std::to_string(n), MakeCard("00090" + std::to_string(n), n));
    }
    return RegisterBytes(map);
}

// The register after each step (0: before the first), as a run without a crash makes it, and
// the number of history records then.
struct Expected {
    std::vector<std::string> states;
    std::vector<size_t> historyRecords;
};

// The records of the history beside `registerPath`, its chain checked.
CHistoryFile::Contents HistoryOf(const std::string& registerPath) {
    CHistoryFile::Contents contents;
    std::string error;
    EXPECT_TRUE(CHistoryFile::Read(registerPath + ".history", contents, error)) << error;
    CHistoryFile::Verify(contents);
    return contents;
}

Expected ExpectedStates() {
    TempDir dir;
    WriteFile(dir / "cardbook.kcd", InitialRegister());
    Restarted desk(dir / "cardbook.kcd");
    Expected expected;
    expected.states.push_back(RegisterBytes(desk.map));
    expected.historyRecords.push_back(HistoryOf(dir / "cardbook.kcd").records.size());
    for (const Step& step : Sequence()) {
        EXPECT_TRUE(step(desk.store));
        expected.states.push_back(RegisterBytes(desk.map));
        expected.historyRecords.push_back(HistoryOf(dir / "cardbook.kcd").records.size());
    }
    return expected;
}

struct Outcome {
    int status = -1;
    int confirmed = 0;  // the steps that returned before the crash
    int count = 0;      // writes and flushes counted (a run without a crash)
};

// Runs the sequence in a child in `dir`, crashing at `crashAt` (0: never).
Outcome RunChild(const TempDir& dir, CrashSim::Mode mode, int crashAt, uint32_t seed) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        CrashSim::Install(mode, crashAt, seed);
        Restarted desk(dir / "cardbook.kcd");
        int confirmed = 0;
        for (const Step& step : Sequence()) {
            if (!desk.opened || !step(desk.store)) {
                ::_exit(3);
            }
            ++confirmed;
            [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &confirmed, sizeof confirmed);
        }
        const int count = CrashSim::Count();
        [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &count, sizeof count);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    Outcome outcome;
    std::vector<int> numbers;
    int value = 0;
    while (::read(pipeFds[0], &value, sizeof value) == sizeof value) {
        numbers.push_back(value);
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (outcome.status == 0 && !numbers.empty()) {
        outcome.count = numbers.back();
        numbers.pop_back();
    }
    outcome.confirmed = numbers.empty() ? 0 : numbers.back();
    return outcome;
}

void CrashAtEveryCall(CrashSim::Mode mode) {
    const Expected expected = ExpectedStates();
    const std::vector<std::string>& states = expected.states;
    int total = 0;
    {
        TempDir dir;
        WriteFile(dir / "cardbook.kcd", InitialRegister());
        const Outcome clean = RunChild(dir, mode, 0, 0);
        ASSERT_EQ(clean.status, 0);
        ASSERT_EQ(clean.confirmed, static_cast<int>(states.size()) - 1);
        total = clean.count;
        Restarted after(dir / "cardbook.kcd");
        EXPECT_EQ(RegisterBytes(after.map), states.back());
    }
    ASSERT_GT(total, 30);
    for (int n = 1; n <= total; ++n) {
        SCOPED_TRACE("crash at call " + std::to_string(n));
        TempDir dir;
        WriteFile(dir / "cardbook.kcd", InitialRegister());
        const Outcome crashed = RunChild(dir, mode, n, static_cast<uint32_t>(n * 7919));
        ASSERT_EQ(crashed.status, CrashSim::kCrashExit);

        Restarted restarted(dir / "cardbook.kcd");
        ASSERT_TRUE(restarted.opened) << restarted.error;
        EXPECT_FALSE(restarted.report.keptAside) << "nothing in the journal may look damaged";
        CCardMap loaded;
        uint32_t maxNumber = 0;
        std::string error;
        EXPECT_EQ(LoadRegisterFile(dir / "cardbook.kcd", loaded, maxNumber, error),
                  RegisterLoad::Loaded)
            << error;
        // Every confirmed step is there; the one in progress whole or not at all.
        const std::string now = RegisterBytes(restarted.map);
        const size_t k = static_cast<size_t>(crashed.confirmed);
        const bool before = now == states[k];
        const bool after = k + 1 < states.size() && now == states[k + 1];
        EXPECT_TRUE(before || after) << "confirmed " << k << " steps";
        // The history: whole, and with the records of exactly those changes.
        EXPECT_TRUE(restarted.report.historyOpen) << restarted.report.historyError;
        const CHistoryFile::Contents history = HistoryOf(dir / "cardbook.kcd");
        EXPECT_EQ(history.brokenAt, 0u);
        EXPECT_EQ(history.records.size(), expected.historyRecords[before ? k : k + 1]);
    }
}

TEST(Crash, KilledAtEveryWriteAndFlush) {
    CrashAtEveryCall(CrashSim::Mode::Kill);
}

TEST(Crash, PowerCutAtEveryWriteAndFlush) {
    CrashAtEveryCall(CrashSim::Mode::PowerCut);
}

}  // namespace
