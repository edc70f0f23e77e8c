// Properties of the Telnet / RFC 2217 codec that hold for whatever a server sends. A violation
// aborts with a message. Used by the fuzzer and by the replay of the inputs it once found (and
// of a few chosen ones) in the tests.

#include "fuzz/rfc2217_properties.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "link/rfc2217.h"

namespace {

void check(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "rfc2217_fuzz: property violated: %s\n", property);
    std::abort();
}

constexpr serial::ComPortSettings k19200{19200, 8, 'N', 1};

struct Outcome {
    std::string data;
    std::string reply;
    std::string failure;
    std::uint32_t acknowledgedBaud;
    bool comPortAgreed;

    bool operator==(const Outcome&) const = default;
};

// The input in pieces whose sizes (1 to 8) are taken from the input's own bytes, so that IAC,
// a verb or a subnegotiation falls on a piece boundary wherever the fuzzer wants it to.
Outcome run(std::string_view input, bool started, bool inPieces) {
    serial::Rfc2217Session session;
    if (started) session.start(k19200);
    Outcome out;
    std::size_t at = 0;
    while (at < input.size()) {
        const std::size_t piece =
            inPieces ? 1 + static_cast<unsigned char>(input[at]) % 8 : input.size();
        session.receive(input.substr(at, piece), out.data, out.reply);
        at += piece;
    }
    out.failure = session.failure();
    out.acknowledgedBaud = session.acknowledgedBaud();
    out.comPortAgreed = session.comPortAgreed();
    return out;
}

// A reply is nothing but complete IAC WILL/WONT/DO/DONT commands.
bool onlyNegotiation(std::string_view reply) {
    if (reply.size() % 3 != 0) return false;
    for (std::size_t i = 0; i < reply.size(); i += 3) {
        const auto verb = static_cast<unsigned char>(reply[i + 1]);
        if (static_cast<unsigned char>(reply[i]) != 255 || verb < 251) return false;
    }
    return true;
}

// What a server that agrees with every answer in `reply` sends back: for each option and side,
// the confirmation of the last answer (WILL for DO, WONT for DONT, DO for WILL, DONT for WONT).
std::string confirmation(std::string_view reply) {
    std::string last[2][256];
    for (std::size_t i = 0; i + 2 < reply.size(); i += 3) {
        const auto verb = static_cast<unsigned char>(reply[i + 1]);
        const auto option = static_cast<unsigned char>(reply[i + 2]);
        const bool serverSide = verb == 253 || verb == 254;  // DO, DONT
        const unsigned char confirm = serverSide ? verb - 2 : verb + 2;
        last[serverSide][option] = {'\xff', static_cast<char>(confirm), static_cast<char>(option)};
    }
    std::string out;
    for (const auto& side : last) {
        for (const std::string& command : side) out += command;
    }
    return out;
}

}  // namespace

void checkRfc2217Properties(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    for (bool started : {true, false}) {
        const Outcome whole = run(input, started, false);
        check(run(input, started, true) == whole, "pieces give the same result as one piece");
        check(whole.data.size() <= size, "the data is never longer than what came");
        check(whole.reply.size() <= size, "the reply is never longer than what came");
        check(onlyNegotiation(whole.reply), "a reply holds only option negotiation");
    }

    // A failed session takes nothing more.
    {
        serial::Rfc2217Session session;
        session.start(k19200);
        std::string got;
        std::string reply;
        session.receive(input, got, reply);
        if (!session.failure().empty()) {
            const std::string before = got + reply;
            session.receive(input, got, reply);
            check(got + reply == before, "a failed session takes nothing more");
        }
    }

    // Whatever state the input leaves, escaped data after NOP IAC NOP (which ends a pending
    // command or subnegotiation, whatever byte the input ended with) comes back unchanged and
    // costs no reply.
    serial::Rfc2217Session session;
    session.start(k19200);
    std::string ignored;
    std::string answers;
    session.receive(input, ignored, answers);
    session.receive(std::string_view("\xf1\xff\xf1", 3), ignored, answers);
    if (!session.failure().empty()) return;

    // RFC 1143: a server that confirms the answers is owed nothing more, so no negotiation loops.
    std::string owed;
    session.receive(confirmation(answers), ignored, owed);
    check(owed.empty() && session.failure().empty(), "a confirmed answer is not answered");

    std::string got;
    session.receive(serial::Rfc2217Session::escape(input), got, owed);
    check(got == input, "escaped data comes back unchanged");
    check(owed.empty(), "data costs no reply");
    check(session.failure().empty(), "data never fails");
}
