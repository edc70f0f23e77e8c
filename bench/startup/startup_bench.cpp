// Start-up and peak memory of the two programs against the floor, a stock Qt Widgets window
// with as many controls of each kind (bench_floor), and under X against two serial terminals
// of the distribution, CuteCom and GTKTerm, where they are installed.
//
// Goals: peak memory within 1.15x the floor's and below both terminals'; instructions to the
// first paint within 1.2x the floor's (--instructions, callgrind). Wall-clock times are
// printed for comparison; they wander too much on a shared machine to be goals.
//
// Every program is started as a user starts it, unchanged, with COM1 (GTKTerm: its port) on a
// projector-sim device. The Qt programs are given the first-paint probe (a Qt generic plugin,
// see first_paint_probe.cpp), which reports when the first window's first paint has been
// flushed. Under X (QT_QPA_PLATFORM=xcb) the benchmark also watches the root window and notes
// when each program's first window is mapped, the one moment it can see of every program.
// Time is counted from just before the program is spawned. Runs go round the programs in
// turn, after warm-up runs, so that all see the same load.
//
// Memory: the peak resident set of the whole run, --settle-ms idle after the first window
// and a normal end on SIGTERM included (ru_maxrss of the child, as /usr/bin/time reports it),
// and never less than the high-water mark the probe saw at the first paint.
//
//   bench_startup [--runs N] [--warmup N] [--settle-ms MS] [--before BUILD_DIR]
//   bench_startup --instructions [--before BUILD_DIR]
// --before also measures the programs of another build, such as one of an earlier version,
// in the same run, against the same floors.
// The platform is the one in QT_QPA_PLATFORM (offscreen when unset); bench/startup/under-x.sh
// runs it under Xvfb and openbox.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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
namespace fs = std::filesystem;

constexpr double kMemoryGoal = 1.15;      // peak RSS against the floor's
constexpr double kInstructionGoal = 1.2;  // instructions to the first paint against the floor's

struct Program {
    std::string label;
    std::vector<std::string> argv;
    int floorIndex = -1;  // the floor this program is measured against; -1 for none
    bool qt = true;       // a Qt 6 program: the probe reports its first paint
    bool peer = false;    // a serial terminal of the distribution
    bool goal = true;     // held to the goals (not a program of --before)
};

struct Run {
    std::optional<double> paintMs;   // spawn to first paint flushed (Qt programs)
    std::optional<double> mappedMs;  // spawn to its first window mapped (under X)
    long maxRssKiB = 0;
};

double quantile(std::vector<double> v, double q) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const auto rank =
        std::size_t(std::clamp<double>(std::ceil(q * double(v.size())), 1, double(v.size())));
    return v[rank - 1];
}

double msSince(Clock::time_point t0, Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(t - t0).count();
}

// Watches the root window of the display for windows being mapped. Under a reparenting
// window manager it is the manager's frame that is mapped on the root, once the program has
// asked for its window to be shown.
class MapWatcher {
  public:
    MapWatcher() {
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_))
            throw std::runtime_error("cannot connect to the X server");
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
    }
    ~MapWatcher() { xcb_disconnect(connection_); }
    MapWatcher(const MapWatcher&) = delete;
    MapWatcher& operator=(const MapWatcher&) = delete;

    int fd() const { return xcb_get_file_descriptor(connection_); }
    // Forgets the events so far (the end of the last program's windows).
    void drain() {
        while (xcb_generic_event_t* e = xcb_poll_for_event(connection_)) std::free(e);
    }
    // Whether a window other than an override-redirect one (a menu, a tooltip) was mapped
    // among the events waiting.
    bool mapped() {
        bool seen = false;
        while (xcb_generic_event_t* e = xcb_poll_for_event(connection_)) {
            if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                !reinterpret_cast<xcb_map_notify_event_t*>(e)->override_redirect) {
                seen = true;
            }
            std::free(e);
        }
        return seen;
    }

  private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
};

// Spawns argv with the environment plus `extraEnv`, its output thrown away; the descriptor
// `report` (if not -1) becomes its fd 3.
pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
            int report) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (report >= 0) posix_spawn_file_actions_adddup2(&actions, report, 3);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    return pid;
}

// Ends the child as a user's session ends it, so that the programs release the serial port's
// lock file (a lock left behind makes the next start-up take the slower stale-lock path).
rusage endChild(pid_t pid) {
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
    return usage;
}

Run runOnce(const Program& program, const std::vector<std::string>& qtEnv, MapWatcher* watcher,
            std::chrono::milliseconds settle) {
    int report[2] = {-1, -1};
    if (program.qt && pipe2(report, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> env = program.qt ? qtEnv : std::vector<std::string>{};
    if (program.qt) env.push_back("BENCH_FIRST_PAINT_FD=3");
    if (watcher) watcher->drain();

    const Clock::time_point t0 = Clock::now();
    const pid_t pid = spawn(program.argv, env, report[1]);
    if (report[1] >= 0) close(report[1]);

    Run run;
    std::string line;
    const Clock::time_point deadline = t0 + 20s;
    auto done = [&] { return (!program.qt || run.paintMs) && (!watcher || run.mappedMs); };
    while (!done() && Clock::now() < deadline) {
        pollfd fds[2] = {{report[0], POLLIN, 0}, {watcher ? watcher->fd() : -1, POLLIN, 0}};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (poll(fds, 2, int(std::max<long>(left.count(), 0))) <= 0) continue;
        const Clock::time_point now = Clock::now();
        if (watcher && !run.mappedMs && watcher->mapped()) run.mappedMs = msSince(t0, now);
        if (report[0] >= 0 && (fds[0].revents & (POLLIN | POLLHUP))) {
            char buffer[256];
            const ssize_t n = read(report[0], buffer, sizeof buffer);
            if (n <= 0) {
                close(report[0]);
                report[0] = -1;
                continue;
            }
            line.append(buffer, std::size_t(n));
            std::istringstream fields(line);
            std::string tag;
            long long paintStart = 0, paintDone = 0;
            long hwm = 0;
            if (line.find('\n') != std::string::npos &&
                fields >> tag >> paintStart >> paintDone >> hwm && tag == "first-paint") {
                const double t0ns = double(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(t0.time_since_epoch())
                        .count());
                run.paintMs = (double(paintDone) - t0ns) / 1e6;
                run.maxRssKiB = hwm;
            }
        }
    }
    if (report[0] >= 0) close(report[0]);
    const bool shown = done();
    if (shown) std::this_thread::sleep_for(settle);
    const rusage usage = endChild(pid);
    if (!shown) throw std::runtime_error(program.label + " showed no window within 20 s");
    run.maxRssKiB = std::max(run.maxRssKiB, usage.ru_maxrss);
    return run;
}

// Instructions to the first paint: the program under callgrind, ended by the probe right
// after its first paint has been flushed (BENCH_FIRST_PAINT_EXIT=now).
long long instructions(const Program& program, const std::vector<std::string>& qtEnv) {
    // One log per process: under X a program may fork a helper, whose count is not its own.
    const fs::path log =
        fs::temp_directory_path() / ("bench-startup-callgrind-" + std::to_string(::getpid()));
    std::vector<std::string> args = {"valgrind", "--tool=callgrind",
                                     "--callgrind-out-file=/dev/null",
                                     "--log-file=" + log.string() + ".%p"};
    args.insert(args.end(), program.argv.begin(), program.argv.end());
    std::vector<std::string> env = qtEnv;
    env.push_back("BENCH_FIRST_PAINT_EXIT=now");
    const pid_t pid = spawn(args, env, -1);
    int status = 0;
    waitpid(pid, &status, 0);
    const fs::path own = log.string() + "." + std::to_string(pid);
    std::ifstream in(own);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const auto& entry : fs::directory_iterator(log.parent_path())) {
        if (entry.path().filename().string().starts_with(log.filename().string() + "."))
            fs::remove(entry.path());
    }
    const std::size_t at = text.find("Collected : ");
    if (at == std::string::npos)
        throw std::runtime_error("callgrind counted nothing for " + program.label);
    return std::atoll(text.c_str() + at + 12);
}

bool installed(const std::string& command) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (access((fs::path(dir) / command).c_str(), X_OK) == 0) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 30, warmup = 3;
    int settleMs = 1000;
    bool countInstructions = false;
    std::string before;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (arg == "--warmup" && i + 1 < argc)
            warmup = std::atoi(argv[++i]);
        else if (arg == "--settle-ms" && i + 1 < argc)
            settleMs = std::atoi(argv[++i]);
        else if (arg == "--instructions")
            countInstructions = true;
        else if (arg == "--before" && i + 1 < argc)
            before = argv[++i];
        else {
            std::fprintf(stderr,
                         "usage: %s [--runs N] [--warmup N] [--settle-ms MS] [--instructions] "
                         "[--before BUILD_DIR]\n",
                         argv[0]);
            return 2;
        }
    }
    const char* platformVariable = std::getenv("QT_QPA_PLATFORM");
    const std::string platform =
        platformVariable && *platformVariable ? platformVariable : "offscreen";
    const bool underX = platform == "xcb";

    const fs::path link =
        fs::temp_directory_path() / ("projector-startup-" + std::to_string(::getpid()));
    const fs::path home =
        fs::temp_directory_path() / ("projector-startup-home-" + std::to_string(::getpid()));
    fs::create_directories(home);
    sim_support::Simulator sim({PROJECTOR_SIM_PATH, "TR27K", link.string(), {}});
    // The terminals keep their settings in the home folder: each run starts from none, as the
    // panels do.
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    const std::vector<std::string> qtEnv = {
        "QT_QPA_PLATFORM=" + platform,
        std::string("QT_PLUGIN_PATH=") + FIRST_PAINT_PLUGIN_DIR,
        "QT_QPA_GENERIC_PLUGINS=benchfirstpaint",
        "PROJECTOR_COM1=" + link.string(),
    };

    std::vector<Program> programs = {
        {"floor (TR27K controls)", {BENCH_FLOOR_PATH, "TR27K"}},
        {"TR27KRSC", {TR27KRSC_PATH}, 0},
        {"floor (TR52 controls)", {BENCH_FLOOR_PATH, "TR52"}},
        {"TR52", {TR52_PATH}, 2},
    };
    if (!before.empty()) {
        programs.push_back({"TR27KRSC (--before)",
                            {(fs::path(before) / "app/TR27KRSC").string()},
                            0,
                            true,
                            false,
                            false});
        programs.push_back(
            {"TR52 (--before)", {(fs::path(before) / "app/TR52").string()}, 2, true, false, false});
    }

    if (countInstructions) {
        std::printf("platform %s, instructions to the first paint (callgrind)\n\n",
                    platform.c_str());
        std::vector<long long> counts;
        bool met = true;
        for (const Program& p : programs) {
            counts.push_back(instructions(p, qtEnv));
            std::printf("%-24s %14lld", p.label.c_str(), counts.back());
            if (p.floorIndex >= 0) {
                const double x = double(counts.back()) / double(counts[std::size_t(p.floorIndex)]);
                met = met && (!p.goal || x <= kInstructionGoal);
                std::printf("  %.3fx floor", x);
            }
            std::printf("\n");
        }
        std::printf("\ngoal (x%.2f instructions): %s\n", kInstructionGoal, met ? "met" : "NOT MET");
        fs::remove_all(home);
        return 0;
    }

    std::optional<MapWatcher> watcher;
    if (underX) {
        watcher.emplace();
        if (installed("cutecom")) programs.push_back({"CuteCom", {"cutecom"}, -1, false, true});
        if (installed("gtkterm")) {
            programs.push_back({"GTKTerm",
                                {"gtkterm", "--port", link.string(), "--speed", "19200"},
                                -1,
                                false,
                                true});
        }
    }

    std::printf("platform %s, %d runs after %d warm-up runs each, memory peak over %d ms\n",
                platform.c_str(), runs, warmup, settleMs);
    std::vector<std::vector<Run>> results(programs.size());
    for (int round = -warmup; round < runs; ++round) {
        for (std::size_t k = 0; k < programs.size(); ++k) {
            // Each round starts with another program, so none always follows the same one.
            const std::size_t i = (k + std::size_t(round + warmup)) % programs.size();
            try {
                const Run run = runOnce(programs[i], qtEnv, watcher ? &*watcher : nullptr,
                                        std::chrono::milliseconds(settleMs));
                if (round >= 0) results[i].push_back(run);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "bench_startup: %s\n", e.what());
                fs::remove_all(home);
                return 1;
            }
        }
    }
    fs::remove_all(home);

    std::printf("\n%-24s | %9s %7s | %9s %7s | %9s %7s\n", "program", "mapped ms", "x floor",
                "paint ms", "x floor", "RSS KiB", "x floor");
    std::printf("%-24s | %9s %7s | %9s %7s | %9s %7s\n", "", "p50", "", "p50", "", "p50 peak", "");
    std::vector<double> mapped(programs.size()), paint(programs.size()), rss(programs.size());
    for (std::size_t i = 0; i < programs.size(); ++i) {
        std::vector<double> m, t, r;
        for (const Run& run : results[i]) {
            if (run.mappedMs) m.push_back(*run.mappedMs);
            if (run.paintMs) t.push_back(*run.paintMs);
            r.push_back(double(run.maxRssKiB));
        }
        mapped[i] = quantile(m, 0.5);
        paint[i] = quantile(t, 0.5);
        rss[i] = quantile(r, 0.5);
    }
    // A terminal is compared with the first floor, the one of TR27K's controls; a floor with
    // nothing.
    auto cell = [&](const std::vector<double>& v, std::size_t i, const char* format) {
        char text[32] = "-";
        if (!std::isnan(v[i])) std::snprintf(text, sizeof text, format, v[i]);
        char ratio[32] = "-";
        const bool floor = programs[i].floorIndex < 0 && !programs[i].peer;
        const std::size_t against =
            programs[i].floorIndex >= 0 ? std::size_t(programs[i].floorIndex) : 0;
        if (!floor && !std::isnan(v[i]))
            std::snprintf(ratio, sizeof ratio, "%.2f", v[i] / v[against]);
        char both[64];
        std::snprintf(both, sizeof both, "%9s %7s", text, ratio);
        return std::string(both);
    };
    auto ratio = [&](const std::vector<double>& v, std::size_t i) {
        return v[i] / v[programs[i].floorIndex >= 0 ? std::size_t(programs[i].floorIndex) : 0];
    };
    for (std::size_t i = 0; i < programs.size(); ++i) {
        std::printf("%-24s | %s | %s | %s\n", programs[i].label.c_str(),
                    cell(mapped, i, "%.1f").c_str(), cell(paint, i, "%.1f").c_str(),
                    cell(rss, i, "%.0f").c_str());
    }

    bool met = true;
    std::printf("\n");
    for (std::size_t i = 0; i < programs.size(); ++i) {
        if (programs[i].floorIndex < 0) continue;
        const double x = ratio(rss, i);
        bool ahead = true;
        for (std::size_t j = 0; j < programs.size(); ++j) {
            if (programs[j].peer) ahead = ahead && rss[i] < rss[j];
        }
        met = met && (!programs[i].goal || (x <= kMemoryGoal && ahead));
        std::printf(
            "%s: peak memory %.2fx the floor's%s\n", programs[i].label.c_str(), x,
            underX ? (ahead ? ", below every terminal's" : ", NOT below every terminal's") : "");
    }
    std::printf("goal (x%.2f memory%s): %s\n", kMemoryGoal, underX ? ", below the terminals" : "",
                met ? "met" : "NOT MET");
    return 0;
}
