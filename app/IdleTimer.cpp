#include "app/IdleTimer.h"

#include <QCoreApplication>
#include <QEvent>

CIdleTimer::CIdleTimer(int idleMs, std::function<void()> task, QObject* parent)
    : QObject(parent), m_task(std::move(task)) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(idleMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_task(); });
    QCoreApplication::instance()->installEventFilter(this);
}

CIdleTimer::~CIdleTimer() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->removeEventFilter(this);
    }
}

void CIdleTimer::Arm() {
    m_timer.start();
}

bool CIdleTimer::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
            if (m_timer.isActive()) {
                m_timer.start();  // put off while the operator works
            }
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}
