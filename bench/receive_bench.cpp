// The receive path of the window: bytes arriving one receive event at a time, each shown in
// RXD and decoded, for reply windows of 100 to 30000 characters, after each of the nine status
// queries and after a command that is no query. Linear growth of the total time means
// constant work per received byte. With assistive technology active the event loop makes one
// pass between two receive events, as it does between two of the port's in the program: the
// displays' announcements go out there. Without it nothing waits for a pass, and the figures
// are those of the receive path alone.
#include <benchmark/benchmark.h>

#include <QAccessible>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>
#include <string>

#include "app/form1.h"
#include "panel/widgets.h"
#include "tests/support/fake_port.h"
#include "tests/support/virtual_clock.h"

namespace {

// The query typed into the free command entry and the byte its reply repeats. A digit keeps
// the pressure decoder's number going for the whole reply, its most expensive case.
struct Flood {
    const char* query;
    char byte;
};

constexpr Flood kFloods[] = {
    {"CR0", '0'}, {"CR1", '1'}, {"CR4", '1'}, {"CR3", '7'},          {"CR6", '7'},
    {"CRA", '0'}, {"CR9", '7'}, {"CR PRESSURE", '7'}, {"CR7", '0'}, {"C00", 'A'},
};

void receiveOneByteAtATime(benchmark::State& state, Flood flood) {
    VirtualClock clock;
    auto owned = std::make_unique<FakePort>();
    FakePort* port = owned.get();
    Form1 form(models::kTR27K, std::move(owned), clock, [](const std::string&) {});
    form.Form_Load();
    const std::string one(1, flood.byte);
    const bool pass = QAccessible::isActive();
    for (auto _ : state) {
        form.Text1->setText(flood.query);
        form.Command95_Click();
        for (int64_t i = 0; i < state.range(0); ++i) {
            port->receive(one);
            if (pass) QCoreApplication::processEvents();
        }
        benchmark::DoNotOptimize(form.Label12->text().size());
        benchmark::DoNotOptimize(form.Label22->text().size());
        clock.advance(3000);  // ends the reply window
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    panel::chooseFaces();
    // A platform's accessibility bridge is made when first asked for and learns on the event
    // loop whether assistive technology is there, joining the accessibility bus if it is: the
    // figures start once it has.
    QAccessible::isActive();
    QEventLoop settle;
    QTimer::singleShot(2000, &settle, &QEventLoop::quit);
    settle.exec();
    for (const Flood& flood : kFloods) {
        const std::string name = std::string("BM_Receive/") + flood.query;
        benchmark::RegisterBenchmark(name.c_str(), receiveOneByteAtATime, flood)
            ->Arg(100)
            ->Arg(300)
            ->Arg(1000)
            ->Arg(3000)
            ->Arg(10000)
            ->Arg(30000)
            ->Unit(benchmark::kMillisecond)
            ->Complexity();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
