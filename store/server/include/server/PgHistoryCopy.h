#pragma once

#include <cstdint>
#include <string>

#include "server/PgConnection.h"

// The server's history as a history file on this desk (store/HistoryFile.h), so that the
// windows that read a history file show it. The server chains its records as the file does,
// the first after an all-zero hash instead of the file header's; the file numbers its records
// as the server does.

// Brings the history file at `path` up to date with the server's records: a file that holds
// this server's records 1..N (the server's hash of record N is the one its chain gives over
// the file's payloads) gets records N+1.. appended; any other file is replaced, safely, by a
// new one with all of them. The records copied are checked against the server's chain:
// `brokenAt` is the number of the first whose stored hash does not follow from the one before
// (or the first missing: the copy ends before it), 0 when all hold. False with `error` when
// the server or the file cannot be read or written (a replaced file then stays as it was).
bool CopyPgHistory(CPgConnection& connection, const std::string& path, uint64_t& brokenAt,
                   std::string& error);

// Checks the server's whole history chain: `brokenAt` as above, `count` the records read.
bool VerifyPgHistory(CPgConnection& connection, uint64_t& brokenAt, uint64_t& count,
                     std::string& error);
