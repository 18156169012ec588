#include "ui/CardDate.h"

#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QMouseEvent>

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

namespace {

// Sees the left-button releases in the text of every picker; before the text takes the
// release, the click has put the cursor in the section under it.
class CClickedSectionSelector : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            auto* text = qobject_cast<QLineEdit*>(watched);
            auto* picker = text != nullptr ? qobject_cast<QDateTimeEdit*>(text->parent()) : nullptr;
            if (picker != nullptr && picker->isEnabled() && !picker->isReadOnly() &&
                !text->hasSelectedText()) {
                picker->setSelectedSection(picker->currentSection());
            }
        }
        return false;
    }
};

}  // namespace

void TypeOverClickedDateSections(QCoreApplication& application) {
    // Once per application, however often asked.
    const QString name = QStringLiteral("clickedDateSectionSelector");
    if (application.findChild<QObject*>(name, Qt::FindDirectChildrenOnly) == nullptr) {
        auto* selector = new CClickedSectionSelector(&application);
        selector->setObjectName(name);
        application.installEventFilter(selector);
    }
}
