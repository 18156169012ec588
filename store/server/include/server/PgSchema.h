#pragma once

#include <string>

#include "server/PgConnection.h"

// The register's tables on the server, created and upgraded by the program: each version's
// statements in one transaction, desks that start at once taking turns (an advisory lock).
//   version 1: the cards (their key, the record's 19 fields, their place in the register's
//   order, a row version, who changed each and when), the history chained across all desks,
//   the installation's system password and serial-number counter.
constexpr int kPgSchemaVersion = 1;

// The version the server's register has now; 0 for none. -1 with `error` when it cannot be
// read.
int PgSchemaVersion(CPgConnection& connection, std::string& error);

// Brings the server's register to kPgSchemaVersion. False with `error` when a step failed (it
// changed nothing) or the server's register is newer than this program knows.
bool UpgradePgSchema(CPgConnection& connection, std::string& error);
