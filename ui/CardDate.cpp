#include "ui/CardDate.h"

#include <ctime>

CFrameDate FrameDate(const QDateTime& date) {
    if (!date.isValid()) {
        return CFrameDate{0, 0, 0};
    }
    return CFrameDate{date.date().year(), date.date().month(), date.date().day()};
}

QDateTime ClockLocalTime(const uint8_t bytes[5]) {
    for (int i = 0; i < 5; ++i) {
        if ((bytes[i] >> 4) > 9 || (bytes[i] & 0x0F) > 9) {
            return QDateTime();
        }
    }
    const CFrameClock clock = DecodeClock(bytes);
    std::tm local{};
    local.tm_year = clock.date.year - 1900;
    local.tm_mon = clock.date.month - 1;
    local.tm_mday = clock.date.day;
    local.tm_hour = clock.hour;
    local.tm_min = clock.minute;
    local.tm_sec = 0;
    local.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1)) {
        return QDateTime();
    }
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(seconds));
}
