// projector-sim as a program on a real pseudo-terminal, driven through the Simulator class and
// a raw serial client. Waits are bounded reads with generous timeouts; a "nothing arrives"
// check reads for a fixed period.

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/simulator.h"

namespace {

using namespace std::chrono_literals;
using sim_support::SerialClient;
using sim_support::Simulator;

constexpr std::string_view kAck = "\x06\r";

class DeviceTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "projector-sim-XXXXXX");
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        sim_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    Simulator& start(std::vector<std::string> args = {}, std::string model = "TR27K",
                     bool withLink = false) {
        Simulator::Options options;
        options.binary = PROJECTOR_SIM_PATH;
        options.model = std::move(model);
        options.args = std::move(args);
        if (withLink) options.link = (dir_ / "projector").string();
        sim_.reset();  // its destructor removes the link the new one is about to make
        sim_ = std::make_unique<Simulator>(options);
        return *sim_;
    }

    std::string logPath() const { return (dir_ / "sim.log").string(); }

    std::vector<std::string> logLines() const {
        std::ifstream in(logPath());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    std::filesystem::path dir_;
    std::unique_ptr<Simulator> sim_;
};

// Bounded wait for the simulator to have taken at least n commands (or garbled bytes, with
// garbled set): a command without an answer gives nothing else to wait for.
long waitForCount(Simulator& sim, long n, bool garbled = false) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        const long count = garbled ? sim.garbledBytes() : sim.commandCount();
        if (count >= n || std::chrono::steady_clock::now() > deadline) return count;
        std::this_thread::sleep_for(10ms);
    }
}

// "12345 RX C00" -> "RX C00": the log line without its timestamp.
std::string withoutTime(const std::string& line) {
    const auto space = line.find(' ');
    return space == std::string::npos ? line : line.substr(space + 1);
}

TEST_F(DeviceTest, AnswersTheStatusQueryAtTheDefaultSpeed) {
    auto& sim = start();
    EXPECT_EQ(sim.devicePath().rfind("/dev/", 0), 0u) << sim.devicePath();
    SerialClient client(sim.devicePath(), 19200);
    EXPECT_TRUE(sim.waitForClient(true));
    client.write("CR0\r");
    EXPECT_EQ(client.readUntil('\r'), "80\r");
    client.write("C99\r");
    EXPECT_EQ(client.readUntil('\r'), "?\r");
    client.write("C05\r");
    EXPECT_EQ(client.readUntil('\r'), kAck);
    EXPECT_EQ(sim.commandCount(), 3);
}

TEST_F(DeviceTest, CommandsSplitAcrossWritesAndSeveralInOneWrite) {
    auto& sim = start({"--model", "TR52"});
    SerialClient client(sim.devicePath(), 19200);
    client.write("CF LOGO");
    client.write(" OFF\r");
    EXPECT_EQ(client.readUntil('\r'), kAck);
    client.write("C06\rCR1\r");
    EXPECT_EQ(client.readUntil('\r', 2s, 2),
              "\x06\r"
              "2\r");
}

TEST_F(DeviceTest, PowerOnCountsDownToOnInRealTime) {
    auto& sim = start({"--warmup", "300", "--cooldown", "300"});
    SerialClient client(sim.devicePath(), 19200);
    client.write("C00\r");
    ASSERT_EQ(client.readUntil('\r'), kAck);
    client.write("CR0\r");
    EXPECT_EQ(client.readUntil('\r'), "40\r");
    // Ask until it is on; bounded by a generous deadline.
    std::string state;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (state != "00\r" && std::chrono::steady_clock::now() < deadline) {
        client.readFor(50ms);
        client.write("CR0\r");
        state = client.readUntil('\r');
        ASSERT_TRUE(state == "40\r" || state == "00\r") << state;
    }
    EXPECT_EQ(state, "00\r");
}

TEST_F(DeviceTest, LogRecordsCommandsAndRepliesInOrder) {
    auto& sim = start({"--log", logPath()});
    SerialClient client(sim.devicePath(), 19200);
    client.write("CR0\r");
    ASSERT_EQ(client.readUntil('\r'), "80\r");
    client.write("CF FANSPEED MAX\r");
    ASSERT_EQ(client.readUntil('\r'), kAck);
    sim.control("count");  // the log is flushed per line; this only orders us after it

    std::vector<std::string> traffic;
    long previousTime = -1;
    for (const auto& line : logLines()) {
        const long time = std::stol(line.substr(0, line.find(' ')));
        EXPECT_GE(time, previousTime) << line;
        previousTime = time;
        const auto entry = withoutTime(line);
        if (entry.starts_with("RX") || entry.starts_with("TX")) traffic.push_back(entry);
    }
    EXPECT_EQ(traffic, (std::vector<std::string>{"RX CR0", "TX 80<CR>", "RX CF FANSPEED MAX",
                                                 "TX <ACK><CR>"}));
}

TEST_F(DeviceTest, SplitRepliesArriveInPieces) {
    auto& sim = start();
    sim.control("split 4 60");
    SerialClient client(sim.devicePath(), 19200);
    client.write("CR6\r");
    EXPECT_EQ(client.readUntil('\r', 5s), "035.0  38.5 041.2\r");
    EXPECT_GE(client.chunks().size(), 3u);  // five pieces, 60 ms apart
    for (const auto& chunk : client.chunks()) EXPECT_LE(chunk.size(), 4u);

    sim.control("split 0 0");
    client.clearChunks();
    client.write("CR3\r");
    EXPECT_EQ(client.readUntil('\r'), "01234\r");
}

TEST_F(DeviceTest, DelayHoldsTheReplyBack) {
    auto& sim = start({"--delay", "400"});
    SerialClient client(sim.devicePath(), 19200);
    client.write("CR0\r");
    EXPECT_EQ(client.readFor(100ms), "");
    EXPECT_EQ(client.readUntil('\r', 5s), "80\r");
}

TEST_F(DeviceTest, NoReplyTakesCommandsButAnswersNothing) {
    auto& sim = start({"--noreply"});
    SerialClient client(sim.devicePath(), 19200);
    client.write("C00\r");
    client.write("CR0\r");
    EXPECT_EQ(waitForCount(sim, 2), 2);
    EXPECT_EQ(client.readFor(300ms), "");

    sim.control("noreply off");
    client.write("CR0\r");  // the silent "C00" was still carried out
    EXPECT_EQ(client.readUntil('\r'), "40\r");
}

TEST_F(DeviceTest, OutOfRangeTimesAndRatesAreRefusedAtStart) {
    // Added to the clock, the largest numbers overflowed it.
    const std::vector<std::vector<std::string>> refused = {
        {"--delay", "3600001"},
        {"--delay", "9223372036854775807"},
        {"--split", "1", "9223372036854775807"},
        {"--warmup", "3600001"},
        {"--cooldown", "9223372036854775807"},
        {"--read-rate", "10000001"},
    };
    for (const auto& args : refused) EXPECT_THROW(start(args), std::runtime_error) << args[0];
    EXPECT_NO_THROW(start({"--delay", "3600000", "--warmup", "3600000", "--read-rate", "0"}));
}

TEST_F(DeviceTest, NoiseReplacesTheReplyBytes) {
    auto& sim = start({"--seed", "3"});
    sim.control("noise on");
    SerialClient client(sim.devicePath(), 19200);
    client.write("CR6\r");
    const std::string noisy = client.readFor(300ms);
    EXPECT_EQ(noisy.size(), 18u);
    EXPECT_NE(noisy, "035.0  38.5 041.2\r");
}

TEST_F(DeviceTest, ForcedStateIsAnswered) {
    auto& sim = start();
    sim.control("state 28");
    SerialClient client(sim.devicePath(), 19200);
    client.write("CR0\r");
    EXPECT_EQ(client.readUntil('\r'), "28\r");
}

TEST_F(DeviceTest, AnotherSpeedIsGarbledAndNeverAnswered) {
    auto& sim = start();
    SerialClient client(sim.devicePath(), 9600);
    client.write("CR0\r");
    EXPECT_EQ(waitForCount(sim, 4, /*garbled=*/true), 4);
    EXPECT_EQ(client.readFor(300ms), "");
    EXPECT_EQ(sim.commandCount(), 0);

    // The projector set to the client's speed understands it.
    sim.control("baud 9600");
    client.write("CR0\r");
    EXPECT_EQ(client.readUntil('\r'), "80\r");
}

TEST_F(DeviceTest, ListensAt9600WhenToldTo) {
    auto& sim = start({"--baud", "9600"});
    {
        SerialClient fast(sim.devicePath(), 19200);
        fast.write("CR0\r");
        EXPECT_EQ(fast.readFor(300ms), "");
    }
    SerialClient slow(sim.devicePath(), 9600);
    slow.write("CR0\r");
    EXPECT_EQ(slow.readUntil('\r'), "80\r");
}

TEST_F(DeviceTest, RepliesLeftUnreadAtCloseAreNotSeenByTheNextClient) {
    auto& sim = start();
    {
        SerialClient first(sim.devicePath(), 19200);
        first.write("CR0\r");
        pollfd fd{first.fd(), POLLIN, 0};
        ASSERT_EQ(poll(&fd, 1, 5000), 1);  // the reply is there, and is left unread
    }
    ASSERT_TRUE(sim.waitForClient(false));
    {
        SerialClient second(sim.devicePath(), 19200);
        second.write("CR1\r");
        EXPECT_EQ(second.readUntil('\r', 5s), "1\r");
    }
}

TEST_F(DeviceTest, HangupThenPlugGivesAWorkingDeviceAtTheSameLink) {
    auto& sim = start({}, "TR27K", /*withLink=*/true);
    const std::string link = sim.linkPath();
    {
        SerialClient client(link, 19200);
        client.write("C0B\r");
        ASSERT_EQ(client.readUntil('\r'), kAck);

        sim.hangup();
        client.readUntil('\r', 2s);
        EXPECT_TRUE(client.hungUp());
    }
    EXPECT_EQ(sim.control("client"), (std::vector<std::string>{"CLIENT unplugged"}));
    struct stat info {};
    EXPECT_NE(lstat(link.c_str(), &info), 0) << "the link outlives the device";
    EXPECT_THROW(SerialClient(link, 19200), std::runtime_error);

    const std::string newPath = sim.plug();
    EXPECT_EQ(sim.devicePath(), newPath);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), newPath);

    SerialClient again(link, 19200);
    again.write("C00\r");
    EXPECT_EQ(again.readUntil('\r'), kAck);
    EXPECT_EQ(sim.commandCount(), 2);
}

TEST_F(DeviceTest, HangupAfterNCommandsVanishesOnTheNth) {
    auto& sim = start({"--hangup-after", "2"});
    SerialClient client(sim.devicePath(), 19200);
    client.write("CR0\r");
    EXPECT_EQ(client.readUntil('\r'), "80\r");
    client.write("CR1\r");
    EXPECT_EQ(client.readUntil('\r', 2s), "");
    EXPECT_TRUE(client.hungUp());
    EXPECT_EQ(sim.commandCount(), 2);
    EXPECT_THROW(sim.control("hangup"), std::runtime_error);  // nothing left to hang up
}

TEST_F(DeviceTest, ControlLinesAreAcknowledgedAndBadOnesRejected) {
    auto& sim = start();
    EXPECT_EQ(sim.control("client"), (std::vector<std::string>{"CLIENT closed"}));
    EXPECT_NO_THROW(sim.control("delay 0"));
    EXPECT_THROW(sim.control("delay soon"), std::runtime_error);
    EXPECT_THROW(sim.control("plug"), std::runtime_error);  // the device is still there
    EXPECT_NO_THROW(sim.control("noise off"));              // still answering after errors
}

TEST_F(DeviceTest, QuitAndTerminationEndCleanlyAndRemoveTheLink) {
    for (bool byQuit : {true, false}) {
        auto& sim = start({}, "TR27K", /*withLink=*/true);
        const std::string link = sim.linkPath();
        ASSERT_TRUE(std::filesystem::is_symlink(link));
        if (byQuit) sim.control("quit");
        const int status = sim.stop();  // SIGTERM, if quit has not ended it yet
        ASSERT_TRUE(WIFEXITED(status)) << byQuit;
        EXPECT_EQ(WEXITSTATUS(status), 0) << byQuit;
        EXPECT_FALSE(std::filesystem::is_symlink(link)) << byQuit;
    }
}

}  // namespace
