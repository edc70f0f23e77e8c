// The floors projectord's PJLink port is measured against: bare Qt programs that do only the
// hops a PJLink command takes, nothing of its meaning.
//
//   bench_bare_tcp answer PORT           a QTcpServer on 127.0.0.1:PORT answering every line
//                                        received with a fixed PJLink answer
//   bench_bare_tcp relay PORT DEVICE     the same, writing a fixed command to a QSerialPort
//                                        on DEVICE for every line, and answering once the
//                                        device's reply has come
//
// Prints "ready" once it listens; ends on SIGTERM.
#include <QCoreApplication>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <csignal>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::signal(SIGTERM, [](int) { std::_Exit(0); });
    const QStringList args = QCoreApplication::arguments();
    const bool relay = args.size() == 4 && args[1] == QLatin1String("relay");
    if (!relay && !(args.size() == 3 && args[1] == QLatin1String("answer"))) {
        std::fprintf(stderr, "usage: bench_bare_tcp answer PORT | relay PORT DEVICE\n");
        return 64;
    }
    QSerialPort device;
    if (relay) {
        device.setPortName(args[3]);
        device.setBaudRate(19200);
        if (!device.open(QIODevice::ReadWrite)) {
            std::fprintf(stderr, "bench_bare_tcp: %s\n", qPrintable(device.errorString()));
            return 1;
        }
    }
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, quint16(args[2].toUInt()))) {
        std::fprintf(stderr, "bench_bare_tcp: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    QTcpSocket* client = nullptr;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        client = server.nextPendingConnection();
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        client->write("PJLINK 0\r");
        QObject::connect(client, &QTcpSocket::readyRead, [&] {
            QByteArray received = client->readAll();
            for (qsizetype lines = received.count('\r'); lines > 0; --lines) {
                if (relay) {
                    device.write("C0D\r");
                    device.flush();
                } else {
                    client->write("%1POWR=0\r");
                    client->flush();
                }
            }
        });
    });
    QObject::connect(&device, &QSerialPort::readyRead, [&] {
        for (qsizetype replies = device.readAll().count('\r'); replies > 0 && client; --replies) {
            client->write("%1AVMT=OK\r");
            client->flush();
        }
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
