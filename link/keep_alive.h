#pragma once

class QAbstractSocket;

namespace serial {

// How soon a connection whose peer has vanished without closing it (switched off, cable
// pulled, a NAT that forgot it) is found: probes after kKeepAliveIdleS of quiet, every
// kKeepAliveIntervalS, kKeepAliveProbes unanswered ones end it. Data left unacknowledged for
// kUnacknowledgedLimitS ends it too, since probes are not sent while data waits.
inline constexpr int kKeepAliveIdleS = 30;
inline constexpr int kKeepAliveIntervalS = 10;
inline constexpr int kKeepAliveProbes = 3;
inline constexpr int kUnacknowledgedLimitS = kKeepAliveIdleS + kKeepAliveIntervalS * kKeepAliveProbes;

// Turns TCP keepalive on for a connected socket, with the timing above where the platform
// lets it be set (the system's, two hours by default, elsewhere).
void keepAlive(QAbstractSocket& socket);

}  // namespace serial
