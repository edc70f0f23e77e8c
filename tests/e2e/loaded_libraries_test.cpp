// The panel program as an operator starts it: a local device is opened without the network
// library; a network address, first opened from ports.ini, loads the network module from
// where the program looks for it and connects. Real time here: waits are bounded and poll the
// event loop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/simulator.h"

namespace {

namespace fs = std::filesystem;

// The panel with a clean environment of its own; ended with SIGTERM when done.
struct Program {
    explicit Program(const QStringList& environment) {
        QProcessEnvironment env;
        env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (const QString& entry : environment) {
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        }
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(TR27KRSC_PATH), {});
    }
    ~Program() {
        process.terminate();
        if (!process.waitForFinished(10'000)) process.kill();
        process.waitForFinished();
    }

    // The objects mapped into the program now.
    std::string maps() const {
        std::ifstream file("/proc/" + std::to_string(process.processId()) + "/maps");
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    bool holds(const fs::path& device) const {
        std::error_code error;
        for (const auto& fd : fs::directory_iterator(
                 "/proc/" + std::to_string(process.processId()) + "/fd", error)) {
            if (fs::read_symlink(fd.path(), error) == device) return true;
        }
        return false;
    }

    QProcess process;
};

bool loadsNetworkCode(const std::string& maps) {
    return maps.find("libQt6Network") != std::string::npos ||
           maps.find("network-transports") != std::string::npos;
}

TEST(LoadedLibraries, NetworkLibraryIsLoadedForANetworkAddressOnly) {
    QTemporaryDir home;
    const std::string link =
        (fs::temp_directory_path() / ("projector-libs-" + std::to_string(::getpid()))).string();
    sim_support::Simulator sim({PROJECTOR_SIM_PATH, "TR27K", link, {}});
    {
        Program local({QStringLiteral("HOME=") + home.path(),
                       QStringLiteral("XDG_CONFIG_HOME=") + home.path(),
                       QStringLiteral("PROJECTOR_COM1=") + QString::fromStdString(link)});
        ASSERT_TRUE(QTest::qWaitFor([&] { return local.holds(fs::canonical(link)); }, 10'000));
        const std::string maps = local.maps();
        EXPECT_NE(maps.find("libQt6SerialPort"), std::string::npos);
        EXPECT_FALSE(loadsNetworkCode(maps)) << maps;
    }

    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QFile ports(home.filePath(QStringLiteral("projector-panel/ports.ini")));
    ASSERT_TRUE(
        fs::create_directories(home.filePath(QStringLiteral("projector-panel")).toStdString()));
    ASSERT_TRUE(ports.open(QIODevice::WriteOnly));
    ports.write("COM1=socket://127.0.0.1:" + QByteArray::number(server.serverPort()) + "\n");
    ports.close();
    Program remote(
        {QStringLiteral("HOME=") + home.path(), QStringLiteral("XDG_CONFIG_HOME=") + home.path()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 10'000));
    EXPECT_TRUE(loadsNetworkCode(remote.maps()));
}

}  // namespace
