#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "register/CardMap.h"
#include "server/PgConnection.h"
#include "store/CardHistory.h"

// The server's register as a whole: loaded into a map in the order its cards were first
// registered (so that the map, and a register file written from it, are those a desk with the
// same changes has), and filled from a register file.

// Loads every card into `map` (emptied first) and the serial-number counter; `versions` gets
// each card's row version. False with `error` when the server cannot be read.
bool LoadPgRegister(CPgConnection& connection, CCardMap& map, uint32_t& maxNumber,
                    std::unordered_map<std::string, int64_t>& versions, std::string& error);

// Puts the cards of `map`, in its order, into the server's register, which must hold no card,
// in one transaction, with a history record "导入" of `source`. False with `error` (nothing
// written) when the server's register holds cards or a statement fails.
bool PushPgRegister(CPgConnection& connection, const CCardMap& map, uint32_t maxNumber,
                    const std::string& source, const HistoryStamp& stamp, std::string& error);
