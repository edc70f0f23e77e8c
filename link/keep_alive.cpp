#include "link/keep_alive.h"

#include <QAbstractSocket>
#include <QVariant>

#ifdef __linux__
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace serial {

void keepAlive(QAbstractSocket& socket) {
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef __linux__
    const auto fd = static_cast<int>(socket.socketDescriptor());
    if (fd < 0) return;
    const auto set = [fd](int option, int value) {
        ::setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value);
    };
    set(TCP_KEEPIDLE, kKeepAliveIdleS);
    set(TCP_KEEPINTVL, kKeepAliveIntervalS);
    set(TCP_KEEPCNT, kKeepAliveProbes);
    set(TCP_USER_TIMEOUT, kUnacknowledgedLimitS * 1000);
#endif
}

}  // namespace serial
