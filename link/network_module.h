#pragma once

#include <QtPlugin>
#include <memory>
#include <string>

#include "link/device_address.h"
#include "link/transport.h"

namespace serial {

// What the network module gives the program that loads it: the network transports, built
// from the same sources as the program. A module of another version is refused before it is
// loaded (its metadata names the version).
class NetworkTransports {
  public:
    virtual ~NetworkTransports() = default;
    virtual std::unique_ptr<Transport> open(const DeviceAddress& address) = 0;
};

// The network module of a program that links serial_link_on_demand, loaded on first use and
// kept loaded: the transports it made live on in the program.
class NetworkModule {
  public:
    explicit NetworkModule(std::string path) : path_(std::move(path)) {}

    // The module of this program, where the package installs it: in a folder named relative
    // to the program's own folder, which holds in the build tree as well.
    static NetworkModule& program();

    // The transport that reaches a network address. Throws SerialError saying why the module
    // cannot be loaded (missing, unloadable, of another version) and what to do about it.
    std::unique_ptr<Transport> open(const DeviceAddress& address);

    const std::string& path() const { return path_; }

  private:
    std::string path_;
    NetworkTransports* loaded_ = nullptr;
};

}  // namespace serial

#define PANEL_NETWORK_TRANSPORTS_IID "io.github.projectorpanel.NetworkTransports/1"
Q_DECLARE_INTERFACE(serial::NetworkTransports, PANEL_NETWORK_TRANSPORTS_IID)
