#pragma once

#include <string>
#include <utility>
#include <vector>

// libpq connection strings: keyword form ("host=/tmp/x dbname=postgres") or URI form
// ("postgresql://user@host/db"), read by libpq's own parser.

// The keywords that `conninfo` sets and their values, in libpq's order of keywords; false
// with libpq's words in `error` when it does not parse.
bool ParsePgConninfo(const std::string& conninfo,
                     std::vector<std::pair<std::string, std::string>>& values, std::string& error);

// True when `conninfo` parses; otherwise false with libpq's words in `error`.
bool CheckPgConninfo(const std::string& conninfo, std::string& error);

// `conninfo` in keyword form without its password; empty when it does not parse.
std::string PgConninfoWithoutPassword(const std::string& conninfo);

// `conninfo` in keyword form with `password` (in place of its own); `conninfo` as it is when it
// does not parse, so that connecting reports why.
std::string PgConninfoWithPassword(const std::string& conninfo, const std::string& password);

// Where it leads, for the operator: host, port, dbname and user as far as given
// ("host=/tmp/x dbname=postgres user=orvane"); empty when it does not parse.
std::string PgConninfoSummary(const std::string& conninfo);
