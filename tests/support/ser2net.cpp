#include "tests/support/ser2net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace sim_support {

namespace {

using namespace std::chrono_literals;

// A port of 127.0.0.1 that nothing listens on now.
int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) close(fd);
        throw std::runtime_error("no free port on 127.0.0.1");
    }
    close(fd);
    return ntohs(address.sin_port);
}

// Whether something listens on 127.0.0.1:port, from the kernel's table (connecting to ask
// would open the device behind it).
bool listening(int port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (local == wanted && state == "0A") return true;
    }
    return false;
}

}  // namespace

std::string Ser2net::program() {
    for (const char* candidate : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"}) {
        if (access(candidate, X_OK) == 0) return candidate;
    }
    return "";
}

Ser2net::Ser2net(const std::string& device) {
    std::string folder = (std::filesystem::temp_directory_path() / "ser2net-test-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    directory_ = folder;
    config_ = directory_ + "/ser2net.yaml";
    rawPort_ = freePort();
    rfc2217Port_ = freePort();
    while (rfc2217Port_ == rawPort_) rfc2217Port_ = freePort();
    telnetPort_ = freePort();
    while (telnetPort_ == rawPort_ || telnetPort_ == rfc2217Port_) telnetPort_ = freePort();
    std::ofstream config(config_);
    // "local": no modem lines on a pseudo-terminal.
    config << "connection: &raw\n"
           << "  accepter: tcp,127.0.0.1," << rawPort_ << "\n"
           << "  connector: serialdev," << device << ",19200n81,local\n"
           << "connection: &rfc2217\n"
           << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << rfc2217Port_ << "\n"
           << "  connector: serialdev," << device << ",19200n81,local\n"
           << "connection: &telnet\n"
           << "  accepter: telnet,tcp,127.0.0.1," << telnetPort_ << "\n"
           << "  connector: serialdev," << device << ",19200n81,local\n";
    config.close();
    start();
}

Ser2net::~Ser2net() {
    stop();
    std::remove(config_.c_str());
    rmdir(directory_.c_str());
}

void Ser2net::start() {
    if (pid_ > 0) return;
    const std::string binary = program();
    if (binary.empty()) throw std::runtime_error("ser2net is not installed");
    // In the foreground, its log on stderr, no syslog.
    std::vector<std::string> args = {binary, "-n", "-d", "-c", config_};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start ser2net");
    }
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!(listening(rawPort_) && listening(rfc2217Port_) && listening(telnetPort_))) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("ser2net ended at start");
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error("ser2net does not listen");
        }
        std::this_thread::sleep_for(5ms);
    }
}

void Ser2net::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    pid_ = -1;
    // The ports are free again once nothing listens.
    while (listening(rawPort_) || listening(rfc2217Port_) || listening(telnetPort_)) {
        std::this_thread::sleep_for(5ms);
    }
}

}  // namespace sim_support
