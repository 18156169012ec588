#include "app/SignalClose.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

namespace {

int g_signalFds[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    const int saved = errno;
    [[maybe_unused]] const ssize_t n = ::write(g_signalFds[0], &byte, 1);
    errno = saved;
}

}  // namespace

void CloseOnTerminationSignals(QWidget* window) {
    if (g_signalFds[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalFds) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, window);
    QPointer<QWidget> target(window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [target]() {
        char bytes[16];
        while (::read(g_signalFds[1], bytes, sizeof bytes) > 0) {
        }
        while (QWidget* modal = QApplication::activeModalWidget()) {
            if (!modal->close()) {
                break;
            }
        }
        if (target) {
            target->close();
        }
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // SIGHUP comes when the desktop session or the terminal ends: the register is saved then too.
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}
