#include "common/quit_on_signal.h"

#include <QCoreApplication>
#include <QObject>

namespace {
bool terminated = false;
}  // namespace

bool terminationRequested() { return terminated; }

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int) {
    // Only async-signal-safe calls here; the event loop does the rest. The write end does not
    // block: signals that come faster than the loop reads find the socket full, and one byte
    // waiting is enough. The interrupted code must find errno as it left it.
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[0], &byte, 1);
    errno = saved;
}

}  // namespace

void quitOnTerminationSignals(QObject* parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
    ::fcntl(signalPipe[0], F_SETFL, ::fcntl(signalPipe[0], F_GETFL) | O_NONBLOCK);
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [] {
        char byte;
        [[maybe_unused]] const auto n = ::read(signalPipe[1], &byte, 1);
        terminated = true;
        // exit() rather than quit(): quit() is ignored before the main loop runs, and the
        // signal may come while a warning box is up during start-up.
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

#else

void quitOnTerminationSignals(QObject*) {}

#endif
