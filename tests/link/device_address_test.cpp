// Device texts: paths and the network addresses, and what is wrong with a malformed one.
#include <gtest/gtest.h>

#include "link/device_address.h"
#include "link/serial_port.h"

using serial::DeviceAddress;
using Kind = serial::DeviceAddress::Kind;

TEST(DeviceAddress, ReadsPathsAndNetworkAddresses) {
    struct Case {
        const char* text;
        Kind kind;
        const char* pathOrHost;
        int port;
    };
    const Case cases[] = {
        {"/dev/ttyUSB0", Kind::Local, "/dev/ttyUSB0", 0},
        {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2-if00-port0", Kind::Local,
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2-if00-port0", 0},
        {"COM3", Kind::Local, "COM3", 0},
        {"socket://127.0.0.1:4001", Kind::Socket, "127.0.0.1", 4001},
        {"SOCKET://projector-hall.local:1", Kind::Socket, "projector-hall.local", 1},
        {"rfc2217://serial-server:65535", Kind::Rfc2217, "serial-server", 65535},
        {"rfc2217://[::1]:2217", Kind::Rfc2217, "::1", 2217},
        {"socket://[fe80::1]:7000", Kind::Socket, "fe80::1", 7000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const DeviceAddress a = serial::parseDeviceAddress(c.text);
        EXPECT_EQ(a.kind, c.kind);
        EXPECT_EQ(a.text, c.text);
        EXPECT_EQ(a.network() ? a.host : a.path, c.pathOrHost);
        EXPECT_EQ(a.port, c.port);
    }
}

TEST(DeviceAddress, MalformedTextsSayWhatIsWrong) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "no device given"},
        {"socket://", "no host and port"},
        {"socket://server", "no port number (socket://HOST:PORT)"},
        {"rfc2217://server:", "no port number (rfc2217://HOST:PORT)"},
        {"socket://:4001", "no host"},
        {"socket://server:0", "the port 0 is out of range 1..65535"},
        {"socket://server:65536", "the port 65536 is out of range 1..65535"},
        {"socket://server:99999999999", "out of range 1..65535"},
        {"socket://server:-1", "the port \"-1\" is not a number"},
        {"socket://server:http", "the port \"http\" is not a number"},
        {"rfc2217://server:4001?ign_set_control", "unexpected \"?ign_set_control\" after the port number"},
        {"tcp://server:4001", "unknown scheme \"tcp\""},
        {"telnet://server:23", "unknown scheme \"telnet\""},
        {"socket://::1:4001", "an IPv6 address goes in brackets"},
        {"socket://[::1:4001", "no \"]\" after the IPv6 address"},
        {"socket://[not-v6]:4001", "\"not-v6\" is not an IPv6 address"},
        {"socket://[127.0.0.1]:4001", "is not an IPv6 address"},
        {"socket://[::1]4001", "unexpected \"4001\" after the IPv6 address"},
        {"socket://[::1]", "no port number"},
        {"socket://my server:4001", "\"my server\" is not a host name"},
    };
    for (const auto& [text, wanted] : cases) {
        SCOPED_TRACE(text);
        try {
            serial::parseDeviceAddress(text);
            ADD_FAILURE() << "accepted";
        } catch (const serial::SerialError& e) {
            EXPECT_NE(std::string(e.what()).find(wanted), std::string::npos) << e.what();
        }
    }
}
