#pragma once

#include <cstdint>
#include <string>

#include "register/CardMap.h"
#include "register/RegisterFile.h"

class CReplyHandoff;

// The register file of the running program: saved and loaded with the operator told of any
// failure.
class CRegisterFiles {
public:
    virtual ~CRegisterFiles() = default;
    virtual std::string RegisterPath() const = 0;
    // Replaces the register with the file's cards, all or nothing.
    virtual RegisterLoad LoadRegister(const std::string& path) = 0;
    // Writes the register with a backup of the previous file.
    virtual bool SaveRegister(const std::string& path) = 0;
};

// What the card windows work with, handed to them by whoever opens them: the register, the
// system password, the card reader and the register file.
struct CCardDesk {
    CCardMap& cards;
    uint32_t& maxNumber;       // the highest serial number given out so far
    std::string& sysPassword;  // the program's system password, written to set.ini at exit
    CReplyHandoff& device;     // frames to the card reader, its replies to the receiver
    CRegisterFiles& files;
};
