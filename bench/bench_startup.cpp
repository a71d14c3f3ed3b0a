// Start-up benchmark of the program under Xvfb.
//
//   bench_startup [--program PATH] [--runs N]
//
// Starts Xvfb on a free display and launches the program N times (default
// 10) in each of three set-ups: as it starts by itself, with
// QT_XCB_GL_INTEGRATION=none given, and with the GLX integration forced
// (QT_XCB_GL_INTEGRATION=xcb_glx, the xcb platform's default when the program
// does not choose).  For each launch it takes
//   - the time from launch to the main window being mapped, from the X event
//     stream (MapNotify on the root window for a window of the program's
//     process), and
//   - the resident memory (VmRSS) one second after the window was mapped;
// then ends the program with SIGTERM.  Prints median, minimum and maximum
// and the goal figures.  The program is the tl-configuration beside the
// benchmark unless --program names another; measure a build without
// sanitizers (scripts/run's build/ or scripts/package's build-package/).
// Each launch gets a scratch HOME, so that the user's ini file is not used.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr double GoalMappedMs = 200.0;
constexpr double GoalRssMb = 45.0;

double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

struct Xvfb {
    pid_t pid = -1;
    int display = -1;
};

// Xvfb picks a free display itself and writes its number to -displayfd.
Xvfb startXvfb(const QString &xvfb)
{
    Xvfb x;
    int fds[2];
    if (pipe(fds) != 0)
        return x;
    const QByteArray path = QFile::encodeName(xvfb);
    const QByteArray fdText = QByteArray::number(fds[1]);
    const char *argv[] = {path.constData(), "-displayfd", fdText.constData(), "-nolisten", "tcp",
                          "-screen", "0", "1280x1024x24", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const int rc = posix_spawn(&x.pid, path.constData(), &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        x.pid = -1;
        close(fds[0]);
        return x;
    }
    pollfd p{fds[0], POLLIN, 0};
    QByteArray text;
    const double end = nowMs() + 10000;
    while (!text.contains('\n') && nowMs() < end && poll(&p, 1, 200) >= 0) {
        char buf[32];
        if (p.revents & (POLLIN | POLLHUP)) {
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0)
                break;
            text.append(buf, int(n));
        }
    }
    close(fds[0]);
    bool ok = false;
    x.display = text.trimmed().toInt(&ok);
    if (!ok)
        x.display = -1;
    return x;
}

long rssKb(pid_t pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

bool mapsContain(pid_t pid, const char *what)
{
    QFile f(QStringLiteral("/proc/%1/maps").arg(pid));
    return f.open(QIODevice::ReadOnly) && f.readAll().contains(what);
}

// The process that owns a window, from its _NET_WM_PID (Qt sets it).
long windowPid(Display *dpy, Window w, Atom netWmPid)
{
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(dpy, w, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format, &items, &after, &data)
            == Success
        && data && format == 32 && items == 1)
        pid = long(*reinterpret_cast<unsigned long *>(data));
    if (data)
        XFree(data);
    return pid;
}

void endProcess(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {   // 20 s
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(100 * 1000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

struct Launch {
    double mappedMs = -1;
    long rss = -1;
    bool glLoaded = false;
    bool sanitizer = false;
};

// One launch: the window mapped, then the memory a second later.
Launch launchOnce(Display *dpy, int display, const QByteArray &program, const char *glValue)
{
    Launch l;
    QTemporaryDir home;
    const Window root = DefaultRootWindow(dpy);
    const Atom netWmPid = XInternAtom(dpy, "_NET_WM_PID", False);
    while (XPending(dpy)) {
        XEvent drop;
        XNextEvent(dpy, &drop);
    }

    std::vector<QByteArray> env;
    for (char **e = environ; *e; ++e) {
        const QByteArray v(*e);
        if (v.startsWith("DISPLAY=") || v.startsWith("QT_XCB_GL_INTEGRATION=") || v.startsWith("QT_QPA_PLATFORM=")
            || v.startsWith("HOME=") || v.startsWith("XDG_CONFIG_HOME=") || v.startsWith("XDG_DATA_HOME=")
            || v.startsWith("XDG_RUNTIME_DIR="))
            continue;
        env.push_back(v);
    }
    env.push_back("DISPLAY=:" + QByteArray::number(display));
    env.push_back("HOME=" + QFile::encodeName(home.path()));
    QDir(home.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(home.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.push_back("XDG_RUNTIME_DIR=" + QFile::encodeName(home.filePath(QStringLiteral("run"))));
    if (glValue)
        env.push_back(QByteArray("QT_XCB_GL_INTEGRATION=") + glValue);
    std::vector<char *> envp;
    for (QByteArray &v : env)
        envp.push_back(v.data());
    envp.push_back(nullptr);

    const char *argv[] = {program.constData(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const double start = nowMs();
    const int rc = posix_spawn(&pid, program.constData(), &actions, nullptr, const_cast<char **>(argv), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "bench_startup: cannot start %s: %s\n", program.constData(), std::strerror(rc));
        return l;
    }

    const int fd = ConnectionNumber(dpy);
    const double deadline = start + 20000;
    while (l.mappedMs < 0 && nowMs() < deadline) {
        while (XPending(dpy)) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type == MapNotify && ev.xmap.event == root && !ev.xmap.override_redirect
                && windowPid(dpy, ev.xmap.window, netWmPid) == long(pid)) {
                l.mappedMs = nowMs() - start;
                break;
            }
        }
        if (l.mappedMs >= 0 || waitpid(pid, nullptr, WNOHANG) == pid)
            break;
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 50);
    }
    if (l.mappedMs >= 0) {
        usleep(1000 * 1000);
        l.rss = rssKb(pid);
        l.glLoaded = mapsContain(pid, "xcb-glx-integration");
        l.sanitizer = mapsContain(pid, "libasan") || mapsContain(pid, "libubsan");
    }
    endProcess(pid);
    return l;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/tl-configuration");
    int runs = 10;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--program") && i + 1 < args.size()) {
            program = args[++i];
        } else if (args[i] == QLatin1String("--runs") && i + 1 < args.size()) {
            runs = std::max(1, args[++i].toInt());
        } else {
            std::fprintf(stderr, "usage: bench_startup [--program PATH] [--runs N]\n");
            return 2;
        }
    }
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) {
        std::fprintf(stderr, "bench_startup needs Xvfb: apt-get install xvfb\n");
        return 1;
    }
    if (!QFile::exists(program)) {
        std::fprintf(stderr, "bench_startup: no program at %s (--program PATH)\n", qPrintable(program));
        return 1;
    }

    const Xvfb x = startXvfb(xvfb);
    if (x.pid < 0 || x.display < 0) {
        std::fprintf(stderr, "bench_startup: Xvfb did not start\n");
        if (x.pid > 0)
            endProcess(x.pid);
        return 1;
    }
    const QByteArray displayName = ":" + QByteArray::number(x.display);
    Display *dpy = nullptr;
    for (int i = 0; i < 50 && !dpy; ++i) {
        dpy = XOpenDisplay(displayName.constData());
        if (!dpy)
            usleep(100 * 1000);
    }
    if (!dpy) {
        std::fprintf(stderr, "bench_startup: cannot open display %s\n", displayName.constData());
        endProcess(x.pid);
        return 1;
    }
    XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
    XSync(dpy, False);

    std::printf("bench_startup: %s, %d launches each, Xvfb on %s\n", qPrintable(program), runs,
                displayName.constData());
    std::printf("time from launch to the main window mapped; resident memory 1 s after that\n\n");
    std::printf("%-44s %24s %24s  %s\n", "set-up", "mapped ms med (min-max)", "RSS MB med (min-max)",
                "GL integration");

    struct Setup {
        const char *name;
        const char *glValue;
    };
    const Setup setups[] = {
        {"as the program starts itself", nullptr},
        {"QT_XCB_GL_INTEGRATION=none", "none"},
        {"QT_XCB_GL_INTEGRATION=xcb_glx (GL loaded)", "xcb_glx"},
    };
    const QByteArray programPath = QFile::encodeName(program);
    bool sanitizer = false;
    int rc = 0;
    double shippedMs = -1, shippedMb = -1;
    for (const Setup &s : setups) {
        std::vector<double> ms, mb;
        int gl = 0;
        for (int i = 0; i < runs; ++i) {
            const Launch l = launchOnce(dpy, x.display, programPath, s.glValue);
            if (l.mappedMs < 0 || l.rss < 0) {
                std::fprintf(stderr, "bench_startup: the window was not mapped within 20 s (%s)\n", s.name);
                rc = 1;
                continue;
            }
            ms.push_back(l.mappedMs);
            mb.push_back(l.rss / 1024.0);
            gl += l.glLoaded ? 1 : 0;
            sanitizer = sanitizer || l.sanitizer;
        }
        if (ms.empty())
            continue;
        char timeText[64], memText[64];
        std::snprintf(timeText, sizeof timeText, "%.0f (%.0f-%.0f)", median(ms),
                      *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
        std::snprintf(memText, sizeof memText, "%.1f (%.1f-%.1f)", median(mb),
                      *std::min_element(mb.begin(), mb.end()), *std::max_element(mb.begin(), mb.end()));
        std::printf("%-44s %24s %24s  %s\n", s.name, timeText, memText,
                    gl == 0 ? "not loaded" : gl == int(ms.size()) ? "loaded" : "sometimes loaded");
        std::fflush(stdout);
        if (!s.glValue) {
            shippedMs = median(ms);
            shippedMb = median(mb);
        }
    }
    XCloseDisplay(dpy);
    endProcess(x.pid);

    if (shippedMs >= 0) {
        std::printf("\ngoal: window mapped within %.0f ms of launch: median %.0f ms, %s\n", GoalMappedMs, shippedMs,
                    shippedMs <= GoalMappedMs ? "met" : "NOT met");
        std::printf("goal: memory after start at most %.0f MB: median %.1f MB, %s\n", GoalRssMb, shippedMb,
                    shippedMb <= GoalRssMb ? "met" : "NOT met");
    }
    if (sanitizer)
        std::printf("\nnote: this program is built with sanitizers; its figures say little about a release build\n");
    return rc;
}
