#pragma once

#include <QMessageBox>

#include "protocol/Frame.h"
#include "protocol/Reply.h"

struct CardReply;
class CReplyHandoff;
class QWidget;

// Sends a command frame of a card window to the reader. Without an open port the operator is
// told so (owned by `window`, with `icon`) and nothing is sent: false. Otherwise the result
// of the write (the reply timer runs in either case).
bool SendCardCommand(QWidget* window, QMessageBox::Icon icon, CReplyHandoff& device,
                     const Frame& frame);

// The first step of a card window's reply handler: checks the frame of the reply (the
// hand-off's copy, taken under the reply lock, with the go-ahead already given). A header or
// trailer error is shown to the operator (owned by `window`, with `icon`) and gives false;
// otherwise `check` holds what CheckReply made of it.
bool TakeCardReply(QWidget* window, QMessageBox::Icon icon, const CardReply& reply,
                   CReplyCheck& check);
