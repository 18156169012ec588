#include "sheet/SheetStatements.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void SkipBlanks(const std::string& s, size_t& at) {
    while (at < s.size() && IsBlank(s[at])) {
        ++at;
    }
}

// Takes `word` (ASCII, any case) at `at`, after blanks.
bool Take(const std::string& s, size_t& at, const std::string& word) {
    SkipBlanks(s, at);
    if (s.size() - at < word.size()) {
        return false;
    }
    for (size_t i = 0; i < word.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(s[at + i])) !=
            std::toupper(static_cast<unsigned char>(word[i]))) {
            return false;
        }
    }
    at += word.size();
    return true;
}

// A name: everything up to a blank, a comma or a parenthesis.
std::string TakeName(const std::string& s, size_t& at) {
    SkipBlanks(s, at);
    const size_t start = at;
    while (at < s.size() && !IsBlank(s[at]) && s[at] != ',' && s[at] != '(' && s[at] != ')') {
        ++at;
    }
    return s.substr(start, at - start);
}

// After an item of a parenthesised list: true after ",", false after the closing ")",
// none for anything else.
std::optional<bool> MoreInList(const std::string& s, size_t& at) {
    if (Take(s, at, ",")) {
        return true;
    }
    if (Take(s, at, ")")) {
        return false;
    }
    return std::nullopt;
}

// Nothing but blanks from `at` on.
bool AtEnd(const std::string& s, size_t at) {
    SkipBlanks(s, at);
    return at == s.size();
}

}  // namespace

bool SheetColumnIsText(int column) {
    return column >= 1 && column <= 11;
}

std::string SheetConnectionString(const std::string& driver, const std::string& file) {
    return "DRIVER={" + driver + "};DSN='''';FIRSTROWHASNAMES=1;READONLY=FALSE;CREATE_DB=\"" +
           file + "\";DBQ=" + file;
}

std::string SheetCreateTable(const std::vector<std::string>& titles) {
    std::string columns;
    for (size_t c = 0; c < titles.size(); ++c) {
        columns += c > 0 ? ", " : "";
        columns += " " + titles[c] + (SheetColumnIsText(static_cast<int>(c)) ? " TEXT" : " NUMBER");
    }
    return std::string("CREATE TABLE ") + kSheetTableName + " ( " + columns + " ) ";
}

std::string SheetInsert(const std::vector<std::string>& titles,
                        const std::vector<std::string>& cells) {
    std::string fields;
    std::string values;
    for (size_t c = 0; c < titles.size(); ++c) {
        fields += (c > 0 ? ", " : "") + std::string(" ") + titles[c] + " ";
        values += c > 0 ? ", " : "";
        const std::string cell = c < cells.size() ? cells[c] : std::string();
        if (SheetColumnIsText(static_cast<int>(c))) {
            values += '\'';
            for (const char ch : cell) {
                values += ch == '\'' ? std::string("''") : std::string(1, ch);
            }
            values += '\'';
        } else {
            values += cell;
        }
    }
    return std::string("INSERT INTO ") + kSheetTableName + " (" + fields + ")" + " VALUES(" +
           values + ")";
}

std::optional<std::string> SheetConnectionValue(const std::string& connection,
                                                const std::string& key) {
    size_t at = 0;
    while (at < connection.size()) {
        const size_t equals = connection.find('=', at);
        if (equals == std::string::npos) {
            return std::nullopt;
        }
        const std::string name = connection.substr(at, equals - at);
        size_t end = equals + 1;
        if (end < connection.size() && connection[end] == '{') {
            end = connection.find('}', end);
            end = end == std::string::npos ? connection.size() : end + 1;
        } else if (end < connection.size() && connection[end] == '"') {
            end = connection.find('"', end + 1);
            end = end == std::string::npos ? connection.size() : end + 1;
        }
        end = std::min(connection.find(';', end), connection.size());
        bool same = name.size() == key.size();
        for (size_t i = 0; same && i < key.size(); ++i) {
            same = std::toupper(static_cast<unsigned char>(name[i])) ==
                   std::toupper(static_cast<unsigned char>(key[i]));
        }
        if (same) {
            return connection.substr(equals + 1, end - equals - 1);
        }
        at = end + 1;
    }
    return std::nullopt;
}

namespace {

// The items of a list "a, b, c)" up to its closing parenthesis, which must end the statement.
template <class Item, class TakeItem>
std::optional<std::vector<Item>> TakeListToEnd(const std::string& statement, size_t& at,
                                               TakeItem takeItem) {
    std::vector<Item> items;
    for (;;) {
        std::optional<Item> item = takeItem(statement, at);
        if (!item) {
            return std::nullopt;
        }
        items.push_back(std::move(*item));
        const std::optional<bool> more = MoreInList(statement, at);
        if (!more) {
            return std::nullopt;
        }
        if (!*more) {
            break;
        }
    }
    if (!AtEnd(statement, at)) {
        return std::nullopt;
    }
    return items;
}

// A column definition: its title and the type TEXT or NUMBER.
std::optional<SheetColumn> TakeColumn(const std::string& statement, size_t& at) {
    SheetColumn column;
    column.title = TakeName(statement, at);
    const std::string type = TakeName(statement, at);
    if (column.title.empty()) {
        return std::nullopt;
    }
    std::string upper;
    for (const char ch : type) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    if (upper == "TEXT") {
        column.text = true;
    } else if (upper != "NUMBER") {
        return std::nullopt;
    }
    return column;
}

// A value: a text in apostrophes (a doubled one stands for one), or a bare number.
std::optional<SheetValue> TakeValue(const std::string& statement, size_t& at) {
    SkipBlanks(statement, at);
    SheetValue value;
    if (at < statement.size() && statement[at] == '\'') {
        value.text = true;
        ++at;
        for (;;) {
            if (at >= statement.size()) {
                return std::nullopt;  // no closing apostrophe
            }
            if (statement[at] == '\'') {
                if (at + 1 < statement.size() && statement[at + 1] == '\'') {
                    value.value += '\'';
                    at += 2;
                    continue;
                }
                ++at;
                break;
            }
            value.value += statement[at++];
        }
        return value;
    }
    const size_t start = at;
    while (at < statement.size() && statement[at] != ',' && statement[at] != ')') {
        ++at;
    }
    value.value = statement.substr(start, at - start);
    while (!value.value.empty() && IsBlank(value.value.back())) {
        value.value.pop_back();
    }
    return value;
}

}  // namespace

std::optional<std::pair<std::string, std::vector<SheetColumn>>> ParseSheetCreateTable(
    const std::string& statement) {
    size_t at = 0;
    if (!Take(statement, at, "CREATE") || !Take(statement, at, "TABLE")) {
        return std::nullopt;
    }
    std::string table = TakeName(statement, at);
    if (table.empty() || !Take(statement, at, "(")) {
        return std::nullopt;
    }
    std::optional<std::vector<SheetColumn>> columns =
        TakeListToEnd<SheetColumn>(statement, at, TakeColumn);
    if (!columns) {
        return std::nullopt;
    }
    return std::make_pair(table, std::move(*columns));
}

std::optional<std::vector<SheetValue>> ParseSheetInsert(const std::string& statement) {
    size_t at = 0;
    if (!Take(statement, at, "INSERT") || !Take(statement, at, "INTO") ||
        TakeName(statement, at).empty() || !Take(statement, at, "(")) {
        return std::nullopt;
    }
    const size_t fieldsEnd = statement.find(')', at);
    if (fieldsEnd == std::string::npos) {
        return std::nullopt;
    }
    at = fieldsEnd + 1;
    if (!Take(statement, at, "VALUES") || !Take(statement, at, "(")) {
        return std::nullopt;
    }
    return TakeListToEnd<SheetValue>(statement, at, TakeValue);
}
