#include "server/PgConninfo.h"

#include <libpq-fe.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string_view>

namespace {

using Values = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kPassword = "password";

struct FreeOptions {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};

// Written first, in this order; the other keywords follow in libpq's order.
constexpr std::string_view kLeading[] = {"host", "hostaddr", "port", "dbname", "user"};

int Rank(const std::string& keyword) {
    const auto* found = std::find(std::begin(kLeading), std::end(kLeading), keyword);
    return static_cast<int>(found - std::begin(kLeading));
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A value as libpq reads it back: bare when it can be, otherwise in single quotes with ' and
// \ escaped by a backslash.
std::string Quoted(const std::string& value) {
    const bool bare = !value.empty() && std::none_of(value.begin(), value.end(), [](char c) {
        return IsSpace(c) || c == '\'' || c == '\\';
    });
    if (bare) {
        return value;
    }
    std::string quoted = "'";
    for (const char c : value) {
        if (c == '\'' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "'";
}

std::string Compose(Values values) {
    std::stable_sort(values.begin(), values.end(),
                     [](const auto& a, const auto& b) { return Rank(a.first) < Rank(b.first); });
    std::string conninfo;
    for (const auto& [keyword, value] : values) {
        if (!conninfo.empty()) {
            conninfo += ' ';
        }
        conninfo += keyword + "=" + Quoted(value);
    }
    return conninfo;
}

void Remove(Values& values, std::string_view keyword) {
    std::erase_if(values, [keyword](const auto& entry) { return entry.first == keyword; });
}

}  // namespace

bool ParsePgConninfo(const std::string& conninfo, Values& values, std::string& error) {
    char* message = nullptr;
    const std::unique_ptr<PQconninfoOption, FreeOptions> options(
        PQconninfoParse(conninfo.c_str(), &message));
    if (!options) {
        error = message != nullptr ? message : "连接字符串无法解析:内存不足";
        PQfreemem(message);
        while (!error.empty() && IsSpace(error.back())) {
            error.pop_back();
        }
        return false;
    }
    values.clear();
    for (const PQconninfoOption* option = options.get(); option->keyword != nullptr; ++option) {
        if (option->val != nullptr) {
            values.emplace_back(option->keyword, option->val);
        }
    }
    return true;
}

bool CheckPgConninfo(const std::string& conninfo, std::string& error) {
    Values values;
    return ParsePgConninfo(conninfo, values, error);
}

std::string PgConninfoWithoutPassword(const std::string& conninfo) {
    Values values;
    std::string error;
    if (!ParsePgConninfo(conninfo, values, error)) {
        return std::string();
    }
    Remove(values, kPassword);
    return Compose(std::move(values));
}

std::string PgConninfoWithPassword(const std::string& conninfo, const std::string& password) {
    Values values;
    std::string error;
    if (!ParsePgConninfo(conninfo, values, error)) {
        return conninfo;
    }
    Remove(values, kPassword);
    values.emplace_back(kPassword, password);
    return Compose(std::move(values));
}

std::string PgConninfoSummary(const std::string& conninfo) {
    Values values;
    std::string error;
    if (!ParsePgConninfo(conninfo, values, error)) {
        return std::string();
    }
    std::erase_if(values, [](const auto& entry) {
        return entry.first == "hostaddr" ||
               Rank(entry.first) == static_cast<int>(std::size(kLeading));
    });
    return Compose(std::move(values));
}
