#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace serial {

// Line settings as the codec sends them: baud rate, data bits 5..8, parity 'N','O','E','M','S',
// stop bits 1, 2, or 3 meaning 1.5 (RFC 2217's codes).
struct ComPortSettings {
    std::uint32_t baud;
    std::uint8_t dataBits;
    char parity;
    std::uint8_t stopBits;
};

// One Telnet connection to a network serial server with the COM-PORT-OPTION (RFC 854, 855,
// 856, 858, 2217). Not thread-safe; no I/O: bytes in, bytes out.
//
// Options are negotiated by the Q method of RFC 1143: the client wants BINARY TRANSMISSION and
// SUPPRESS-GO-AHEAD both ways and COM-PORT-OPTION on its own side, refuses everything else
// (ECHO included: an echo would show the panel's own commands as replies) and answers only
// when an option's state changes, so that no negotiation loops. The state is a few bytes and a
// bounded subnegotiation buffer whatever the server sends.
class Rfc2217Session {
  public:
    // The longest subnegotiation kept, option byte included. The longest fixed answer of
    // RFC 2217 is 6 bytes; the rest is room for a server's free-form SIGNATURE text.
    static constexpr std::size_t kMaxSubnegotiation = 256;

    // The bytes to send when the connection opens: the options the client offers and asks
    // for (WILL COM-PORT-OPTION, WILL/DO BINARY TRANSMISSION, WILL/DO SUPPRESS-GO-AHEAD) and
    // the line settings with no flow control. Starts the session afresh, so that one session
    // serves every connection of a port; what the server said before is forgotten, so call it
    // before the connection's first receive(). Throws std::invalid_argument on settings RFC 2217
    // cannot express.
    std::string start(const ComPortSettings& settings);

    // The bytes that set new line settings on the server's port: SET-BAUDRATE, SET-DATASIZE,
    // SET-PARITY, SET-STOPSIZE. Nothing waits for the server's answers. Throws
    // std::invalid_argument on settings RFC 2217 cannot express.
    std::string lineSettings(const ComPortSettings& settings);

    // Data for the line as it goes on the connection: IAC doubled.
    static std::string escape(std::string_view data);

    // Takes bytes from the server, in pieces of any size. Appends the line's data (IAC IAC
    // unescaped, commands removed) to `data` and the answers owed to the server to `reply`.
    // Linear in the size of `bytes`; `reply` grows by at most the size of `bytes`. After a
    // failure, takes nothing more.
    void receive(std::string_view bytes, std::string& data, std::string& reply);

    // Why the connection must be given up (the server broke the protocol beyond recovery,
    // e.g. a subnegotiation longer than kMaxSubnegotiation), or empty.
    const std::string& failure() const { return failure_; }

    // The server's last answer to SET-BAUDRATE, 0 before one came.
    std::uint32_t acknowledgedBaud() const { return acknowledgedBaud_; }

    // Whether the server has agreed to the COM-PORT-OPTION (DO COM-PORT-OPTION).
    bool comPortAgreed() const;

    // Whether the server has refused the COM-PORT-OPTION the client offered (DONT
    // COM-PORT-OPTION): valid Telnet, from a server that does not offer RFC 2217, so the line
    // settings cannot reach its port.
    bool comPortRefused() const { return comPortRefused_; }

  private:
    // RFC 1143 states of one side of one option. The client never asks to disable an option,
    // so WANTNO and the queue bit are not needed.
    enum class OptionState : std::uint8_t { No, WantYes, Yes };
    // Where the parser stands between two bytes, which may arrive in different calls.
    enum class ParseState : std::uint8_t { Data, Iac, Option, Sub, SubIac };

    void command(std::uint8_t verb, std::uint8_t option, std::string& reply);
    void collect(std::uint8_t byte);  // one byte of a subnegotiation, or the overflow failure
    void subnegotiation();
    void fail(std::string why);

    // Per option code: `local` is the client's side (WILL/WONT, asked by DO/DONT), `remote`
    // the server's (asked by WILL/WONT). Only the options the client supports leave No.
    struct Option {
        OptionState local = OptionState::No;
        OptionState remote = OptionState::No;
    };
    std::array<Option, 256> options_{};

    ParseState parse_ = ParseState::Data;
    std::uint8_t verb_ = 0;  // WILL, WONT, DO or DONT while its option byte is awaited
    std::array<std::uint8_t, kMaxSubnegotiation> sub_{};
    std::size_t subLength_ = 0;
    std::uint32_t acknowledgedBaud_ = 0;
    bool comPortRefused_ = false;
    std::string failure_;
};

}  // namespace serial
