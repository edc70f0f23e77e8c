// projectorctl status against projector-sim, timed from spawn to exit as a script sees it.
//
//  - One port against its floor: a bare QCoreApplication program's start-up to exit
//    (bench_bare_core) plus the simulator's replies to the nine status queries, asked by a raw
//    client in this process from the open of the device to the last reply. Goal: within 1.5x.
//  - N ports (N simulators, one each) against one port. Goal: within 1.5x; the memory per
//    port is the difference of the peak resident sets over the ports added.
//
// Runs go round the measurements in turn, after warm-up rounds, so all see the same load.
//   bench_ctl [--runs N] [--warmup N] [--ports N]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/simulator.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Run {
    double ms = 0;
    long maxRssKiB = 0;
    int status = -1;
};

double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto rank = std::size_t(std::clamp<double>(std::ceil(q * double(v.size())), 1, double(v.size())));
    return v[rank - 1];
}

// Spawn to exit, the output thrown away.
Run spawnAndWait(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const Clock::time_point t0 = Clock::now();
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Run run;
    run.ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    run.maxRssKiB = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

const char* const kQueries[] = {"CR0", "CR1", "CR4", "CR3", "CR6", "CRA", "CR9", "CR PRESSURE", "CR7"};
constexpr std::size_t kQueryCount = std::size(kQueries);

// The simulator's replies to the nine queries, as a client that does nothing else gets them.
double rawReplies(const std::string& device) {
    const Clock::time_point t0 = Clock::now();
    sim_support::SerialClient client(device, 19200);
    for (const char* q : kQueries) {
        client.write(std::string(q) + "\r");
        if (client.readUntil('\r', 2s).empty()) throw std::runtime_error(std::string("no reply to ") + q);
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The same from every device at once, one poll() loop over all: what the simulators and the
// kernel alone take for a fleet on this machine.
double rawFleetReplies(const std::vector<std::string>& devices) {
    const Clock::time_point t0 = Clock::now();
    std::vector<std::unique_ptr<sim_support::SerialClient>> clients;
    std::vector<pollfd> fds;
    std::vector<std::size_t> answered(devices.size(), 0);
    std::vector<std::string> pending(devices.size());
    for (const std::string& device : devices) {
        clients.push_back(std::make_unique<sim_support::SerialClient>(device, 19200));
        clients.back()->write(std::string(kQueries[0]) + "\r");
        fds.push_back({clients.back()->fd(), POLLIN, 0});
    }
    for (std::size_t left = devices.size(); left > 0;) {
        if (::poll(fds.data(), fds.size(), 2000) <= 0) throw std::runtime_error("no reply from a simulator");
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) == 0) continue;
            char buffer[256];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) continue;
            pending[i].append(buffer, std::size_t(n));
            if (pending[i].back() != '\r') continue;
            pending[i].clear();
            if (++answered[i] == kQueryCount) {
                fds[i].fd = -1;
                --left;
            } else {
                clients[i]->write(std::string(kQueries[answered[i]]) + "\r");
            }
        }
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 30, warmup = 3, ports = 50;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
        else if (arg == "--warmup" && i + 1 < argc) warmup = std::atoi(argv[++i]);
        else if (arg == "--ports" && i + 1 < argc) ports = std::max(2, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s [--runs N] [--warmup N] [--ports N]\n", argv[0]);
            return 2;
        }
    }

    std::vector<std::unique_ptr<sim_support::Simulator>> sims;
    std::vector<std::string> links;
    for (int i = 0; i < ports; ++i) {
        links.push_back((std::filesystem::temp_directory_path() /
                         ("projectorctl-bench-" + std::to_string(::getpid()) + "-" + std::to_string(i)))
                            .string());
        sims.push_back(std::make_unique<sim_support::Simulator>(
            sim_support::Simulator::Options{PROJECTOR_SIM_PATH, "TR27K", links.back(), {}}));
    }
    std::vector<std::string> one = {PROJECTORCTL_PATH, "--port", links[0], "status"};
    std::vector<std::string> fleet = {PROJECTORCTL_PATH};
    for (const std::string& link : links) fleet.insert(fleet.end(), {"--port", link});
    fleet.push_back("status");
    // The next run finds every device free, as a script run after another does.
    auto released = [&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) sims[i]->waitForClient(false);
    };

    std::vector<double> bare, replies, floor, fleetReplies, fleetFloor, ctlOne, ctlFleet;
    std::vector<double> rssBare, rssOne, rssFleet;
    for (int round = -warmup; round < runs; ++round) {
        const Run b = spawnAndWait({BENCH_BARE_CORE_PATH});
        const double r = rawReplies(links[0]);
        released(1);
        const double rn = rawFleetReplies(links);
        released(sims.size());
        const Run c1 = spawnAndWait(one);
        released(1);
        const Run cn = spawnAndWait(fleet);
        released(sims.size());
        if (c1.status != 0 || cn.status != 0) {
            std::fprintf(stderr, "bench_ctl: projectorctl ended with %d (one port), %d (%d ports)\n", c1.status,
                         cn.status, ports);
            return 1;
        }
        if (round < 0) continue;
        bare.push_back(b.ms);
        replies.push_back(r);
        floor.push_back(b.ms + r);
        fleetReplies.push_back(rn);
        fleetFloor.push_back(b.ms + rn);
        ctlOne.push_back(c1.ms);
        ctlFleet.push_back(cn.ms);
        rssBare.push_back(double(b.maxRssKiB));
        rssOne.push_back(double(c1.maxRssKiB));
        rssFleet.push_back(double(cn.maxRssKiB));
    }

    std::printf("%d runs after %d warm-up rounds; wall time from spawn to exit\n\n", runs, warmup);
    std::printf("%-40s | %8s %8s %8s | %10s\n", "", "p50 ms", "min", "p90", "maxRSS KiB");
    auto row = [](const char* label, const std::vector<double>& t, const std::vector<double>* rss) {
        std::printf("%-40s | %8.2f %8.2f %8.2f | %10s\n", label, quantile(t, 0.5), quantile(t, 0), quantile(t, 0.9),
                    rss ? std::to_string(long(quantile(*rss, 0.5))).c_str() : "");
    };
    row("bare QCoreApplication start-up", bare, &rssBare);
    row("simulator's nine replies (raw)", replies, nullptr);
    row("floor: the two together", floor, nullptr);
    const std::string fleetRepliesLabel = "their replies, " + std::to_string(ports) + " ports at once (raw)";
    row(fleetRepliesLabel.c_str(), fleetReplies, nullptr);
    row("start-up and the fleet's replies", fleetFloor, nullptr);
    row("projectorctl status, 1 port", ctlOne, &rssOne);
    const std::string fleetLabel = "projectorctl status, " + std::to_string(ports) + " ports";
    row(fleetLabel.c_str(), ctlFleet, &rssFleet);

    const double xFloor = quantile(ctlOne, 0.5) / quantile(floor, 0.5);
    const double xOne = quantile(ctlFleet, 0.5) / quantile(ctlOne, 0.5);
    const double xFleetFloor = quantile(ctlFleet, 0.5) / quantile(fleetFloor, 0.5);
    const double perPort = (quantile(rssFleet, 0.5) - quantile(rssOne, 0.5)) / double(ports - 1);
    const double msPerPort = (quantile(ctlFleet, 0.5) - quantile(ctlOne, 0.5)) / double(ports - 1);
    std::printf("\n1 port / floor: x%.2f (goal 1.5)\n%d ports / 1 port: x%.2f (goal 1.5)\n", xFloor, ports, xOne);
    std::printf("%d ports / their floor: x%.2f\n", ports, xFleetFloor);
    std::printf("each port added: %.2f ms, %.0f KiB\n", msPerPort, perPort);
    std::printf("goals: %s\n", xFloor <= 1.5 && xOne <= 1.5 ? "met" : "NOT MET");
    return 0;
}
