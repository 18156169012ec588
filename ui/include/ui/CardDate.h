#pragma once

#include <QDateTime>

#include "protocol/Frame.h"

// A card and a door controller hold years as two digits from 2000: other dates cannot be
// written to them.
bool IsCardDate(const QDateTime& date);
// What the operator is told when a date outside those years is to be written.
extern const char* const kNotACardDate;

// The date part of a date-time, for a frame.
CFrameDate FrameDate(const QDateTime& date);

// The local time that a management card's clock bytes (YY MM DD hh mm, BCD) stand for, the
// way mktime reads them: a month 13 is January of the next year, an hour 25 one o'clock of the
// next day, daylight saving as the system decides. Invalid where the bytes are no BCD digits.
QDateTime ClockLocalTime(const uint8_t bytes[5]);
