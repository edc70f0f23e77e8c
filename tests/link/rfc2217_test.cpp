// The Telnet / RFC 2217 codec: what the server's bytes give as data, answers and failure, and
// the exact bytes the client sends.
#include "link/rfc2217.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <stdexcept>
#include <string>

namespace {

using serial::ComPortSettings;
using serial::Rfc2217Session;

// clang-format off
enum : int {
    SE = 240, NOP, DM, BRK, IP, AO, AYT, EC, EL, GA, SB, WILL, WONT, DO, DONT, IAC,
    BINARY = 0, ECHO_ = 1, SGA = 3, TTYPE = 24, NAWS = 31, COMPORT = 44,
};
// clang-format on

std::string b(std::initializer_list<int> bytes) {
    std::string out;
    for (int v : bytes) out.push_back(static_cast<char>(v));
    return out;
}

// IAC SB content IAC SE; the content as it goes on the connection.
std::string sb(std::initializer_list<int> content) {
    return b({IAC, SB}) + b(content) + b({IAC, SE});
}

struct Case {
    const char* name;
    std::string input;
    std::string data;
    std::string reply;
    bool fails = false;
    std::uint32_t baud = 0;
    bool started = true;
    bool refused = false;
};

const std::string kLongSignature(Rfc2217Session::kMaxSubnegotiation - 2, 'x');

// clang-format off
const Case kCases[] = {
    {"data and CR NUL pass as they are",
     std::string("00\r\0A\r\n", 7), std::string("00\r\0A\r\n", 7), ""},
    {"IAC IAC is one data byte 255",
     b({'A', IAC, IAC, IAC, IAC, 'B'}), b({'A', 255, 255, 'B'}), ""},
    {"agreement to the offers and its repetition cost no answer",
     b({IAC, DO, COMPORT, IAC, DO, BINARY, IAC, WILL, BINARY, IAC, DO, SGA, IAC, WILL, SGA,
        IAC, WILL, BINARY, IAC, DO, COMPORT}), "", ""},
    {"ECHO, other options and the server's COM-PORT side are refused",
     b({IAC, WILL, ECHO_, IAC, DO, ECHO_, IAC, WILL, TTYPE, IAC, DO, NAWS, IAC, WILL, COMPORT}), "",
     b({IAC, DONT, ECHO_, IAC, WONT, ECHO_, IAC, DONT, TTYPE, IAC, WONT, NAWS, IAC, DONT, COMPORT})},
    {"a refused offer and the withdrawal of what is off cost no answer",
     b({IAC, WONT, BINARY, IAC, DONT, SGA, IAC, WONT, TTYPE, IAC, DONT, TTYPE}), "", ""},
    {"an agreed option withdrawn is confirmed once",
     b({IAC, WILL, BINARY, IAC, WONT, BINARY, IAC, WONT, BINARY,
        IAC, DO, SGA, IAC, DONT, SGA, IAC, DONT, SGA}),
     "", b({IAC, DONT, BINARY, IAC, WONT, SGA})},
    {"DO COM-PORT before the offer is answered WILL once",
     b({IAC, DO, COMPORT, IAC, DO, COMPORT}), "", b({IAC, WILL, COMPORT}), false, 0, false},
    {"DONT COM-PORT before the offer is no failure",
     b({IAC, DONT, COMPORT}), "", "", false, 0, false},
    {"ser2net 4.3 answering start() with 9600 baud",
     b({IAC, WILL, SGA, IAC, DO, SGA, IAC, WILL, ECHO_, IAC, DONT, ECHO_, IAC, DO, BINARY,
        IAC, WILL, BINARY, IAC, DO, COMPORT}) + sb({COMPORT, 107, 0}) + b({IAC, DO, SGA}) +
     sb({COMPORT, 101, 0, 0, 0x25, 0x80}) + sb({COMPORT, 102, 8}) + sb({COMPORT, 103, 1}) +
     sb({COMPORT, 104, 1}) + sb({COMPORT, 105, 1}) + "00\r",
     "00\r", b({IAC, DONT, ECHO_}), false, 9600},
    {"the server refusing COM-PORT is valid Telnet: the data goes on",
     b({IAC, DONT, COMPORT, 'A'}), "A", "", false, 0, true, true},
    {"commands outside a subnegotiation are dropped",
     b({'A', IAC, NOP, IAC, GA, IAC, DM, IAC, BRK, IAC, IP, 'B', IAC, AO, IAC, AYT, IAC, EC,
        IAC, EL, IAC, SE, IAC, 17, 'C'}), "ABC", ""},
    {"the SET-BAUDRATE answer is read",
     "A" + sb({COMPORT, 101, 0, 0, 0x4B, 0}) + "B", "AB", "", false, 19200},
    {"IAC IAC inside a subnegotiation is one byte",
     sb({COMPORT, 101, 0, IAC, IAC, 0, IAC, IAC}), "", "", false, 0x00FF00FF},
    {"notifications, signatures and other options' subnegotiations are dropped",
     sb({COMPORT, 106, 0x60}) + sb({COMPORT, 107, 0x30}) + "A" + sb({COMPORT, 108}) +
     sb({COMPORT, 100, 's', 'i', 'g'}) + sb({TTYPE, 1}) + sb({}) + sb({COMPORT, 101, 0, 0, 0x4B}) +
     "B", "AB", ""},
    {"a command inside a subnegotiation cuts it short",
     b({IAC, SB, COMPORT, 101, 0, 0, IAC, WILL, ECHO_, 0x4B, 0, IAC, SE, 'A'}), b({0x4B, 0, 'A'}),
     b({IAC, DONT, ECHO_})},
    {"a subnegotiation as long as the bound is taken",
     b({IAC, SB, COMPORT, 100}) + kLongSignature + b({IAC, SE, 'A'}), "A", ""},
    {"a subnegotiation beyond the bound fails and takes nothing more",
     b({'A', IAC, SB, COMPORT, 100}) + kLongSignature + b({'x', IAC, SE, 'B', IAC, WILL, ECHO_}),
     "A", "", true},
};
// clang-format on

void expectCase(const Case& c, std::size_t piece) {
    SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
    Rfc2217Session session;
    if (c.started) session.start({19200, 8, 'N', 1});
    std::string data;
    std::string reply;
    for (std::size_t at = 0; at < c.input.size(); at += piece) {
        session.receive(std::string_view(c.input).substr(at, piece), data, reply);
    }
    EXPECT_EQ(data, c.data);
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(!session.failure().empty(), c.fails) << session.failure();
    EXPECT_EQ(session.acknowledgedBaud(), c.baud);
    EXPECT_EQ(session.comPortRefused(), c.refused);
}

TEST(Rfc2217Receive, EachCaseInOnePiece) {
    for (const Case& c : kCases) expectCase(c, c.input.size());
}

// The stream arrives in arbitrary pieces: IAC at the end of one, its command in the next.
TEST(Rfc2217Receive, PiecesOfEverySizeGiveTheSameResult) {
    for (const Case& c : kCases) {
        for (std::size_t piece = 1; piece < c.input.size(); ++piece) expectCase(c, piece);
    }
}

TEST(Rfc2217Receive, StartBeginsAfreshAfterAFailure) {
    Rfc2217Session session;
    std::string data;
    std::string reply;
    session.start({19200, 8, 'N', 1});
    session.receive(b({IAC, SB, COMPORT, 101, 0, 0, 0x25, 0x80, IAC, SE, IAC, DONT, COMPORT, IAC,
                       SB, COMPORT, 100}) + std::string(Rfc2217Session::kMaxSubnegotiation, 'x'),
                    data, reply);
    ASSERT_FALSE(session.failure().empty());
    ASSERT_TRUE(session.comPortRefused());
    session.start({9600, 8, 'N', 1});
    session.receive(b({IAC, DO, COMPORT, 'A'}), data, reply);
    EXPECT_EQ(session.failure(), "");
    EXPECT_EQ(session.acknowledgedBaud(), 0u);
    EXPECT_TRUE(session.comPortAgreed());
    EXPECT_FALSE(session.comPortRefused());
    EXPECT_EQ(data, "A");
    EXPECT_EQ(reply, "");
}

TEST(Rfc2217Escape, EveryByteRoundTrips) {
    std::string all;
    for (int i = 0; i < 512; ++i) all.push_back(static_cast<char>(i % 256));
    const std::string escaped = Rfc2217Session::escape(all);
    EXPECT_EQ(escaped.size(), all.size() + 2);
    EXPECT_EQ(escaped.substr(255, 3), b({IAC, IAC, 0}));

    Rfc2217Session session;
    session.start({19200, 8, 'N', 1});
    std::string data;
    std::string reply;
    session.receive(escaped, data, reply);
    EXPECT_EQ(data, all);
    EXPECT_EQ(reply, "");
}

// Checked by hand against RFC 2217: IAC SB COM-PORT-OPTION(44) command value IAC SE, the baud
// rate in 4 bytes in network order, parity 1..5 = N O E M S, stop size 3 = 1.5.
TEST(Rfc2217Send, StartOffersTheOptionsAndSets19200With8N1AndNoFlowControl) {
    Rfc2217Session session;
    EXPECT_EQ(
        session.start({19200, 8, 'N', 1}),
        b({IAC, WILL, COMPORT, IAC, WILL, BINARY, IAC, DO, BINARY, IAC, WILL, SGA, IAC, DO, SGA}) +
            sb({COMPORT, 1, 0x00, 0x00, 0x4B, 0x00}) + sb({COMPORT, 2, 8}) + sb({COMPORT, 3, 1}) +
            sb({COMPORT, 4, 1}) + sb({COMPORT, 5, 1}));
}

TEST(Rfc2217Send, LineSettings) {
    const struct {
        ComPortSettings settings;
        std::string bytes;
    } cases[] = {
        {{9600, 8, 'N', 1},
         sb({COMPORT, 1, 0x00, 0x00, 0x25, 0x80}) + sb({COMPORT, 2, 8}) + sb({COMPORT, 3, 1}) +
             sb({COMPORT, 4, 1})},
        {{255, 7, 'E', 2},
         sb({COMPORT, 1, 0, 0, 0, IAC, IAC}) + sb({COMPORT, 2, 7}) + sb({COMPORT, 3, 3}) +
             sb({COMPORT, 4, 2})},
        {{115200, 5, 'S', 3},
         sb({COMPORT, 1, 0x00, 0x01, 0xC2, 0x00}) + sb({COMPORT, 2, 5}) + sb({COMPORT, 3, 5}) +
             sb({COMPORT, 4, 3})},
    };
    for (const auto& c : cases) {
        Rfc2217Session session;
        EXPECT_EQ(session.lineSettings(c.settings), c.bytes) << c.settings.baud;
    }
    for (const ComPortSettings bad :
         {ComPortSettings{0, 8, 'N', 1}, ComPortSettings{9600, 4, 'N', 1},
          ComPortSettings{9600, 9, 'N', 1}, ComPortSettings{9600, 8, 'n', 1},
          ComPortSettings{9600, 8, 'N', 0}, ComPortSettings{9600, 8, 'N', 4}}) {
        Rfc2217Session session;
        EXPECT_THROW(session.lineSettings(bad), std::invalid_argument) << bad.baud << bad.parity;
    }
}

}  // namespace
