#pragma once

#include <cstddef>
#include <ctime>
#include <string>

// What a start can fall back on when the register file exists but cannot be read.
struct DamagedStartFacts {
    // The backup: whether it exists, whether it is a complete register, and if so its number of
    // cards and the time it was last written; otherwise what is wrong with it.
    bool backupExists = false;
    bool backupLoads = false;
    size_t backupCards = 0;
    std::time_t backupTime = 0;
    std::string backupError;
    // The cards of the damaged register that come before its first damage.
    size_t intactCards = 0;
};

// Reads the backup at `backupPath` and the intact beginning of the damaged register at `path`
// to say what each holds; neither file is changed and no card is kept.
DamagedStartFacts GatherDamagedStartFacts(const std::string& path, const std::string& backupPath);

// The name under which the backup is kept after a damaged start, so that no later save replaces
// it: "cardbook.kcd.old-20261208-164751" for the local time `now`, numbered ("...-164751-2",
// "-3", ...) while that name is taken by any file or link.
std::string KeptBackupName(const std::string& backupPath, std::time_t now);

// Gives the file at `backupPath` a second name of its own (KeptBackupName), which the program
// never replaces or removes: a hard link, or a flushed copy where the file system has no links.
// True with that name in `keptPath`, or with `keptPath` empty when there is no backup; false
// with `error` (Chinese text) when the name could not be made.
bool KeepBackup(const std::string& backupPath, std::time_t now, std::string& keptPath,
                std::string& error);
