#include "ui/RecordDate.h"

#include <cstdio>

#include "register/CardFields.h"

QDateTime DateFromRecord(std::string_view text) {
    int year = 0;
    int month = 0;
    int day = 0;
    if (!SplitRecordDate(text, year, month, day)) {
        return QDateTime();
    }
    const QDate date(year, month, day);
    return date.isValid() ? QDateTime(date, QTime(0, 0, 0)) : QDateTime();
}

std::string RecordDate(const QDateTime& date) {
    const QDate d = date.date();
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d", d.year(), d.month(), d.day());
    return text;
}
