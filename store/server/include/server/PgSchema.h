#pragma once

#include <string>

#include "server/PgConnection.h"

// The register's tables on the server, created and upgraded by the program: each version's
// statements in one transaction, desks that start at once taking turns (an advisory lock).
//   version 1: the cards (their key, the record's 19 fields, their place in the register's
//   order, a row version, who changed each and when), the history chained across all desks,
//   the installation's system password and serial-number counter.
//   version 2: how far each desk's outbox was delivered; row versions from one sequence.
constexpr int kPgSchemaVersion = 2;

// The version the server's register has now; 0 for none. -1 with `error` when it cannot be
// read.
int PgSchemaVersion(CPgConnection& connection, std::string& error);

// Brings the server's register to kPgSchemaVersion (`upTo`: an older one, for tests of the
// upgrade). False with `error` when a step failed (it changed nothing) or the server's
// register is newer than this program knows.
bool UpgradePgSchema(CPgConnection& connection, std::string& error, int upTo = kPgSchemaVersion);
