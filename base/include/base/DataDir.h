#pragma once

#include <string>

// Where the program keeps set.ini, the register with its backup and the COM<n> entries.
//
// A copy of the program in a folder it may write (a build folder, a portable copy on a
// stick) keeps them beside its executable, as it always has. An installed program (its
// executable under /usr, or in any folder it may not write) keeps them in the user's data
// folder, $XDG_DATA_HOME/orvane (~/.local/share/orvane by default). A register that already
// lies beside the executable keeps the program there: the choice never moves, copies or
// rewrites a file.

// What the choice depends on, gathered by ReadDataDirFacts or given by a test.
struct DataDirFacts {
    std::string exeDir;              // the executable's folder, ending in '/'
    bool exeDirWritable = false;     // the user may create files in it
    bool registerBesideExe = false;  // the register file exists in exeDir
    std::string xdgDataHome;         // $XDG_DATA_HOME as set ("" when unset)
    std::string home;                // $HOME, or the user's home from the password database
};

struct DataDirChoice {
    std::string dir;        // ending in '/'
    bool portable = false;  // true: the executable's folder; false: the user's data folder
};

// True for a folder of the installed system (/usr/..., /bin/, /sbin/), which even root, who
// may write it, does not take as a portable copy's folder.
bool IsSystemDir(const std::string& dir);

// The user's data home by the XDG rules: $XDG_DATA_HOME when set to an absolute path, else
// `home` + "/.local/share"; ending in '/'. Empty when neither is an absolute path.
std::string UserDataHome(const std::string& xdgDataHome, const std::string& home);

// The folder by the rules above. Where no user data folder can be named (no absolute home),
// the executable's folder.
DataDirChoice ChooseDataDir(const DataDirFacts& facts);

// The facts for the executable in `exeDir` (ending in '/'), whose register is named
// `registerName`, from the file system and the environment. Reads only.
DataDirFacts ReadDataDirFacts(const std::string& exeDir, const std::string& registerName);

// Creates `dir` and each missing folder above it with mode 0700 (as the XDG rules ask);
// folders that exist are left as they are. False with the reason in `error` on failure.
bool MakeDataDir(const std::string& dir, std::string& error);
