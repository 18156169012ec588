#pragma once

#include "store/CardStore.h"

class QWidget;

// Hands `change` to the store and tells the operator when it did not reach the disk (or the
// server): a refused change (nothing changed), one that met another desk's change, or one a
// device already carried out that is kept and saved later. True when the register holds the
// change; `result` says how.
bool CommitChange(QWidget* parent, CCardStore& store, CCardChange change, CommitMode mode,
                  CommitResult* result = nullptr);
