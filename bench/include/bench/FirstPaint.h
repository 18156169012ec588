#pragma once

#include <QApplication>
#include <QEvent>
#include <QObject>

// Installed as an event filter on a widget: notes when it is painted, so that a benchmark
// can wait for the first paint after a change.
class FirstPaint : public QObject {
public:
    bool painted = false;
    void Wait(QApplication& qt) {
        while (!painted) {
            qt.processEvents(QEventLoop::AllEvents, 10);
        }
        painted = false;
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted = true;
        }
        return false;
    }
};
