// projectorctl: the projector from scripts, schedulers and building automation, on the engine
// and the serial link the panel uses. Qt Core only: no window, no widget library.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <iostream>

#include "common/quit_on_signal.h"
#include "ctl/options.h"
#include "ctl/report.h"
#include "ctl/run.h"
#include "link/adapters.h"
#include "link/timers.h"

#ifndef PANEL_VERSION
#error "PANEL_VERSION is the version of the programs"
#endif

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("projectorctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PANEL_VERSION));

    ctl::Request request;
    try {
        request =
            ctl::parseRequest(QCoreApplication::arguments(), serial::PortAssignment::system());
    } catch (const ctl::UsageError& e) {
        std::cerr << "projectorctl: " << e.what() << '\n';
        return ctl::kExitUsage;
    }

    // What was printed reached its reader, or the program says so and fails.
    const auto written = [](int status) {
        return ctl::flushed(std::cout, std::cerr) ? status : ctl::kExitOutputFailed;
    };

    using Command = ctl::Request::Command;
    switch (request.command) {
        case Command::Help:
            std::cout << request.helpText;
            return written(0);
        case Command::Version:
            std::cout << "projectorctl " PANEL_VERSION "\n";
            return written(0);
        case Command::List:
            std::cout << ctl::listText(*request.model, request.json);
            return written(0);
        case Command::Ports: {
            const std::vector<serial::Adapter> adapters = serial::findAdapters();
            if (adapters.empty()) std::cerr << serial::describeAdapters(adapters) << '\n';
            std::cout << ctl::portsText(adapters, request.json);
            return written(0);
        }
        default:
            break;
    }

    QtTimerSource timers;
    QElapsedTimer clock;
    clock.start();
    session::Surroundings surroundings;
    surroundings.timers = &timers;
    surroundings.nowMs = [&clock] { return static_cast<double>(clock.nsecsElapsed()) / 1e6; };

    if (request.command == Command::Watch) {
        // Ended by SIGINT or SIGTERM, with status 0; the ports close on the way out.
        quitOnTerminationSignals(&app);
        ctl::Watch watch(request, surroundings, std::cout, std::cerr);
        watch.start([](int status) {
            QMetaObject::invokeMethod(
                qApp, [status] { QCoreApplication::exit(status); }, Qt::QueuedConnection);
        });
        return terminationRequested() ? 0 : QCoreApplication::exec();
    }

    ctl::Batch batch(request, surroundings, std::cout, std::cerr);
    batch.start([] { QCoreApplication::exit(0); });
    if (!batch.done()) QCoreApplication::exec();
    // The commands went out all the same; a script that cannot have their outcomes must know.
    return written(batch.exitStatus());
}
