// The register on a PostgreSQL server on this machine (a throwaway one, scripts/pg-temp.sh),
// against the register file:
//   1. start-up: 100,000 and 999,999 cards loaded from the server against from the file,
//      page cache warm, best of RUNS; and the time the register took to put on the server;
//   2. a change's round trip: Commit() of one card, median and 99th percentile;
//   3. a change shown on the other desk: from Commit() at one desk to the card read again at
//      the other, which waits on its notice socket;
//   4. the server's history of 1,000,000 records copied into a history file: afresh, then with
//      1,000 new records, then with none.
//   pg_bench [RUNS]

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/Measure.h"
#include "bench/SampleCards.h"
#include "register/CardFields.h"
#include "register/RegisterFile.h"
#include "server/PgCardStore.h"
#include "server/PgHistoryCopy.h"
#include "server/PgRegister.h"
#include "server/PgSchema.h"
#include "store/HistoryEntry.h"
#include "store/HistoryFile.h"

namespace {

// The server, started in `folder` and stopped when this ends.
struct Server {
    std::string folder;
    std::string conninfo;
    explicit Server(const std::string& dir) : folder(dir) {
        const std::string command = std::string(PG_TEMP_SCRIPT) + " start " + folder;
        FILE* out = ::popen(command.c_str(), "r");
        char line[1024] = {};
        if (out == nullptr || std::fgets(line, sizeof line, out) == nullptr || ::pclose(out) != 0) {
            Fail("pg-temp.sh", "the server did not start");
        }
        conninfo = line;
        while (!conninfo.empty() && conninfo.back() == '\n') {
            conninfo.pop_back();
        }
    }
    ~Server() {
        const std::string command = std::string(PG_TEMP_SCRIPT) + " stop " + folder;
        [[maybe_unused]] int ignored = std::system(command.c_str());
    }
};

// Appends `count` records to the server's history, chained after its last one, 1,000 rows a
// statement.
void AddHistory(CPgConnection& connection, uint64_t count) {
    CPgResult last = connection.Exec(
        "SELECT number, hash FROM orvane_history ORDER BY number DESC LIMIT 1", {}, {}, true);
    if (!last.Ok()) {
        Fail("history", last.Error());
    }
    CHistoryFile::Hash previous{};
    uint64_t number = 0;  // of the last record
    if (last.Rows() == 1) {
        for (const char c : last.Cell(0, 0)) {
            number = (number << 8) | static_cast<uint8_t>(c);
        }
        std::memcpy(previous.data(), last.Cell(0, 1).data(), previous.size());
    }
    ++number;
    const uint64_t end = number + count;
    while (number < end) {
        std::vector<std::string> params;
        std::vector<bool> binary;
        std::string values;
        for (int row = 0; row < 1000 && number < end; ++row, ++number) {
            const std::string payload =
                EventPayload(HistoryOperation::Export, CurrentStamp(),
                             "文件:/media/usb/cardbook" + std::to_string(number) + ".kcd");
            CHistoryFile::EncodeRecords({payload}, number, previous, previous);
            const size_t first = params.size() + 1;
            values += (values.empty() ? "($" : ", ($") + std::to_string(first) + ", $" +
                      std::to_string(first + 1) + ", $" + std::to_string(first + 2) + ")";
            params.push_back(std::to_string(number));
            params.push_back(payload);
            params.emplace_back(reinterpret_cast<const char*>(previous.data()), previous.size());
            binary.insert(binary.end(), {false, true, true});
        }
        CPgResult inserted = connection.Exec(
            "INSERT INTO orvane_history (number, payload, hash) VALUES " + values, params, binary);
        if (!inserted.Ok()) {
            Fail("history", inserted.Error());
        }
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("pg_bench." + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "server");
    {
        Server server((dir / "server").string());
        std::printf("1. start-up, best of %d\n", runs);
        for (const uint32_t count : {100000u, 999999u}) {
            CCardMap cards;
            uint32_t maxNumber = 0;
            if (!LoadSampleCards(cards, maxNumber, count, dir.string())) {
                return 1;
            }
            CPgConnection connection;
            std::string error;
            if (!connection.Connect(server.conninfo, error) ||
                !UpgradePgSchema(connection, error) ||
                !connection.Run("TRUNCATE orvane_cards", error)) {
                Fail("connect", error);
            }
            const auto pushStart = Clock::now();
            if (!PushPgRegister(connection, cards, maxNumber, "", CurrentStamp(), error)) {
                Fail("push", error);
            }
            const double pushed = Ms(pushStart);
            std::string file = (dir / "cardbook.kcd").string();
            if (!SaveRegisterFile(cards, file, std::string(), error)) {
                Fail(file, error);
            }
            double fromServer = 1e9;
            double fromFile = 1e9;
            for (int run = 0; run < runs; ++run) {
                CCardMap loaded;
                uint32_t highest = 0;
                std::unordered_map<std::string, int64_t> versions;
                auto start = Clock::now();
                if (!LoadPgRegister(connection, loaded, highest, versions, error)) {
                    Fail("load", error);
                }
                fromServer = std::min(fromServer, Ms(start));
                CCardMap read;
                start = Clock::now();
                if (LoadRegisterFile(file, read, highest, error) != RegisterLoad::Loaded) {
                    Fail(file, error);
                }
                fromFile = std::min(fromFile, Ms(start));
            }
            std::printf(
                "   %7u cards: server %8.1f ms, file %7.1f ms, ratio %.1fx; put on the server "
                "in %.1f ms\n",
                count, fromServer, fromFile, fromServer / fromFile, pushed);
        }

        // 2 and 3 on a small register.
        CPgConnection cleaner;
        std::string error;
        if (!cleaner.Connect(server.conninfo, error) ||
            !cleaner.Run("TRUNCATE orvane_cards", error)) {
            Fail("truncate", error);
        }
        CCardMap frontMap;
        CCardMap otherMap;
        uint32_t frontMax = 0;
        uint32_t otherMax = 0;
        CPgCardStore front(frontMap, frontMax);
        CPgCardStore other(otherMap, otherMax);
        if (!front.Open(server.conninfo, error) || !other.Open(server.conninfo, error)) {
            Fail("open", error);
        }
        std::vector<double> commits;
        std::vector<double> shown;
        for (int i = 0; i < 1000; ++i) {
            const std::string key = CardNoText(i % 100 + 1);
            auto card = std::make_unique<CCard>();
            card->m_strCardNo = key;
            card->m_strPhone = std::to_string(13800000000LL + i);
            CCardChange change(CardOperation::Save, 1);
            change.Put(key, std::move(card));
            const auto start = Clock::now();
            if (front.Commit(std::move(change), CommitMode::Refusable, error) !=
                CommitResult::Durable) {
                Fail("commit", error);
            }
            commits.push_back(Ms(start));
            pollfd fd{other.NoticeSocket(), POLLIN, 0};
            while (other.TakeOtherDesksChanges() == 0) {
                ::poll(&fd, 1, 1000);
            }
            shown.push_back(Ms(start));
        }
        std::printf("2. a change's round trip (1,000 commits): median %.3f ms, p99 %.3f ms\n",
                    Percentile(commits, 0.5), Percentile(commits, 0.99));
        std::printf("3. shown on the other desk: median %.3f ms, p99 %.3f ms\n",
                    Percentile(shown, 0.5), Percentile(shown, 0.99));

        AddHistory(cleaner, 1000000);
        const std::string copy = (dir / "history").string();
        double taken[3] = {};
        for (double& ms : taken) {
            uint64_t brokenAt = 0;
            const auto start = Clock::now();
            if (!CopyPgHistory(cleaner, copy, brokenAt, error) || brokenAt != 0) {
                Fail("history copy", error + " " + std::to_string(brokenAt));
            }
            ms = Ms(start);
            if (&ms == &taken[0]) {
                AddHistory(cleaner, 1000);
            }
        }
        std::printf(
            "4. the history into a file: afresh %.1f ms, 1,000 new records %.1f ms, none "
            "new %.1f ms\n",
            taken[0], taken[1], taken[2]);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
