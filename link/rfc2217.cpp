#include "link/rfc2217.h"

#include <stdexcept>
#include <utility>

namespace serial {

namespace {

// Telnet commands (RFC 854) and options (RFC 856, 858, 2217).
constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;

constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPort = 44;

// COM-PORT-OPTION commands, client to server; the server answers with the code + 100.
constexpr std::uint8_t kSetBaudrate = 1;
constexpr std::uint8_t kSetDatasize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopsize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kServerOffset = 100;
constexpr std::uint8_t kNoFlowControl = 1;  // SET-CONTROL value: outbound, or both ways

bool clientWants(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

bool clientAccepts(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

std::uint8_t parityCode(char parity) {
    switch (parity) {
        case 'N':
            return 1;
        case 'O':
            return 2;
        case 'E':
            return 3;
        case 'M':
            return 4;
        case 'S':
            return 5;
        default:
            throw std::invalid_argument(std::string("RFC 2217 has no parity '") + parity + "'");
    }
}

void appendCommand(std::string& out, std::uint8_t verb, std::uint8_t option) {
    out.push_back(static_cast<char>(kIac));
    out.push_back(static_cast<char>(verb));
    out.push_back(static_cast<char>(option));
}

// IAC SB COM-PORT-OPTION command value IAC SE, with IAC in the value doubled.
void appendComPort(std::string& out, std::uint8_t command, std::string_view value) {
    out.push_back(static_cast<char>(kIac));
    out.push_back(static_cast<char>(kSb));
    out.push_back(static_cast<char>(kComPort));
    out.push_back(static_cast<char>(command));
    out += Rfc2217Session::escape(value);
    out.push_back(static_cast<char>(kIac));
    out.push_back(static_cast<char>(kSe));
}

void appendComPort(std::string& out, std::uint8_t command, std::uint8_t value) {
    appendComPort(out, command, std::string_view(reinterpret_cast<const char*>(&value), 1));
}

}  // namespace

std::string Rfc2217Session::start(const ComPortSettings& settings) {
    const std::string line = lineSettings(settings);
    *this = Rfc2217Session();
    std::string out;
    for (std::uint8_t option : {kComPort, kBinary, kSuppressGoAhead}) {
        options_[option].local = OptionState::WantYes;
        appendCommand(out, kWill, option);
        if (clientAccepts(option)) {
            options_[option].remote = OptionState::WantYes;
            appendCommand(out, kDo, option);
        }
    }
    out += line;
    appendComPort(out, kSetControl, kNoFlowControl);
    return out;
}

std::string Rfc2217Session::lineSettings(const ComPortSettings& settings) {
    if (settings.baud == 0) throw std::invalid_argument("RFC 2217 reads baud rate 0 as a query");
    if (settings.dataBits < 5 || settings.dataBits > 8) {
        throw std::invalid_argument("RFC 2217 has no data size " +
                                    std::to_string(settings.dataBits));
    }
    if (settings.stopBits < 1 || settings.stopBits > 3) {
        throw std::invalid_argument("RFC 2217 has no stop size " +
                                    std::to_string(settings.stopBits));
    }
    const char baud[4] = {static_cast<char>(settings.baud >> 24),
                          static_cast<char>(settings.baud >> 16),
                          static_cast<char>(settings.baud >> 8), static_cast<char>(settings.baud)};
    std::string out;
    appendComPort(out, kSetBaudrate, std::string_view(baud, sizeof baud));
    appendComPort(out, kSetDatasize, settings.dataBits);
    appendComPort(out, kSetParity, parityCode(settings.parity));
    appendComPort(out, kSetStopsize, settings.stopBits);
    return out;
}

std::string Rfc2217Session::escape(std::string_view data) {
    std::string out;
    out.reserve(data.size());
    for (char c : data) {
        out.push_back(c);
        if (static_cast<std::uint8_t>(c) == kIac) out.push_back(c);
    }
    return out;
}

bool Rfc2217Session::comPortAgreed() const {
    return options_[kComPort].local == OptionState::Yes;
}

void Rfc2217Session::receive(std::string_view bytes, std::string& data, std::string& reply) {
    std::size_t i = 0;
    while (i < bytes.size() && failure_.empty()) {
        const auto byte = static_cast<std::uint8_t>(bytes[i]);
        switch (parse_) {
            case ParseState::Data: {
                const std::size_t iac = bytes.find(static_cast<char>(kIac), i);
                const std::size_t end = iac == std::string_view::npos ? bytes.size() : iac;
                data.append(bytes.substr(i, end - i));
                if (iac != std::string_view::npos) parse_ = ParseState::Iac;
                i = end + 1;
                continue;
            }
            case ParseState::Iac:
                if (byte == kIac) {
                    data.push_back(static_cast<char>(kIac));
                    parse_ = ParseState::Data;
                } else if (byte >= kWill && byte <= kDont) {
                    verb_ = byte;
                    parse_ = ParseState::Option;
                } else if (byte == kSb) {
                    subLength_ = 0;
                    parse_ = ParseState::Sub;
                } else {
                    // NOP, GA, DM, BRK, IP, AO, AYT, EC, EL, a stray SE, or no command at all:
                    // nothing the line's data or the link needs.
                    parse_ = ParseState::Data;
                }
                break;
            case ParseState::Option:
                command(verb_, byte, reply);
                parse_ = ParseState::Data;
                break;
            case ParseState::Sub:
                if (byte == kIac) {
                    parse_ = ParseState::SubIac;
                } else {
                    collect(byte);
                }
                break;
            case ParseState::SubIac:
                if (byte == kIac) {
                    parse_ = ParseState::Sub;
                    collect(kIac);
                } else if (byte == kSe) {
                    subnegotiation();
                    parse_ = ParseState::Data;
                } else {
                    // A command inside a subnegotiation cuts it short (as IAC SE would, RFC 855
                    // leaves the case open): the torn subnegotiation is dropped and the command
                    // is read as one outside.
                    parse_ = ParseState::Iac;
                    continue;
                }
                break;
        }
        ++i;
    }
}

void Rfc2217Session::command(std::uint8_t verb, std::uint8_t option, std::string& reply) {
    // RFC 1143: WILL/WONT ask about the server's side, DO/DONT about the client's.
    const bool serverSide = verb == kWill || verb == kWont;
    const bool enable = verb == kWill || verb == kDo;
    OptionState& state = serverSide ? options_[option].remote : options_[option].local;
    const std::uint8_t yes = serverSide ? kDo : kWill;
    const std::uint8_t no = serverSide ? kDont : kWont;

    if (enable) {
        if (state == OptionState::WantYes) {
            state = OptionState::Yes;
        } else if (state == OptionState::No) {
            const bool agree = serverSide ? clientAccepts(option) : clientWants(option);
            if (agree) state = OptionState::Yes;
            appendCommand(reply, agree ? yes : no, option);
        }
        return;
    }
    if (!serverSide && option == kComPort && state != OptionState::No) comPortRefused_ = true;
    if (state == OptionState::Yes) appendCommand(reply, no, option);
    state = OptionState::No;
}

void Rfc2217Session::collect(std::uint8_t byte) {
    if (subLength_ == sub_.size()) {
        fail("The network serial server sent a Telnet subnegotiation longer than " +
             std::to_string(kMaxSubnegotiation) + " bytes");
        return;
    }
    sub_[subLength_++] = byte;
}

void Rfc2217Session::subnegotiation() {
    // Only the server's answer to SET-BAUDRATE is kept; the other answers and notifications
    // (line and modem state, flow control suspend/resume, signature) are nothing the panel
    // shows or acts on.
    if (subLength_ == 6 && sub_[0] == kComPort && sub_[1] == kServerOffset + kSetBaudrate) {
        acknowledgedBaud_ = static_cast<std::uint32_t>(sub_[2]) << 24 |
                            static_cast<std::uint32_t>(sub_[3]) << 16 |
                            static_cast<std::uint32_t>(sub_[4]) << 8 | sub_[5];
    }
}

void Rfc2217Session::fail(std::string why) {
    if (failure_.empty()) failure_ = std::move(why);
}

}  // namespace serial
