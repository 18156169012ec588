#pragma once

#include <QMessageBox>

#include <cstdint>

#include "protocol/Reply.h"

struct CardReply;
class QWidget;

// The first steps of a card window's reply handler: copies the reply under the reply lock,
// lets the reader thread go on, and checks the frame. A header or trailer error is shown to
// the operator (owned by `window`, with `icon`) and gives false; otherwise `data` holds the
// reply and `check` what CheckReply made of it.
bool TakeCardReply(QWidget* window, QMessageBox::Icon icon, const CardReply& reply,
                   uint8_t data[kReplyBufferSize], CReplyCheck& check);
