#pragma once

#include <QString>

#include <cstdint>
#include <string>

#include "register/CardMap.h"
#include "register/RegisterRescue.h"

class QWidget;

// What the program started with after its register file could not be read.
enum class RescuedStart {
    Empty,   // no card
    Backup,  // the backup's cards
    Intact,  // the damaged register's cards before the damage
};

// Shows `report` (why the register at `path` cannot be read) and lets the operator start with
// the backup at `backupPath` or with the register's intact cards before the damage, whichever
// has cards, or with an empty register; with neither, the box only says so. The chosen cards
// replace `cards` (empty until then) and raise `maxNumber`. Neither file is changed.
RescuedStart StartFromDamagedRegister(QWidget* parent, const QString& report,
                                      const std::string& path, const std::string& backupPath,
                                      CCardMap& cards, uint32_t& maxNumber);
