#pragma once

#include <cstdint>
#include <string>

#include "register/CardMap.h"
#include "register/RegisterFile.h"
#include "store/CardStore.h"

class CReplyHandoff;

// The register file of the running program: saved and loaded with the operator told of any
// failure.
class CRegisterFiles {
public:
    virtual ~CRegisterFiles() = default;
    virtual std::string RegisterPath() const = 0;
    // Replaces the register with the file's cards, all or nothing; a file other than the
    // register's own (an import) is written as the register at once.
    virtual RegisterLoad LoadRegister(const std::string& path) = 0;
    // Writes the register with a backup of the previous file.
    virtual bool SaveRegister(const std::string& path) = 0;
    // Writes the system password to the settings file, now that the operator confirmed it.
    virtual bool SavePassword() = 0;
};

// What the card windows work with, handed to them by whoever opens them: the register (read
// directly, changed only through the store), the system password, the card reader and the
// register file.
struct CCardDesk {
    const CCardMap& cards;
    CCardStore& store;         // every change of the register goes through here
    std::string& sysPassword;  // the program's system password, in set.ini once confirmed
    CReplyHandoff& device;     // frames to the card reader, its replies to the receiver
    CRegisterFiles& files;
};
