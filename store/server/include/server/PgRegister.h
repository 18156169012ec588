#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/BulkMemory.h"
#include "register/CardMap.h"
#include "server/PgConnection.h"
#include "store/CardHistory.h"

// The server's register as a whole: loaded into a map in the order its cards were first
// registered (so that the map, and a register file written from it, are those a desk with the
// same changes has), and filled from a register file. Cards travel in the server's binary
// COPY format, one stream for the whole register.

// Loads every card into `map` (emptied first) and the serial-number counter; `versions` gets
// each card's row version. False with `error` when the server cannot be read (the map is then
// as it was).
bool LoadPgRegister(CPgConnection& connection, CCardMap& map, uint32_t& maxNumber,
                    std::unordered_map<std::string, int64_t>& versions, std::string& error);

// Puts the cards of `map`, in its order, into the server's register, which must hold no card,
// in one transaction, with a history record "导入" of `source`. False with `error` (nothing
// written) when the server's register holds cards or a statement fails.
bool PushPgRegister(CPgConnection& connection, const CCardMap& map, uint32_t maxNumber,
                    const std::string& source, const HistoryStamp& stamp, std::string& error);

// Replaces every card of the server's register by those of `map`, in its order, in one
// transaction that the desks' changes take turns with, with a history record "导入" of
// `source` and the serial-number counter raised to `maxNumber`; every desk is told to load
// the register again. The cards get a row version that no card has had before, so a change
// a desk prepared against a card before the import is refused. False with `error` (nothing
// written) when a statement fails.
bool ReplacePgRegister(CPgConnection& connection, const CCardMap& map, uint32_t maxNumber,
                       const std::string& source, const HistoryStamp& stamp, std::string& error);

// Reads the first `size` bytes of `stream`, a binary COPY of rows (card_key, row_version and
// the 19 fields in the record's order), into `map` (which must be empty) and `versions`; the
// map keeps `stream`, whose texts its records borrow. False with `error`, `map` and `versions`
// left empty, when the stream is not such a COPY: every length is checked against what is
// left and against its column's type.
bool ReadPgCardCopy(CBulkMemory stream, size_t size, CCardMap& map,
                    std::unordered_map<std::string, int64_t>& versions, std::string& error);
