#pragma once

#include <QDateTime>

#include "protocol/Frame.h"

// The date part of a date-time, for a frame and the card rules; {0, 0, 0} for an invalid one.
CFrameDate FrameDate(const QDateTime& date);

// The local time that a management card's clock bytes (YY MM DD hh mm, BCD) stand for, the
// way mktime reads them: a month 13 is January of the next year, an hour 25 one o'clock of the
// next day, daylight saving as the system decides. Invalid where the bytes are no BCD digits.
QDateTime ClockLocalTime(const uint8_t bytes[5]);
