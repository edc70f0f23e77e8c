// The termination-signal handler runs in signal context: it must never block and must leave
// errno as the interrupted code had it.
#include "common/quit_on_signal.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QObject>
#include <cerrno>
#include <csignal>

namespace {

extern "C" void onWatchdog(int) {}

TEST(QuitOnSignal, HandlerNeitherBlocksOnAFullSocketNorChangesErrno) {
    {
        QObject owner;
        quitOnTerminationSignals(&owner);
        // A handler blocked on the full socket is broken off by this alarm (no SA_RESTART:
        // its write fails with EINTR), so the test fails below instead of hanging.
        struct sigaction watchdog {};
        watchdog.sa_handler = onWatchdog;
        sigemptyset(&watchdog.sa_mask);
        struct sigaction previous {};
        ASSERT_EQ(::sigaction(SIGALRM, &watchdog, &previous), 0);
        ::alarm(5);
        // Far more signals than the socket holds, with no event loop reading them.
        int changedAt = 0;
        for (int i = 1; i <= 20000 && changedAt == 0; ++i) {
            errno = EDOM;
            ::raise(SIGTERM);
            if (errno != EDOM) changedAt = i;
        }
        ::alarm(0);
        ::sigaction(SIGALRM, &previous, nullptr);
        EXPECT_EQ(changedAt, 0) << "errno changed by signal " << changedAt;
    }  // the notifier goes with its owner before an event loop could act on the signals
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_DFL);
    EXPECT_FALSE(terminationRequested());
}

}  // namespace
