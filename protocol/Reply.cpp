#include "protocol/Reply.h"

const char* const kHeaderErrorText = "接收数据格式帧头错误!";
const char* const kTrailerErrorText = "接收数据格式帧尾错误!";
const char* const kNoReplyText = "读卡器没有回应,请检查读卡器和连接。";
const char* const kNoPortText = "端口没有打开,请在端口设置中选择读卡器的端口。";
const char* const kLineGoneText =
    "读卡器连接已断开,请检查读卡器和连接。程序会在读卡器重新连接后自动打开端口。";

CReplyCheck CheckReply(const uint8_t data[kReplyBufferSize], uint32_t count) {
    CReplyCheck check;
    check.length = data[1];
    if (count > kReplyBufferSize || data[0] != FRAME_HEAD || count != check.length + 2u) {
        return check;
    }
    if (data[check.length + 1] != FRAME_TAIL) {
        check.format = ReplyFormat::TrailerError;
        return check;
    }
    check.format = ReplyFormat::Valid;
    check.command = data[2];
    check.result = data[3];
    return check;
}

ReplyKind ClassifyReply(const CReplyCheck& reply) {
    const bool shortReply = reply.length == 3;
    switch (reply.command) {
        case CMD_ISSUE_CARD:
        case CMD_EXTEND:
        case CMD_SET_TIME:
        case CMD_SET_PASSWORD:
        case CMD_REPORT_LOST:
        case CMD_UNLOCK:
        case CMD_CLEAR_SETTINGS:
            if (!shortReply || reply.result == RESULT_FAIL) {
                return ReplyKind::Failure;
            }
            return reply.result == RESULT_OK ? ReplyKind::Success : ReplyKind::Ignored;
        case CMD_READ_CARD:
            return shortReply && reply.result == RESULT_FAIL ? ReplyKind::TimeOut : ReplyKind::Data;
        case CMD_READ_SETTINGS:
            if (shortReply && reply.result == RESULT_FAIL) {
                return ReplyKind::Failure;
            }
            return SettingsSuccessText(reply.result) != nullptr ? ReplyKind::Data
                                                                : ReplyKind::Ignored;
        default:
            return ReplyKind::Ignored;
    }
}

CCardData DecodeCardData(const uint8_t data[kReplyBufferSize]) {
    return CCardData{DecodeDigits(data + 3, 3), DecodeDate(data + 6), UnpackRights(data + 9)};
}

const char* ReplyFailureText(uint8_t command) {
    switch (command) {
        case CMD_ISSUE_CARD:
            return "发卡失败!";
        case CMD_READ_CARD:
            return "读取超时!";
        case CMD_EXTEND:
            return "延期设定失败!";
        case CMD_SET_TIME:
            return "校时失败!";
        case CMD_SET_PASSWORD:
            return "设定密码失败!";
        case CMD_REPORT_LOST:
            return "挂失失败!";
        case CMD_UNLOCK:
            return "解挂失败!";
        case CMD_READ_SETTINGS:
            return "读设定信息失败!";
        case CMD_CLEAR_SETTINGS:
            return "清除设定信息失败!";
        default:
            return nullptr;
    }
}

const char* ReplySuccessText(uint8_t command) {
    switch (command) {
        case CMD_EXTEND:
            return "延期设定成功!";
        case CMD_SET_TIME:
            return "校时成功!";
        case CMD_SET_PASSWORD:
            return "设定密码成功!";
        case CMD_REPORT_LOST:
            return "挂失成功!";
        case CMD_UNLOCK:
            return "解挂成功!";
        case CMD_CLEAR_SETTINGS:
            return "清除设定信息成功!";
        default:
            return nullptr;
    }
}

const char* SettingsSuccessText(uint8_t subCode) {
    switch (subCode) {
        case CMD_SET_TIME:
            return "读设定信息校时成功!";
        case CMD_SET_PASSWORD:
            return "读设定信息密码成功!";
        case CMD_REPORT_LOST:
            return "读设定信息挂失卡号成功!";
        case CMD_UNLOCK:
            return "读设定信息解挂卡号成功!";
        default:
            return nullptr;
    }
}
