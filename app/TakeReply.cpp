#include "app/TakeReply.h"

#include <cstring>
#include <mutex>

#include "app/MessageBox.h"
#include "app/OrvaneApp.h"

bool TakeCardReply(QWidget* window, QMessageBox::Icon icon, const CardReply& reply,
                   uint8_t data[kReplyBufferSize], CReplyCheck& check) {
    COrvaneApp& app = theApp();
    uint32_t count;
    {
        std::lock_guard<std::mutex> lock(app.m_comPort.ReplyLock());
        std::memcpy(data, reply.data, kReplyBufferSize);
        count = reply.dwCount;
    }
    app.m_comPort.GoAhead().Set();

    check = CheckReply(data, count);
    if (check.format == ReplyFormat::Valid) {
        return true;
    }
    const char* text =
        check.format == ReplyFormat::HeaderError ? kHeaderErrorText : kTrailerErrorText;
    Msg::Show(window, QString::fromUtf8(text), icon);
    return false;
}
