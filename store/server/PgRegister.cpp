#include "server/PgRegister.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#include "PgCards.h"
#include "store/HistoryEntry.h"

namespace {

// The binary COPY format: a signature, flags, an extension area; then each row as a 16-bit
// field count and each field as a 32-bit length (-1 for NULL) and its bytes; a count of -1
// ends it. Integers are big-endian.
constexpr char kCopySignature[] = "PGCOPY\n\377\r\n";  // with its NUL, 11 bytes
constexpr size_t kSignatureSize = 11;
constexpr size_t kCopyHeaderSize = kSignatureSize + 8;
constexpr int kLoadedColumns = 21;  // card_key, row_version, the 19 fields
constexpr int kPushedColumns = 23;  // card_key, the 19 fields, changed_by, position, row_version
// The COPY of a push goes to the server in pieces of about this size.
constexpr size_t kCopyPiece = size_t{1} << 20;

constexpr const char* kChannel = "orvane_cards";

void PutBe(std::string& out, uint64_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
        out += static_cast<char>((value >> shift) & 0xFF);
    }
}

uint64_t GetBe(const char* at, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = (value << 8) | static_cast<uint8_t>(at[i]);
    }
    return value;
}

// The bytes an integer field of the record takes in its column: integer or smallint.
template <class Field>
constexpr int ColumnBytes() {
    static_assert(sizeof(Field) == 4 || sizeof(Field) == 1, "a field with no column type");
    return sizeof(Field) == 4 ? 4 : 2;
}

// Each column's size for the integer columns of a loaded row; -1 for bytea.
std::vector<int> LoadedColumnSizes() {
    std::vector<int> sizes{-1, 8};
    CCard card;
    CCard::VisitFields(card, [&sizes](const char*, const auto& field) {
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, CCardText>) {
            sizes.push_back(-1);
        } else {
            sizes.push_back(ColumnBytes<Field>());
        }
    });
    return sizes;
}

std::string ConnectionError(CPgConnection& connection) {
    std::string error = PQerrorMessage(connection.Raw());
    while (!error.empty() && (error.back() == '\n' || error.back() == ' ')) {
        error.pop_back();
    }
    return error.empty() ? "与服务器的连接中断" : error;
}

// Takes the results that end a COPY; false with the first one's error that failed.
bool FinishCopy(CPgConnection& connection, std::string& error) {
    bool ok = true;
    while (PGresult* raw = PQgetResult(connection.Raw())) {
        CPgResult result(raw);
        if (ok && !result.Ok()) {
            error = result.Error();
            ok = false;
        }
    }
    return ok;
}

// Starts `sql`, a COPY, and checks that the server is ready for its data in `direction`.
bool StartCopy(CPgConnection& connection, const std::string& sql, ExecStatusType direction,
               std::string& error) {
    if (connection.Raw() == nullptr) {
        error = "没有连接服务器";
        return false;
    }
    PGresult* raw = PQexec(connection.Raw(), sql.c_str());
    const bool started = raw != nullptr && PQresultStatus(raw) == direction;
    CPgResult result(raw);
    if (!started) {
        error = result.Error();
    }
    return started;
}

// The whole output of a COPY ... TO STDOUT in one block; `size` its length.
bool ReceiveCopy(CPgConnection& connection, const std::string& sql, CBulkMemory& stream,
                 size_t& size, std::string& error) {
    if (!StartCopy(connection, sql, PGRES_COPY_OUT, error)) {
        return false;
    }
    // libpq hands over a buffer a row; they are joined once the total is known.
    struct Pieces : std::vector<std::pair<char*, size_t>> {
        ~Pieces() {
            for (const auto& piece : *this) {
                PQfreemem(piece.first);
            }
        }
    } pieces;
    size = 0;
    bool received = true;
    for (;;) {
        char* piece = nullptr;
        const int length = PQgetCopyData(connection.Raw(), &piece, 0);
        if (length > 0) {
            pieces.emplace_back(piece, static_cast<size_t>(length));
            size += static_cast<size_t>(length);
            continue;
        }
        if (length == -2) {
            error = ConnectionError(connection);
            received = false;
        }
        break;
    }
    std::string ignored;
    received = FinishCopy(connection, received ? error : ignored) && received;
    if (received && size == 0) {
        error = "服务器没有送来卡片数据";
        received = false;
    }
    if (received) {
        stream = CBulkMemory(size);
        size_t at = 0;
        for (const auto& [piece, length] : pieces) {
            std::memcpy(stream.data() + at, piece, length);
            at += length;
        }
    }
    return received;
}

// Appends a bytea or text field.
void PutField(std::string& out, std::string_view bytes) {
    PutBe(out, bytes.size(), 4);
    out += bytes;
}

void PutIntegerField(std::string& out, int64_t value, int bytes) {
    PutBe(out, static_cast<uint64_t>(bytes), 4);
    PutBe(out, static_cast<uint64_t>(value), bytes);
}

// Sends the cards of `map` in its order through COPY, at positions 1..n, each at `rowVersion`.
bool SendCards(CPgConnection& connection, const CCardMap& map, const std::string& desk,
               int64_t rowVersion, std::string& error) {
    if (!StartCopy(connection,
                   std::string("COPY orvane_cards (card_key, ") + kPgCardFields +
                       ", changed_by, position, row_version) FROM STDIN (FORMAT binary)",
                   PGRES_COPY_IN, error)) {
        return false;
    }
    std::string out(kCopySignature, kSignatureSize);
    PutBe(out, 0, 4);  // flags
    PutBe(out, 0, 4);  // no header extension
    const auto send = [&connection, &out, &error]() {
        if (PQputCopyData(connection.Raw(), out.data(), static_cast<int>(out.size())) != 1) {
            error = ConnectionError(connection);
            return false;
        }
        out.clear();
        return true;
    };
    bool sent = true;
    int64_t position = 0;
    for (const CCardMap::CAssoc& entry : map) {
        PutBe(out, kPushedColumns, 2);
        PutField(out, entry.key.view());
        CCard::VisitFields(*entry.value, [&out](const char*, const auto& field) {
            using Field = std::decay_t<decltype(field)>;
            if constexpr (std::is_same_v<Field, CCardText>) {
                PutField(out, field.view());
            } else {
                PutIntegerField(out, field, ColumnBytes<Field>());
            }
        });
        PutField(out, desk);
        PutIntegerField(out, ++position, 8);
        PutIntegerField(out, rowVersion, 8);
        if (out.size() >= kCopyPiece && !send()) {
            sent = false;
            break;
        }
    }
    if (sent) {
        PutBe(out, 0xFFFF, 2);  // the end
        sent = send();
    }
    if (PQputCopyEnd(connection.Raw(), sent ? nullptr : "卡片没有送完") != 1 && sent) {
        error = ConnectionError(connection);
        sent = false;
    }
    std::string copyError;
    if (!FinishCopy(connection, copyError) && sent) {
        error = copyError;
        sent = false;
    }
    return sent;
}

// Writes `map` as the server's whole register, in one transaction under the change lock, with
// the history record of the import; with `replace` the cards the server holds are removed
// first, without it the register must hold none.
bool WriteWholeRegister(CPgConnection& connection, const CCardMap& map, uint32_t maxNumber,
                        const std::string& source, const HistoryStamp& stamp, bool replace,
                        std::string& error) {
    std::string ignored;
    const auto fail = [&connection, &ignored] {
        connection.Run("ROLLBACK", ignored);
        return false;
    };
    if (!connection.Run("BEGIN", error) || !connection.Run(kPgChangeLock, error)) {
        return fail();
    }
    CPgResult state = connection.Exec(
        "SELECT (SELECT count(*) FROM orvane_cards), nextval('orvane_row_version')");
    if (!state.Ok()) {
        error = state.Error();
        return fail();
    }
    const std::string held(state.Cell(0, 0));
    if (!replace && held != "0") {
        error = "服务器上的卡片登记已有" + held + "张卡片,只能载入到没有卡片的登记中";
        return fail();
    }
    // A version no card has had: a desk that saw a card before the import cannot match the
    // imported one.
    const int64_t rowVersion = std::stoll(std::string(state.Cell(0, 1)));
    if (replace && !connection.Run("DELETE FROM orvane_cards", error)) {
        return fail();
    }
    if (!SendCards(connection, map, stamp.desk, rowVersion, error)) {
        return fail();
    }
    CPgResult counter = connection.Exec(
        replace ? "UPDATE orvane_installation SET max_number = greatest(max_number, $1)"
                : "UPDATE orvane_installation SET max_number = $1",
        {std::to_string(maxNumber)});
    if (!counter.Ok()) {
        error = counter.Error();
        return fail();
    }
    std::string content =
        "卡片" + std::to_string(map.GetCount()) + "张; 替换了" + (replace ? held : "0") + "张";
    if (!source.empty()) {
        content = "文件:" + source + "; " + content;
    }
    if (!AppendPgHistory(connection,
                         {EventPayload(HistoryOperation::Import, stamp, std::move(content))},
                         error)) {
        return fail();
    }
    // Every desk loads the whole register again once this is committed.
    CPgResult announced = connection.Exec("SELECT pg_notify($1, '*')", {kChannel});
    if (!announced.Ok()) {
        error = announced.Error();
        return fail();
    }
    if (!connection.Run("COMMIT", error)) {
        return fail();
    }
    return true;
}

}  // namespace

bool ReadPgCardCopy(CBulkMemory stream, size_t size, CCardMap& map,
                    std::unordered_map<std::string, int64_t>& versions, std::string& error) {
    static const std::vector<int> kSizes = LoadedColumnSizes();
    char* const data = stream.data();
    size = std::min(size, stream.size());
    // First every length is checked and the rows counted; the records are made afterwards.
    size_t at = 0;
    const auto fail = [&error, &at](const std::string& what) {
        error = "服务器送来的卡片数据在第" + std::to_string(at) + "字节处" + what;
        return false;
    };
    if (size < kCopyHeaderSize || std::memcmp(data, kCopySignature, kSignatureSize) != 0) {
        return fail("不是二进制COPY格式");
    }
    if (GetBe(data + kSignatureSize, 4) != 0) {
        return fail("带有不认识的标志");
    }
    const uint64_t extension = GetBe(data + kSignatureSize + 4, 4);
    at = kCopyHeaderSize;
    if (extension > size - at) {
        return fail("文件头扩展区超出数据末尾");
    }
    at += static_cast<size_t>(extension);
    const size_t firstRow = at;
    size_t rows = 0;
    for (;;) {
        if (size - at < 2) {
            return fail("中断,缺少结束标记");
        }
        const auto columns = static_cast<int16_t>(GetBe(data + at, 2));
        if (columns == -1) {
            at += 2;
            break;
        }
        if (columns != kLoadedColumns) {
            return fail("有" + std::to_string(columns) + "列,应当是" +
                        std::to_string(kLoadedColumns) + "列");
        }
        at += 2;
        for (const int expected : kSizes) {
            if (size - at < 4) {
                return fail("中断");
            }
            const auto length = static_cast<int32_t>(GetBe(data + at, 4));
            if (length < 0) {
                return fail("有空值");
            }
            if (static_cast<size_t>(length) > size - at - 4) {
                return fail("的长度超出数据末尾");
            }
            if (expected >= 0 && length != expected) {
                return fail("的整数长度不对");
            }
            at += 4 + static_cast<size_t>(length);
        }
        ++rows;
    }
    if (at != size) {
        return fail("结束标记之后还有数据");
    }

    // Each text moves over its length, so that a NUL can follow it in place; the NUL falls on
    // bytes already read.
    map.Reserve(rows);
    versions.reserve(rows);
    at = firstRow;
    const auto text = [data, &at]() {
        const auto length = static_cast<size_t>(GetBe(data + at, 4));
        char* const bytes = data + at;
        std::memmove(bytes, bytes + 4, length);
        bytes[length] = '\0';
        at += 4 + length;
        return CCardText::Borrowed(bytes, length);
    };
    const auto integer = [data, &at]() {
        const auto length = static_cast<int>(GetBe(data + at, 4));
        const int64_t value = PgInteger(std::string_view(data + at + 4, length));
        at += 4 + static_cast<size_t>(length);
        return value;
    };
    for (size_t row = 0; row < rows; ++row) {
        at += 2;
        CCardText key = text();
        const int64_t version = integer();
        CRecordPtr card = map.NewRecord();
        CCard::VisitFields(*card, [&](const char*, auto& field) {
            using Field = std::decay_t<decltype(field)>;
            if constexpr (std::is_same_v<Field, CCardText>) {
                field = text();
            } else {
                field = static_cast<Field>(integer());
            }
        });
        versions[std::string(key.view())] = version;
        map.SetAt(std::move(key), std::move(card));
    }
    map.KeepTextBuffer(std::move(stream));
    return true;
}

bool LoadPgRegister(CPgConnection& connection, CCardMap& map, uint32_t& maxNumber,
                    std::unordered_map<std::string, int64_t>& versions, std::string& error) {
    // The cards and the counter from one snapshot; the plain scan is not worth compiling.
    const bool own = PQtransactionStatus(connection.Raw()) == PQTRANS_IDLE;
    std::string ignored;
    const auto fail = [&connection, &ignored, own] {
        if (own) {
            connection.Run("ROLLBACK", ignored);
        }
        return false;
    };
    if (own && !connection.Run(
                   "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY; SET LOCAL jit = off", error)) {
        return fail();
    }
    CBulkMemory stream;
    size_t size = 0;
    if (!ReceiveCopy(connection,
                     std::string("COPY (SELECT card_key, row_version, ") + kPgCardFields +
                         " FROM orvane_cards ORDER BY position) TO STDOUT (FORMAT binary)",
                     stream, size, error)) {
        return fail();
    }
    CPgResult installation =
        connection.Exec("SELECT max_number FROM orvane_installation", {}, {}, true);
    if (!installation.Ok() || installation.Rows() != 1) {
        error = installation.Ok() ? "orvane_installation 应当正好有一行" : installation.Error();
        return fail();
    }
    if (own && !connection.Run("COMMIT", error)) {
        return fail();
    }
    CCardMap loaded(map.GetHashTableSize());
    std::unordered_map<std::string, int64_t> loadedVersions;
    if (!ReadPgCardCopy(std::move(stream), size, loaded, loadedVersions, error)) {
        return false;
    }
    map = std::move(loaded);
    versions = std::move(loadedVersions);
    maxNumber = static_cast<uint32_t>(PgInteger(installation.Cell(0, 0)));
    return true;
}

bool PushPgRegister(CPgConnection& connection, const CCardMap& map, uint32_t maxNumber,
                    const std::string& source, const HistoryStamp& stamp, std::string& error) {
    return WriteWholeRegister(connection, map, maxNumber, source, stamp, false, error);
}

bool ReplacePgRegister(CPgConnection& connection, const CCardMap& map, uint32_t maxNumber,
                       const std::string& source, const HistoryStamp& stamp, std::string& error) {
    return WriteWholeRegister(connection, map, maxNumber, source, stamp, true, error);
}
