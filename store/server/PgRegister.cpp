#include "server/PgRegister.h"

#include "PgCards.h"
#include "store/HistoryEntry.h"

namespace {

// Cards inserted by one statement when a register is pushed.
constexpr int kRowsAStatement = 500;

}  // namespace

bool LoadPgRegister(CPgConnection& connection, CCardMap& map, uint32_t& maxNumber,
                    std::unordered_map<std::string, int64_t>& versions, std::string& error) {
    CPgResult cards = connection.Exec(std::string("SELECT card_key, row_version, ") +
                                          kPgCardFields + " FROM orvane_cards ORDER BY position",
                                      {}, {}, true);
    CPgResult installation =
        connection.Exec("SELECT max_number FROM orvane_installation", {}, {}, true);
    if (!cards.Ok() || !installation.Ok() || installation.Rows() != 1) {
        error = !cards.Ok() ? cards.Error() : installation.Error();
        return false;
    }
    map.RemoveAll();
    versions.clear();
    map.Reserve(static_cast<size_t>(cards.Rows()));
    for (int row = 0; row < cards.Rows(); ++row) {
        std::string key(cards.Cell(row, 0));
        versions[key] = PgInteger(cards.Cell(row, 1));
        map.SetAt(key, PgCardOf(cards, row, 2));
    }
    maxNumber = static_cast<uint32_t>(PgInteger(installation.Cell(0, 0)));
    return true;
}

bool PushPgRegister(CPgConnection& connection, const CCardMap& map, uint32_t maxNumber,
                    const std::string& source, const HistoryStamp& stamp, std::string& error) {
    std::string ignored;
    const auto fail = [&connection, &ignored] {
        connection.Run("ROLLBACK", ignored);
        return false;
    };
    if (!connection.Run("BEGIN", error) || !connection.Run(kPgChangeLock, error)) {
        return fail();
    }
    CPgResult count = connection.Exec("SELECT count(*) FROM orvane_cards");
    if (!count.Ok()) {
        error = count.Error();
        return fail();
    }
    if (count.Cell(0, 0) != "0") {
        error = "服务器上的卡片登记已有" + std::string(count.Cell(0, 0)) +
                "张卡片,只能载入到没有卡片的登记中";
        return fail();
    }
    // The cards in the map's order, which is the order a register file loads them in.
    std::vector<std::string> params;
    std::vector<bool> binary;
    std::string values;
    int64_t position = 0;
    const auto flush = [&]() {
        if (params.empty()) {
            return true;
        }
        CPgResult inserted =
            connection.Exec(std::string("INSERT INTO orvane_cards (card_key, ") + kPgCardFields +
                                ", changed_by, position) VALUES " + values,
                            params, binary);
        params.clear();
        binary.clear();
        values.clear();
        if (!inserted.Ok()) {
            error = inserted.Error();
            return false;
        }
        return true;
    };
    int rows = 0;
    for (const CCardMap::CAssoc& entry : map) {
        const int first = static_cast<int>(params.size()) + 1;
        params.emplace_back(entry.key.view());
        binary.push_back(true);
        AddPgCardFields(*entry.value, params, binary);
        params.push_back(stamp.desk);
        binary.push_back(false);
        params.push_back(std::to_string(++position));
        binary.push_back(false);
        values += (values.empty() ? "(" : ", (") + PgPlaceholders(first, 22) + ")";
        if (++rows == kRowsAStatement) {
            rows = 0;
            if (!flush()) {
                return fail();
            }
        }
    }
    if (!flush()) {
        return fail();
    }
    CPgResult counter = connection.Exec("UPDATE orvane_installation SET max_number = $1",
                                        {std::to_string(maxNumber)});
    if (!counter.Ok()) {
        error = counter.Error();
        return fail();
    }
    std::string content = "卡片" + std::to_string(map.GetCount()) + "张; 替换了0张";
    if (!source.empty()) {
        content = "文件:" + source + "; " + content;
    }
    if (!AppendPgHistory(connection,
                         {EventPayload(HistoryOperation::Import, stamp, std::move(content))},
                         error) ||
        !connection.Run("COMMIT", error)) {
        return fail();
    }
    return true;
}
