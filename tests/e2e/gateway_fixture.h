#pragma once

// projectord as an administrator runs it, in front of the projector simulator, and the
// clients the end-to-end tests drive it with. Real time: waits are bounded and poll the event
// loop.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/support/simulator.h"

namespace e2e {

inline int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

inline bool waitFor(const std::function<bool()>& done, int ms = 5000) {
    return QTest::qWaitFor(done, ms);
}

inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

struct Finished {
    int status = -1;
    std::string out, err;
};

inline Finished finish(QProcess& p) {
    Finished f;
    if (p.state() != QProcess::NotRunning) p.waitForFinished(30'000);
    if (p.state() == QProcess::NotRunning && p.exitStatus() == QProcess::NormalExit)
        f.status = p.exitCode();
    f.out = p.readAllStandardOutput().toStdString();
    f.err = p.readAllStandardError().toStdString();
    return f;
}

inline Finished projectorctl(const QStringList& arguments) {
    QProcess p;
    p.start(QStringLiteral(PROJECTORCTL_PATH), arguments);
    return finish(p);
}

// The simulator behind a stable link, and projectord holding it with a shared line and,
// when asked, a PJLink port, each on a free port of 127.0.0.1.
struct Gateway {
    struct Options {
        std::string model = "TR27K";
        bool pjlink = false;
        std::string password{};          // PJLink's, handed over in a file
        QStringList more{};              // further options of projectord
        std::vector<std::string> sim{};  // further options of the simulator
    };

    explicit Gateway(const std::string& model = "TR27K") : Gateway(Options{model}) {}
    explicit Gateway(Options options)
        : link(std::filesystem::temp_directory_path() /
               ("projectord-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(serial++))),
          sim(simulatorOptions(link, options.model, options.sim)),
          raw(freePort()),
          pjlink(options.pjlink ? freePort() : 0) {
        QStringList arguments{"--port",   QString::fromStdString(link.string()),
                              "--model",  QString::fromStdString(options.model),
                              "--raw",    QString::number(raw),
                              "--listen", "127.0.0.1"};
        if (pjlink) arguments << "--pjlink" << QString::number(pjlink);
        if (!options.password.empty()) {
            passwordFile = link.string() + ".password";
            std::ofstream(passwordFile) << options.password << "\n";
            ::chmod(passwordFile.c_str(), 0600);
            arguments << "--pjlink-password-file" << QString::fromStdString(passwordFile);
        }
        daemon.start(QStringLiteral(PROJECTORD_PATH), arguments + options.more);
        EXPECT_TRUE(logSays("started")) << log;
    }
    ~Gateway() {
        daemon.terminate();
        if (!daemon.waitForFinished(5000)) daemon.kill();
        daemon.waitForFinished();
        if (!passwordFile.empty()) std::filesystem::remove(passwordFile);
    }

    bool logSays(const std::string& text, int ms = 5000) {
        return waitFor(
            [&] {
                log += daemon.readAllStandardError().toStdString();
                return log.find(text) != std::string::npos;
            },
            ms);
    }
    QString rawPort() const { return QStringLiteral("socket://127.0.0.1:%1").arg(raw); }

    static sim_support::Simulator::Options simulatorOptions(const std::filesystem::path& link,
                                                            const std::string& model,
                                                            const std::vector<std::string>& more) {
        std::vector<std::string> args{"--warmup", "0", "--cooldown", "0"};
        args.insert(args.end(), more.begin(), more.end());
        return {PROJECTOR_SIM_PATH, model, link.string(), args};
    }

    static inline int serial = 0;
    std::filesystem::path link;
    sim_support::Simulator sim;
    int raw;
    int pjlink;
    std::string passwordFile;
    QProcess daemon;
    std::string log;
};

// A raw client of the shared line.
struct RawClient {
    explicit RawClient(int port) {
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        EXPECT_TRUE(socket.waitForConnected(3000));
    }
    void send(const std::string& bytes) { socket.write(bytes.data(), qint64(bytes.size())); }
    bool receive(std::size_t bytes, int ms = 5000) {
        return waitFor(
            [&] {
                got += socket.readAll().toStdString();
                return got.size() >= bytes;
            },
            ms);
    }
    bool closed(int ms = 3000) {
        return waitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, ms);
    }
    QTcpSocket socket;
    std::string got;
};

// A PJLink controller: one command at a time, each waiting for its answer. With a password,
// the first command carries the digest.
struct PjlinkClient {
    explicit PjlinkClient(int port, std::string password = {}) : password(std::move(password)) {
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        EXPECT_TRUE(socket.waitForConnected(3000));
        greeting = line(3000);
    }

    // The next line received, without its carriage return; "" when none came in time.
    std::string line(int ms = 3000) {
        std::string text;
        waitFor(
            [&] {
                buffer += socket.readAll().toStdString();
                const std::size_t cr = buffer.find('\r');
                if (cr == std::string::npos) return false;
                text = buffer.substr(0, cr);
                buffer.erase(0, cr + 1);
                return true;
            },
            ms);
        return text;
    }

    // Sends the command (the digest in front of the first when there is a password) and gives
    // its answer.
    std::string ask(const std::string& command, int ms = 3000) {
        std::string sent = command;
        if (!password.empty() && !authenticated && greeting.starts_with("PJLINK 1 ")) {
            sent =
                QCryptographicHash::hash(QByteArray::fromStdString(greeting.substr(9) + password),
                                         QCryptographicHash::Md5)
                    .toHex()
                    .toStdString() +
                command;
            authenticated = true;
        }
        sent += '\r';
        socket.write(sent.data(), qint64(sent.size()));
        return line(ms);
    }

    bool closed(int ms = 3000) {
        return waitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, ms);
    }

    std::string password;
    bool authenticated = false;
    QTcpSocket socket;
    std::string greeting;
    std::string buffer;
};

}  // namespace e2e
