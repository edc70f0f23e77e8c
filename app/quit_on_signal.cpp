#include "app/quit_on_signal.h"

#include <QCoreApplication>
#include <QObject>

namespace {
bool terminated = false;
}  // namespace

bool terminationRequested() { return terminated; }

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int) {
    const char byte = 1;
    // Only async-signal-safe calls here; the event loop does the rest.
    [[maybe_unused]] const auto n = ::write(signalPipe[0], &byte, 1);
}

}  // namespace

void quitOnTerminationSignals(QObject* parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
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
