#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Runs a task once the operator has left the program alone for a while: armed on demand,
// put off by every key press and mouse click anywhere in the program.
class CIdleTimer : public QObject {
    Q_OBJECT
public:
    CIdleTimer(int idleMs, std::function<void()> task, QObject* parent = nullptr);
    ~CIdleTimer() override;

    // The task runs after `idleMs` without input (once; arm again for another run).
    void Arm();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTimer m_timer;
    std::function<void()> m_task;
};
