#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "base/SafeFile.h"
#include "register/CardMap.h"

class CArchive;

// Writes the register: the entry count, then each key and record in the map's iteration
// order. The first record introduces the class "CCard" (schema 1), later ones refer to it.
void WriteRegister(CArchive& ar, const CCardMap& map);

// Reads a whole register into `map`, which must be empty. `maxNumber` is raised to the
// highest serial number read (compared as unsigned). False with `error` saying what is wrong
// and where when the data is not a complete register; the data must end with the last entry.
bool ReadRegister(CArchive& ar, CCardMap& map, uint32_t& maxNumber, std::string& error);

// Reads the complete records of a register that come before its first damage into `map`,
// which must be empty, and keeps them: a truncated or damaged register gives every record read
// before the first failure (a count larger than the data could hold is no failure by itself).
// `maxNumber` is raised to the highest serial number kept. Returns the number of cards kept;
// `error` says what is wrong and where, and stays empty when the whole register was read.
size_t ReadRegisterPrefix(CArchive& ar, CCardMap& map, uint32_t& maxNumber, std::string& error);

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

// The intact beginning of a register file that may be damaged (see ReadRegisterPrefix): when
// any card was kept, `map` is replaced by those cards and `maxNumber` raised to their highest
// serial number; otherwise `map` stays as it was. Returns the number of cards kept. `error`
// says what kept the rest from being read; it stays empty when the file was read whole, is
// missing or is empty.
size_t LoadRegisterPrefix(const std::string& path, CCardMap& map, uint32_t& maxNumber,
                          std::string& error);

// Writes `map` to `path` safely (see SaveFileSafely), first copying the current file over
// `backupPath` when that is not empty. False with `error` when anything failed; then the
// file and the backup are as they were.
bool SaveRegisterFile(const CCardMap& map, const std::string& path, const std::string& backupPath,
                      std::string& error);
// The same, with `observe` shown every block of the new file as it is written and
// `beforeReplace` called once it is complete and on disk, before anything is replaced (false
// stops the save there).
bool SaveRegisterFile(const CCardMap& map, const std::string& path, const std::string& backupPath,
                      std::string& error, const std::function<void(const void*, size_t)>& observe,
                      const BeforeReplace& beforeReplace);

// `prefix` followed by the local time `now` ("...20261208-164751"), numbered ("-2", "-3", ...)
// while that name is taken by any file or link.
std::string FreeStampedName(const std::string& prefix, std::time_t now);

// The name under which an unreadable register file at `path` is kept before a save would
// replace it: "cardbook.kcd.damaged-20261208-164751" for the local time `now`, numbered
// ("...-164751-2", "-3", ...) while that name is taken by any file or link.
std::string DamagedRegisterName(const std::string& path, std::time_t now);
