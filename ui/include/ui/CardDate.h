#pragma once

#include <QDateTime>

#include "protocol/Frame.h"

class QCoreApplication;

// The date part of a date-time, for a frame and the card rules; {0, 0, 0} for an invalid one.
CFrameDate FrameDate(const QDateTime& date);

// The local time that a management card's clock bytes (YY MM DD hh mm, BCD) stand for, the
// way mktime reads them: a month 13 is January of the next year, an hour 25 one o'clock of the
// next day, daylight saving as the system decides. Invalid where the bytes are no BCD digits.
QDateTime ClockLocalTime(const uint8_t bytes[5]);

// Date pickers take digits typed after one click: a click into a picker's text selects the
// section under it (year, month, day, hour, ...), so that typed digits replace it. Qt's
// pickers only put the cursor there, and digits added to a whole section make no date and are
// refused. For every picker of `application`; a drag still selects what it covers.
void TypeOverClickedDateSections(QCoreApplication& application);
