#pragma once

#include <QTcpSocket>
#include <memory>
#include <string>

#include "link/device_address.h"
#include "link/transport.h"

namespace serial {

class Rfc2217Session;

// A connection to a network serial server over QTcpSocket: raw TCP, the bytes as they are
// (socket://), or Telnet with the COM-PORT-OPTION of RFC 2217 (rfc2217://), which carries the
// line settings to the server's port. Written for a hostile peer: what it keeps of the
// server's bytes and of its own unsent bytes is bounded, and a server that breaks the
// protocol is a failed connection.
class TcpTransport final : public Transport {
public:
    // Bytes taken from the connection per receive event at most; the rest waits in the
    // kernel, which slows a flooding server down.
    static constexpr qint64 kReadBufferSize = 16 * 1024;
    // Bytes waiting for a server that does not take them, beyond which a write fails.
    static constexpr qint64 kWriteLimit = 64 * 1024;

    explicit TcpTransport(DeviceAddress address);
    ~TcpTransport() override;

    void start(const LineSettings& settings) override;
    void close() override;
    bool gone() const override { return !failure_.empty(); }
    bool permanent() const override { return refused_; }
    void applySettings(const LineSettings& settings) override;
    void write(const std::string& bytes) override;
    std::string readAll() override;

private:
    bool telnet() const { return address_.kind == DeviceAddress::Kind::Rfc2217; }
    void onSocketConnected();
    void onSocketReadyRead();
    void sendProtocol(const std::string& bytes);
    void takeTelnet();
    void failOnce(const std::string& description);

    DeviceAddress address_;
    QTcpSocket socket_;
    std::unique_ptr<Rfc2217Session> session_;  // rfc2217:// only
    LineSettings settings_{};
    std::string data_;  // line data taken out of the Telnet stream, until read
    bool done_ = false; // failed or closed: nothing more is raised
    std::string failure_;  // why the connection failed
    bool refused_ = false;  // the server does not offer RFC 2217
};

}  // namespace serial
