// A Qt generic plugin that notes when a program's first window has painted, for the start-up
// benchmark. Loaded into any Qt program, unchanged, through
//   QT_PLUGIN_PATH=<dir holding generic/> QT_QPA_GENERIC_PLUGINS=benchfirstpaint
// When the first paint event of a top-level widget has been handled and the frame flushed
// (the next turn of the event loop), it writes one line to the file descriptor named by
// BENCH_FIRST_PAINT_FD:
//   first-paint <paint start ns> <paint done ns> <VmHWM KiB>
// with times on CLOCK_MONOTONIC (std::chrono::steady_clock on Linux). With BENCH_FIRST_PAINT_EXIT
// set, the program's event loop is then asked to quit, so that a timer of whole runs such as
// hyperfine or /usr/bin/time can be used (it then also counts the program's normal end).
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QGenericPlugin>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

long long monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

long highWaterKiB() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::strtol(line + 6, nullptr, 10);
    }
    std::fclose(status);
    return kib;
}

}  // namespace

class FirstPaintProbe final : public QObject {
  public:
    FirstPaintProbe() {
        bool ok = false;
        fd_ = qEnvironmentVariableIntValue("BENCH_FIRST_PAINT_FD", &ok);
        if (!ok) fd_ = -1;
        exit_ = qEnvironmentVariableIsSet("BENCH_FIRST_PAINT_EXIT");
        exitNow_ = qgetenv("BENCH_FIRST_PAINT_EXIT") == "now";
        QCoreApplication::instance()->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow()) {
            QCoreApplication::instance()->removeEventFilter(this);
            paintStart_ = monotonicNs();
            // Runs once the paint under way, children and flush included, has returned.
            QMetaObject::invokeMethod(
                this, [this] { report(); }, Qt::QueuedConnection);
        }
        return false;
    }

  private:
    void report() {
        char line[128];
        const int n = std::snprintf(line, sizeof line, "first-paint %lld %lld %ld\n", paintStart_,
                                    monotonicNs(), highWaterKiB());
        if (fd_ >= 0 && n > 0) (void)!::write(fd_, line, static_cast<std::size_t>(n));
        if (exitNow_) ::_exit(0);
        if (exit_) QCoreApplication::quit();
    }

    int fd_ = -1;
    bool exit_ = false;
    bool exitNow_ = false;
    long long paintStart_ = 0;
};

class FirstPaintProbePlugin final : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "first_paint_probe.json")
  public:
    QObject* create(const QString&, const QString&) override { return new FirstPaintProbe; }
};

#include "first_paint_probe.moc"
