#pragma once

#include <functional>
#include <string>
#include <string_view>

class QAbstractSocket;

namespace gateway {

// Where the daemon's log lines go: one line per event an administrator needs, without its
// line end. Standard error in the daemon; a recorder in tests.
using Log = std::function<void(const std::string& line)>;

// Text from outside made one line fit for the log: every line of it joined by " ", each shown
// through engine::shownText.
std::string logText(std::string_view text);

// The peer of a connection as a log line names it: "192.0.2.7:50112", "[2001:db8::7]:50112".
std::string peerOf(const QAbstractSocket& socket);

}  // namespace gateway
