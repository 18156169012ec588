#pragma once

#include <QMessageBox>

#include "protocol/Reply.h"

struct CardReply;
class QWidget;

// The first step of a card window's reply handler: checks the frame of the reply (the
// hand-off's copy, taken under the reply lock, with the go-ahead already given). A header or
// trailer error is shown to the operator (owned by `window`, with `icon`) and gives false;
// otherwise `check` holds what CheckReply made of it.
bool TakeCardReply(QWidget* window, QMessageBox::Icon icon, const CardReply& reply,
                   CReplyCheck& check);
