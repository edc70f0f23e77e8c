// The receive path over long replies: its work stays proportional to what arrives, and STATUS
// stays what the decoders give for the whole reply, however it arrives.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "engine/display_form.h"
#include "tests/support/panel_fixture.h"

// Every allocation of this test program goes through here, so that a test can count the bytes
// its own thread asks for. Copying a growing reply on every receive event shows up as a
// quadratic total.
namespace {
thread_local bool tCounting = false;
thread_local std::size_t tAllocated = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (tCounting) tAllocated += size;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Counts the bytes the current thread allocates while it is alive.
class AllocationCount {
public:
    AllocationCount() {
        tAllocated = 0;
        tCounting = true;
    }
    ~AllocationCount() { tCounting = false; }
    std::size_t bytes() const { return tAllocated; }
};

void send(PanelFixture& p, std::string_view typed) {
    p.form->Text1->setText(QString::fromUtf8(typed.data(), qsizetype(typed.size())));
    p.click("Command95");
}

// The query typed into the free command entry and the byte its reply repeats; digits keep
// the pressure decoder's number going.
struct Flood {
    std::string_view query;
    char byte;
};

TEST(ReceivePath, OneByteAtATimeAllocatesInProportionToTheReply) {
    const Flood floods[] = {
        {"CR0", '0'}, {"CR1", '1'}, {"CR4", '1'}, {"CR3", '7'},          {"CR6", '7'},
        {"CRA", '0'}, {"CR9", '7'}, {"CR PRESSURE", '7'}, {"CR7", '0'}, {"C00", 'A'},
    };
    // A reply window of 10000 bytes renders to 20000 characters in RXD: copying it whole on
    // every event allocates 10000 bytes per byte received and more. The path allocates a few
    // tens of bytes per event (captions), and the number reader a bounded amount per reply.
    constexpr int kBytes = 10000;
    constexpr std::size_t kAllowedPerByte = 400;
    for (const Flood& flood : floods) {
        PanelFixture p;
        send(p, flood.query);
        const std::string one(1, flood.byte);
        std::size_t allocated = 0;
        {
            const AllocationCount count;
            for (int i = 0; i < kBytes; ++i) p.port->receive(one);
            allocated = count.bytes();
        }
        EXPECT_LE(allocated, kAllowedPerByte * kBytes) << flood.query;
    }
}

// A step of the operator or the line.
struct Step {
    enum Kind { Send, Receive, Advance, ClearDisplays } kind;
    std::string text;  // what is typed and sent, what arrives, or the milliseconds to advance
};

struct IncrementalCase {
    const char* name;
    std::vector<Step> steps;
    std::string status;
};

// STATUS after each sequence is what the decoders give for the whole of RXD, however RXD and
// STATUS were written in between.
TEST(ReceivePath, StatusFollowsTheWholeReplyWhateverHappensInBetween) {
    using S = Step;
    const IncrementalCase cases[] = {
        {"CR9 after an event of another command",
         {{S::Send, "CR9"}, {S::Receive, "12"}, {S::Send, "C00"}, {S::Receive, "3"},
          {S::Send, "CR9"}, {S::Receive, "4"}},
         " 1 2 3 4 "},
        {"CR9 after another decoder's caption",
         {{S::Send, "CR9"}, {S::Receive, "00"}, {S::Send, "CR0"}, {S::Receive, "\r"},
          {S::Send, "CR9"}, {S::Receive, "1"}},
         " 0 0 CR 1 "},
        {"CR9 after a display clear within the window",
         {{S::Send, "CR9"}, {S::Receive, "12"}, {S::ClearDisplays, ""}, {S::Receive, "3"}},
         " 1 2 3 "},
        // A typed command's reply window lasts 2000 ms.
        {"CR9 after the window ended",
         {{S::Send, "CR9"}, {S::Receive, "12"}, {S::Advance, "2000"}, {S::Receive, "345"}},
         " 3 4 5 "},
        {"CR PRESSURE after the window ended",
         {{S::Send, "CR PRESSURE"}, {S::Receive, "51"}, {S::Advance, "2000"},
          {S::Receive, "2\r"}},
         "108 hPa"},
        {"CR PRESSURE sent while the reply arrives",
         {{S::Send, "CR0"}, {S::Receive, "5"}, {S::Send, "CR PRESSURE"}, {S::Receive, "12\r"}},
         "650 hPa"},
    };
    for (const IncrementalCase& c : cases) {
        PanelFixture p;
        for (const Step& step : c.steps) {
            switch (step.kind) {
                case Step::Send: send(p, step.text); break;
                case Step::Receive: p.port->receive(step.text); break;
                case Step::Advance: p.clock.advance(std::stoi(step.text)); break;
                case Step::ClearDisplays: p.form->Timer4_Timer(); break;
            }
        }
        EXPECT_EQ(p.status(), c.status) << c.name;
        EXPECT_EQ(p.rxd(), engine::displayForm(p.form->rxBuffer)) << c.name;
    }
}

}  // namespace
