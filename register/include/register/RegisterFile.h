#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "register/CardMap.h"

class CArchive;

// Writes the register: the entry count, then each key and record in the map's iteration
// order. The first record introduces the class "CCard" (schema 1), later ones refer to it.
void WriteRegister(CArchive& ar, const CCardMap& map);

// Reads a whole register into `map`, which must be empty. `maxNumber` is raised to the
// highest serial number read (compared as unsigned). False with `error` saying what is wrong
// and where when the data is not a complete register; the data must end with the last entry.
bool ReadRegister(CArchive& ar, CCardMap& map, uint32_t& maxNumber, std::string& error);

enum class RegisterLoad {
    Loaded,      // the map now holds the file's cards
    EmptyFile,   // length 0: nothing read, map unchanged
    Missing,     // no such file: map unchanged
    Unreadable,  // exists but cannot be opened or read: map unchanged
    Damaged,     // not a complete register: map unchanged
};

// Loads all or nothing: the file is parsed into a new map, which replaces `map` only when the
// whole file was read. Then `maxNumber` is raised to the file's highest serial number.
RegisterLoad LoadRegisterFile(const std::string& path, CCardMap& map, uint32_t& maxNumber,
                              std::string& error);

// Writes `map` to `path` safely (see SaveFileSafely), first copying the current file over
// `backupPath` when that is not empty. False with `error` when anything failed; then the
// file and the backup are as they were.
bool SaveRegisterFile(const CCardMap& map, const std::string& path, const std::string& backupPath,
                      std::string& error);

// The name under which an unreadable register file at `path` is kept before a save would
// replace it: "cardbook.kcd.damaged-20261208-164751" for the local time `now`, numbered
// ("...-164751-2", "-3", ...) while that name is taken by any file or link.
std::string DamagedRegisterName(const std::string& path, std::time_t now);
