#pragma once

#include <QStringList>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/port_assignment.h"
#include "models/model.h"
#include "session/session.h"

namespace ctl {

// A command line that cannot be carried out; what() is the one-line reason. Nothing has been
// sent when it is thrown.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr int kExitAnswered = 0;
inline constexpr int kExitReplyMissing = 1;
inline constexpr int kExitPortFailed = 2;
inline constexpr int kExitUsage = 64;         // EX_USAGE of sysexits.h
inline constexpr int kExitOutputFailed = 74;  // EX_IOERR: the output could not be written

struct Request {
    enum class Command { Send, Press, Status, Watch, List, Ports, Help, Version };
    Command command = Command::Help;
    const models::Model* model = &models::kTR27K;
    std::vector<std::string> ports;  // device texts as given, in order
    std::string settings;            // the line settings, "19200,N,8,1"
    bool speedChosen = false;        // --speed was given
    std::optional<int> timeoutMs;
    bool json = false;
    int watchPeriodMs = 5000;
    std::vector<session::Send> sends;  // send, press and status: what goes to every port, in order
    std::string helpText;     // Help
};

// Reads the command line (the program's name first); COMn is looked up in `assignment` to
// know the device each port reaches. Throws UsageError.
Request parseRequest(const QStringList& arguments, const serial::PortAssignment& assignment);

}  // namespace ctl
