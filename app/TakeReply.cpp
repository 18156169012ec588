#include "app/TakeReply.h"

#include "app/MessageBox.h"
#include "app/ReplyHandoff.h"

bool SendCardCommand(QWidget* window, QMessageBox::Icon icon, CReplyHandoff& device,
                     const Frame& frame) {
    if (!device.Linked()) {
        Msg::Show(window, QString::fromUtf8(kNoPortText), icon);
        return false;
    }
    return device.Write(frame);
}

bool TakeCardReply(QWidget* window, QMessageBox::Icon icon, const CardReply& reply,
                   CReplyCheck& check) {
    check = CheckReply(reply.data, reply.dwCount);
    if (check.format == ReplyFormat::Valid) {
        return true;
    }
    const char* text =
        check.format == ReplyFormat::HeaderError ? kHeaderErrorText : kTrailerErrorText;
    Msg::Show(window, QString::fromUtf8(text), icon);
    return false;
}
