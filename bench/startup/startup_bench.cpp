// Start-up to the first painted window, and peak memory, of the two programs against the
// floor: a stock Qt Widgets window with as many controls of each kind (bench_floor). Goals:
// within 1.3x of the floor's time and 1.15x of its memory.
//
// Every program is started as a user starts it, unchanged; the first-paint probe (a Qt
// generic plugin, see first_paint_probe.cpp) is loaded into each, floor included, and reports
// when the first window's first paint has been flushed. Time is counted from just before the
// program is spawned. The programs open COM1 on a projector-sim device, as in use.
// Runs go round the programs in turn, after warm-up runs, so that all see the same load.
//
// Memory: VmHWM at the first paint (reported by the probe), and the peak resident set of the
// whole run, --settle-ms idle after the first paint and a normal end on SIGTERM included
// (ru_maxrss of the child, as /usr/bin/time reports it).
//
//   bench_startup [--runs N] [--warmup N] [--settle-ms MS]
// The platform is the one in QT_QPA_PLATFORM (offscreen when unset); run under xvfb-run for X.
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
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/simulator.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Program {
    std::string label;
    std::vector<std::string> argv;
    int floorIndex;  // the floor this program is measured against; -1 for a floor
};

struct Run {
    double startupMs;  // spawn to first paint flushed
    double paintMs;    // the first paint itself (start to flushed)
    long hwmAtPaintKiB;
    long maxRssKiB;  // the peak: the larger of ru_maxrss and the high-water mark at the paint
};

double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto rank =
        std::size_t(std::clamp<double>(std::ceil(q * double(v.size())), 1, double(v.size())));
    return v[rank - 1];
}

std::optional<Run> runOnce(const Program& program, const std::vector<std::string>& extraEnv,
                           std::chrono::milliseconds settle, std::string& error) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) throw std::runtime_error("pipe");

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    env.push_back("BENCH_FIRST_PAINT_FD=3");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = program.argv;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, report[1], 3);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const Clock::time_point t0 = Clock::now();
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(report[1]);
    if (rc != 0) {
        close(report[0]);
        error = "cannot start " + args[0] + ": " + std::strerror(rc);
        return std::nullopt;
    }

    std::string line;
    const Clock::time_point deadline = t0 + 20s;
    while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd fd{report[0], POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (poll(&fd, 1, int(std::max<long>(left.count(), 0))) <= 0) continue;
        char buffer[256];
        const ssize_t n = read(report[0], buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, std::size_t(n));
    }
    close(report[0]);
    if (line.find('\n') != std::string::npos) std::this_thread::sleep_for(settle);
    // Ended as a user's session ends it, so that the programs release the serial port's lock
    // file (a lock left behind makes the next start-up take the slower stale-lock path).
    kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    pid_t done = 0;
    for (int i = 0; i < 500 && (done = wait4(pid, &status, WNOHANG, &usage)) == 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
    }

    std::istringstream fields(line);
    std::string tag;
    long long paintStart = 0, paintDone = 0;
    long hwm = 0;
    if (!(fields >> tag >> paintStart >> paintDone >> hwm) || tag != "first-paint") {
        error = args[0] + " reported no first paint";
        return std::nullopt;
    }
    const double t0ns =
        double(std::chrono::duration_cast<std::chrono::nanoseconds>(t0.time_since_epoch()).count());
    return Run{(double(paintDone) - t0ns) / 1e6, double(paintDone - paintStart) / 1e6, hwm,
               std::max(hwm, usage.ru_maxrss)};
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 30, warmup = 3;
    int settleMs = 1000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (arg == "--warmup" && i + 1 < argc)
            warmup = std::atoi(argv[++i]);
        else if (arg == "--settle-ms" && i + 1 < argc)
            settleMs = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: %s [--runs N] [--warmup N] [--settle-ms MS]\n", argv[0]);
            return 2;
        }
    }
    const char* platformVariable = std::getenv("QT_QPA_PLATFORM");
    const std::string platform =
        platformVariable && *platformVariable ? platformVariable : "offscreen";

    const std::vector<Program> programs = {
        {"floor (TR27K controls)", {BENCH_FLOOR_PATH, "TR27K"}, -1},
        {"TR27KRSC", {TR27KRSC_PATH}, 0},
        {"floor (TR52 controls)", {BENCH_FLOOR_PATH, "TR52"}, -1},
        {"TR52", {TR52_PATH}, 2},
    };

    const std::filesystem::path link = std::filesystem::temp_directory_path() /
                                       ("projector-startup-" + std::to_string(::getpid()));
    sim_support::Simulator sim({PROJECTOR_SIM_PATH, "TR27K", link.string(), {}});
    const std::vector<std::string> env = {
        "QT_QPA_PLATFORM=" + platform,
        std::string("QT_PLUGIN_PATH=") + FIRST_PAINT_PLUGIN_DIR,
        "QT_QPA_GENERIC_PLUGINS=benchfirstpaint",
        "PROJECTOR_COM1=" + link.string(),
    };

    std::printf("platform %s, %d runs after %d warm-up runs each, memory peak over %d ms\n",
                platform.c_str(), runs, warmup, settleMs);
    std::vector<std::vector<Run>> results(programs.size());
    for (int round = -warmup; round < runs; ++round) {
        for (std::size_t k = 0; k < programs.size(); ++k) {
            // Each round starts with another program, so none always follows the same one.
            const std::size_t i = (k + std::size_t(round + warmup)) % programs.size();
            std::string error;
            const auto run = runOnce(programs[i], env, std::chrono::milliseconds(settleMs), error);
            if (!run) {
                std::fprintf(stderr, "bench_startup: %s\n", error.c_str());
                return 1;
            }
            if (round >= 0) results[i].push_back(*run);
        }
    }

    std::printf("\n%-24s | %8s %8s %8s %8s | %8s | %10s %10s | %7s %7s\n", "program", "p50 ms",
                "min", "p90", "max", "paint ms", "HWM@paint", "maxRSS", "x time", "x mem");
    std::printf("%-24s | %8s %8s %8s %8s | %8s | %10s %10s | %7s %7s\n", "", "start-up", "", "", "",
                "p50", "KiB p50", "KiB p50", "floor", "floor");
    bool met = true;
    std::vector<double> timeP50(programs.size()), rssP50(programs.size());
    for (std::size_t i = 0; i < programs.size(); ++i) {
        std::vector<double> t, paint, hwm, rss;
        for (const Run& r : results[i]) {
            t.push_back(r.startupMs);
            paint.push_back(r.paintMs);
            hwm.push_back(double(r.hwmAtPaintKiB));
            rss.push_back(double(r.maxRssKiB));
        }
        timeP50[i] = quantile(t, 0.5);
        rssP50[i] = quantile(rss, 0.5);
        std::string ratios = "      -       -";
        if (programs[i].floorIndex >= 0) {
            const double xt = timeP50[i] / timeP50[std::size_t(programs[i].floorIndex)];
            const double xm = rssP50[i] / rssP50[std::size_t(programs[i].floorIndex)];
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%7.2f %7.2f", xt, xm);
            ratios = buffer;
            met = met && xt <= 1.3 && xm <= 1.15;
        }
        std::printf("%-24s | %8.1f %8.1f %8.1f %8.1f | %8.2f | %10.0f %10.0f | %s\n",
                    programs[i].label.c_str(), timeP50[i], quantile(t, 0), quantile(t, 0.9),
                    quantile(t, 1), quantile(paint, 0.5), quantile(hwm, 0.5), rssP50[i],
                    ratios.c_str());
    }
    std::printf("\ngoals (x1.3 time, x1.15 memory): %s\n", met ? "met" : "NOT MET");
    return 0;
}
