// The network module of the panels: loaded when a network address is first opened; when it
// cannot be, the operator reads in the warning box which file is wrong and what to do.
#include "link/network_module.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "app/form1.h"
#include "link/reconnecting_port.h"
#include "link/transports.h"
#include "tests/support/virtual_clock.h"

namespace {

TEST(NetworkModule, OneThatCannotBeLoadedIsReportedInTheWarningBoxWithWhatToDo) {
    QTemporaryDir dir;
    const QString notAModule = dir.filePath(QStringLiteral("garbage.so"));
    QFile file(notAModule);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a shared object");
    file.close();
    struct Case {
        QString path;
        const char* why;
    };
    for (const Case& c : {Case{dir.filePath(QStringLiteral("network-transports.so")),
                               "network-transports.so is missing."},
                          Case{notAModule, "garbage.so"}}) {
        SCOPED_TRACE(c.path.toStdString());
        serial::NetworkModule module(c.path.toStdString());
        VirtualClock clock;
        serial::ReconnectingPort::Context context;
        context.timers = &clock;
        context.assignment.environment = [](const std::string& name) {
            return name == "PROJECTOR_COM1" ? std::string("socket://127.0.0.1:4001")
                                            : std::string();
        };
        context.transports = [&module](const serial::DeviceAddress& address) {
            return address.network() ? module.open(address) : serial::openTransport(address, {});
        };
        std::vector<std::string> warnings;
        Form1 form(models::kTR27K, std::make_unique<serial::ReconnectingPort>(std::move(context)),
                   clock, [&](const std::string& text) { warnings.push_back(text); });
        form.guarded([&] { form.Form_Load(); });
        ASSERT_EQ(warnings.size(), 1u);
        const std::string& text = warnings.front();
        EXPECT_EQ(text.rfind("socket://127.0.0.1:4001: network serial servers are reached through "
                             "the network module",
                             0),
                  0u)
            << text;
        EXPECT_NE(text.find(c.why), std::string::npos) << text;
        EXPECT_NE(text.find("Reinstall the package projector-panel"), std::string::npos) << text;
        EXPECT_FALSE(form.port().portOpen());
    }
}

}  // namespace
