// The receive path of the window: bytes arriving one receive event at a time, each shown in
// RXD and decoded, for reply windows of 100 to 30000 characters. Linear growth of the total
// time means constant work per received byte. With assistive technology active the event loop
// makes one pass between two receive events, as it does between two of the port's in the
// program: the displays' announcements go out there. Without it nothing waits for a pass, and
// the figures are those of the receive path alone.
#include <benchmark/benchmark.h>

#include <QAccessible>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>

#include "app/form1.h"
#include "panel/widgets.h"
#include "tests/support/fake_port.h"
#include "tests/support/virtual_clock.h"

namespace {

void receiveOneByteAtATime(benchmark::State& state, const char* query, char byte) {
    VirtualClock clock;
    auto owned = std::make_unique<FakePort>();
    FakePort* port = owned.get();
    Form1 form(models::kTR27K, std::move(owned), clock, [](const std::string&) {});
    form.Form_Load();
    const std::string one(1, byte);
    const bool pass = QAccessible::isActive();
    for (auto _ : state) {
        form.Text1->setText(query);
        form.Command95_Click();
        for (int64_t i = 0; i < state.range(0); ++i) {
            port->receive(one);
            if (pass) QCoreApplication::processEvents();
        }
        benchmark::DoNotOptimize(form.Label12->text().size());
        clock.advance(3000);  // ends the reply window
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ReceiveStatusReply(benchmark::State& state) { receiveOneByteAtATime(state, "CR0", '0'); }
void BM_ReceiveLampHours(benchmark::State& state) { receiveOneByteAtATime(state, "CR3", '7'); }
void BM_ReceiveUnqueried(benchmark::State& state) { receiveOneByteAtATime(state, "C00", 'A'); }

BENCHMARK(BM_ReceiveStatusReply)->RangeMultiplier(10)->Range(100, 30000)->Complexity();
BENCHMARK(BM_ReceiveLampHours)->RangeMultiplier(10)->Range(100, 30000)->Complexity();
BENCHMARK(BM_ReceiveUnqueried)->RangeMultiplier(10)->Range(100, 30000)->Complexity();

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
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
