// What COM1 and COM2 lead to: the environment, the settings file, the adapters found; and the
// stable names of USB adapters.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <map>

#include "link/port_assignment.h"
#include "link/serial_port.h"

using serial::Adapter;

namespace {

const Adapter kFtdi{"/dev/ttyUSB1", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2-if00-port0", "FT232R USB UART",
                    "A1B2", true};
const Adapter kProlific{"/dev/ttyUSB0", "/dev/serial/by-id/usb-Prolific_USB-Serial_Controller-if00-port0",
                        "USB-Serial Controller", "", true};
const Adapter kUart0{"/dev/ttyS0", "", "", "", false};
const Adapter kUart1{"/dev/ttyS1", "", "", "", false};

struct Wiring {
    QTemporaryDir dir;
    std::map<std::string, std::string> environment;
    std::vector<Adapter> adapters;

    void writeFile(const char* text) {
        QFile file(dir.filePath("ports.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    serial::PortAssignment assignment() {
        return {[this](const std::string& name) {
                    const auto it = environment.find(name);
                    return it == environment.end() ? std::string() : it->second;
                },
                dir.filePath("ports.ini").toStdString(), [this] { return adapters; }};
    }
};

}  // namespace

TEST(PortAssignment, EnvironmentThenFileThenTheAdaptersFoundThenTtyS) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> environment;
        const char* file;
        std::vector<Adapter> adapters;  // as found, before sorting
        std::string com1, com2;
    };
    const Case cases[] = {
        {"nothing found", {}, "", {}, "/dev/ttyS0", "/dev/ttyS1"},
        {"one USB adapter", {}, "", {kFtdi}, kFtdi.stableName, "/dev/ttyS1"},
        {"an adapter and a real UART", {}, "", {kUart0, kFtdi}, kFtdi.stableName, "/dev/ttyS0"},
        {"two adapters, by stable name", {}, "", {kProlific, kFtdi}, kFtdi.stableName, kProlific.stableName},
        {"UARTs by number", {}, "", {kUart1, kUart0}, "/dev/ttyS0", "/dev/ttyS1"},
        {"adapter without a stable name", {}, "", {{"/dev/ttyUSB3", "", "", "", true}}, "/dev/ttyUSB3", "/dev/ttyS1"},
        {"the file", {}, "COM2=socket://hall:4001\n", {kFtdi}, kFtdi.stableName, "socket://hall:4001"},
        {"a value with a comma", {}, "COM1=/dev/odd,name\n", {}, "/dev/odd,name", "/dev/ttyS1"},
        {"the environment wins",
         {{"PROJECTOR_COM1", "rfc2217://[::1]:2217"}},
         "COM1=/dev/ttyUSB9\n",
         {kFtdi},
         "rfc2217://[::1]:2217",
         "/dev/ttyS1"},
        {"an empty variable counts as unset", {{"PROJECTOR_COM2", ""}}, "COM2=/dev/ttyACM0\n", {}, "/dev/ttyS0", "/dev/ttyACM0"},
        {"the one port found is not COM2 too", {}, "", {kUart1}, "/dev/ttyS1", "/dev/ttyS0"},
        {"COM2 passes over the port COM1 is assigned", {}, "COM1=/dev/ttyS0\n", {kFtdi, kUart0}, "/dev/ttyS0",
         kFtdi.stableName},
        {"COM1 passes over the port COM2 is assigned", {{"PROJECTOR_COM2", kFtdi.stableName}}, "", {kFtdi},
         "/dev/ttyS0", kFtdi.stableName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Wiring s;
        s.environment = c.environment;
        s.adapters = c.adapters;
        serial::sortAdapters(s.adapters);
        if (*c.file) s.writeFile(c.file);
        EXPECT_EQ(serial::assignDevice(1, s.assignment()).text, c.com1);
        EXPECT_EQ(serial::assignDevice(2, s.assignment()).text, c.com2);
    }
}

TEST(PortAssignment, AnEmptyValueInTheFileIsAnError) {
    Wiring twice;
    twice.writeFile("COM1=/dev/ttyUSB0\ncom1=/dev/ttyUSB1\n");
    EXPECT_THROW(serial::assignDevice(1, twice.assignment()), serial::SerialError);  // so is a second
    Wiring s;
    s.writeFile("COM1=\n");
    try {
        serial::assignDevice(1, s.assignment());
        ADD_FAILURE() << "accepted";
    } catch (const serial::SerialError& e) {
        EXPECT_NE(std::string(e.what()).find("COM1 is assigned no device in " + s.assignment().settingsFile),
                  std::string::npos)
            << e.what();
    }
}

TEST(PortAssignment, ExplanationListsTheAdaptersAndHowToAssignOne) {
    Wiring s;
    s.adapters = {kFtdi, kUart0};
    const auto assignment = s.assignment();
    const std::string byDefault = serial::explainAssignment(2, serial::assignDevice(2, assignment),
                                                            assignment, s.adapters, "the panel");
    for (const std::string& part :
         {std::string("COM2 is /dev/ttyS0 by default: no device is assigned to it."),
          std::string("  /dev/ttyUSB1: FT232R USB UART, serial number A1B2\n    ") + kFtdi.stableName,
          std::string("\n  /dev/ttyS0\n"), "  COM2=" + kFtdi.stableName + "\nin " + assignment.settingsFile,
          std::string("or set PROJECTOR_COM2")}) {
        EXPECT_NE(byDefault.find(part), std::string::npos) << part << "\nin\n" << byDefault;
    }

    s.environment["PROJECTOR_COM1"] = "/dev/ttyUSB7";
    const std::string fromVariable = serial::explainAssignment(
        1, serial::assignDevice(1, assignment), assignment, {}, "the panel");
    EXPECT_NE(fromVariable.find("COM1 is /dev/ttyUSB7, from PROJECTOR_COM1."), std::string::npos) << fromVariable;
    EXPECT_NE(fromVariable.find("No serial adapters were found."), std::string::npos) << fromVariable;
    EXPECT_NE(fromVariable.find("PROJECTOR_COM1 wins over the settings file"), std::string::npos) << fromVariable;
}

TEST(PortAssignment, StableNameLeadsToTheSameDevice) {
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::link("/dev/null", dir.filePath("usb-Maker_Adapter_X1-if00-port0")));
    ASSERT_TRUE(QFile::link("/dev/zero", dir.filePath("usb-Maker_Adapter_X2-if00-port0")));
    const std::string folder = dir.path().toStdString();
    EXPECT_EQ(serial::stableNameOf("/dev/null", folder), folder + "/usb-Maker_Adapter_X1-if00-port0");
    EXPECT_EQ(serial::stableNameOf(folder + "/usb-Maker_Adapter_X2-if00-port0", folder),
              folder + "/usb-Maker_Adapter_X2-if00-port0");
    EXPECT_EQ(serial::stableNameOf("/dev/full", folder), "");
    EXPECT_EQ(serial::stableNameOf("/dev/null", folder + "/missing"), "");
}
