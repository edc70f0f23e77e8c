// projectord: one owner for each projector's line, shared by the panel, projectorctl and the
// building's controllers. Qt Core and Network only: no window, no widget library.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <iostream>

#include "common/quit_on_signal.h"
#include "gateway/config.h"
#include "gateway/daemon.h"
#include "link/timers.h"

#ifndef PANEL_VERSION
#error "PANEL_VERSION is the version of the programs"
#endif

namespace {

void logLine(const std::string& line) {
    std::cerr << "projectord: " << line << '\n' << std::flush;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("projectord"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PANEL_VERSION));

    gateway::Invocation invocation;
    try {
        invocation = gateway::readInvocation(QCoreApplication::arguments());
    } catch (const gateway::UsageError& e) {
        std::cerr << "projectord: " << e.what() << "\n(projectord --help tells the options)\n";
        return gateway::kExitUsage;
    } catch (const gateway::ConfigError& e) {
        for (const std::string& problem : e.problems()) std::cerr << "projectord: " << problem << '\n';
        return gateway::kExitConfig;
    }

    using Action = gateway::Invocation::Action;
    switch (invocation.action) {
        case Action::Help:
            std::cout << invocation.helpText;
            return 0;
        case Action::Version:
            std::cout << "projectord " PANEL_VERSION "\n";
            return 0;
        case Action::Check:
            std::cout << invocation.config.origin << ": sound; "
                      << invocation.config.projectors.size()
                      << (invocation.config.projectors.size() == 1 ? " projector\n" : " projectors\n");
            return 0;
        case Action::Run:
            break;
    }

    // Ended by SIGTERM or SIGINT with status 0; the lines are released on the way out.
    quitOnTerminationSignals(&app);
    QtTimerSource timers;
    QElapsedTimer clock;
    clock.start();
    gateway::Line::Context context;
    context.surroundings.timers = &timers;
    context.surroundings.nowMs = [&clock] { return static_cast<double>(clock.nsecsElapsed()) / 1e6; };

    gateway::Daemon daemon(std::move(invocation.config), context, logLine, PANEL_VERSION);
    try {
        daemon.start();
    } catch (const std::runtime_error& e) {
        logLine(e.what());
        return 1;
    }
    logLine("started (projectord " PANEL_VERSION ")");
    const int status = terminationRequested() ? 0 : QCoreApplication::exec();
    daemon.stop();
    logLine("ended");
    return status;
}
