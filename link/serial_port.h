#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace serial {

// A failed operation of the serial control; what() is the control's own description.
class SerialError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The operations the panel uses of its one serial port. Every operation that fails throws
// SerialError and leaves the port as it was.
class SerialPort {
public:
    // CommEvent of a receive event.
    static constexpr int kEventReceive = 2;

    virtual ~SerialPort() = default;

    // Port number n means "COMn". Set only while the port is closed.
    virtual void setCommPort(int n) = 0;
    virtual int commPort() const = 0;

    // Line settings such as "19200,N,8,1"; take effect whether the port is open or closed.
    virtual void setSettings(const std::string& settings) = 0;
    virtual std::string settings() const = 0;

    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;

    // Writes the bytes to the line, whole and in order, without waiting for them to go out:
    // what the device cannot take yet waits for it. Fails if the port is not open, if the
    // device has gone, or if too much already waits for a device that takes too little.
    virtual void output(const std::string& bytes) = 0;

    // Returns every waiting byte and removes them from the receive buffer.
    virtual std::string input() = 0;

    // The kind of the event being reported to onComm.
    virtual int commEvent() const = 0;

    // The device that "COMn" names for the current port number: a path, or the address of a
    // network serial server.
    virtual std::string devicePath() const = 0;

    // Raised on the window's thread as soon as one byte is waiting.
    std::function<void()> onComm;

    // Raised once when an open port is lost (adapter unplugged, connection dropped) or a
    // network port's connection cannot be made, unless a call that met the loss has reported
    // it already. The port reads as closed by then; it may open again by itself when the
    // device is back.
    std::function<void(const std::string& description)> onLost;

    // Raised when the port becomes ready later than its open: a network connection has been
    // made, or a lost port has been reopened.
    std::function<void()> onReady;
};

}  // namespace serial
