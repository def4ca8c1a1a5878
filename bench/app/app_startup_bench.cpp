// Start-up and footprint of the real program, measured as a user meets it,
// beside a bare Qt Widgets dialog built and launched in the same run. Run on
// an X display (a virtual one will do):
//
//   xvfb-run -a build/bench/app/app_startup_bench [runs]
//
// 1. Launch to the login window: the program starts with no settings; the
//    clock stops when its login dialog is mapped and painted (its middle no
//    longer shows the empty screen). The bare dialog is launched in turn
//    with each run. Medians reported.
// 2. Launch to the painted main window after the automatic login to the demo
//    account of a devserver, against the bare dialog's figure.
// 3. Memory after login, phonebook and photos arrived, no account page open:
//    VmRSS and the private memory (Private_Clean + Private_Dirty of
//    smaps_rollup), with the largest mappings.
// 4. Account pages: the phone's windows driven in this process (a main
//    window logged in to the devserver, its buttons clicked), the pages shown
//    by ondavox-pages as in the program: the first page (the browser
//    program starts), then later pages, from the click until the window
//    shows the page.
//
// ONDAVOX_BENCH_PROGRAM, ONDAVOX_BENCH_DEVSERVER and ONDAVOX_BENCH_BARE
// override the binaries.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pages_timing.h"

namespace {

using Clock = std::chrono::steady_clock;

const char *binary(const char *variable, const char *fallback)
{
    const char *value = std::getenv(variable);
    return value && *value ? value : fallback;
}

std::string makeTempDir()
{
    char pattern[] = "/tmp/ondavox-bench-XXXXXX";
    const char *dir = mkdtemp(pattern);
    if (!dir) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return dir;
}

// Starts program with extra environment entries; output goes to logPath.
pid_t launch(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &logPath)
{
    const pid_t pid = fork();
    if (pid == 0) {
        for (const std::string &entry : env)
            putenv(strdup(entry.c_str()));
        unsetenv("QT_QPA_PLATFORM");
        if (FILE *log = std::fopen(logPath.c_str(), "w")) {
            dup2(fileno(log), 1);
            dup2(fileno(log), 2);
        }
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

std::string windowTitle(Display *display, Window window)
{
    static const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    static const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8, &type, &format, &count, &after, &data)
            == Success
        && data) {
        title.assign(reinterpret_cast<char *>(data), count);
        XFree(data);
    }
    if (title.empty()) {
        char *name = nullptr;
        if (XFetchName(display, window, &name) && name) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

// Waits until a top-level window with this title is mapped; false on timeout.
bool waitForWindow(Display *display, const std::string &title, int timeoutMs, Clock::time_point *when,
                   Window *mapped = nullptr)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int fd = ConnectionNumber(display);
    while (Clock::now() < deadline) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && windowTitle(display, event.xmap.window) == title) {
                *when = Clock::now();
                if (mapped)
                    *mapped = event.xmap.window;
                return true;
            }
        }
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 50);
    }
    return false;
}

// Waits until the mapped window is painted: a few points across it no
// longer all show the empty screen (black on a bare virtual display) that
// was there before the program drew. False on timeout.
bool waitForPaint(Display *display, Window window, int timeoutMs, Clock::time_point *when)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    XErrorHandler previous = XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
    bool painted = false;
    while (!painted && Clock::now() < deadline) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, window, &attributes) && attributes.width > 8 && attributes.height > 8) {
            for (int i = 1; i < 4 && !painted; ++i) {
                for (int j = 1; j < 4 && !painted; ++j) {
                    XImage *image = XGetImage(display, window, attributes.width * i / 4, attributes.height * j / 4,
                                              1, 1, AllPlanes, ZPixmap);
                    if (image) {
                        painted = (XGetPixel(image, 0, 0) & 0xffffff) != 0;
                        XDestroyImage(image);
                    }
                }
            }
        }
        if (!painted)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    XSetErrorHandler(previous);
    *when = Clock::now();
    return painted;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int countLines(const std::string &path, const std::string &line)
{
    std::ifstream in(path);
    std::string l;
    int n = 0;
    while (std::getline(in, l))
        n += l == line ? 1 : 0;
    return n;
}

long statusKb(pid_t pid, const char *field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0)
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    return -1;
}

// Resident kilobytes by what is mapped (a library, the heap, anonymous).
// Private_Clean + Private_Dirty: what the process alone holds.
long privateKb(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    long kb = 0;
    while (std::getline(in, line))
        if (line.rfind("Private_Clean:", 0) == 0 || line.rfind("Private_Dirty:", 0) == 0)
            kb += std::strtol(line.c_str() + line.find(':') + 1, nullptr, 10);
    return kb;
}

std::vector<std::pair<long, std::string>> residentByMapping(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps");
    std::map<std::string, long> sums;
    std::string line;
    std::string current;
    while (std::getline(in, line)) {
        if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') < 17) {
            std::istringstream fields(line);
            std::string range, perms, offset, dev, inode, path;
            fields >> range >> perms >> offset >> dev >> inode;
            std::getline(fields, path);
            path.erase(0, path.find_first_not_of(' '));
            current = path.empty() ? "[anonymous]" : path.substr(path.find_last_of('/') + 1);
        } else if (line.rfind("Rss:", 0) == 0) {
            sums[current] += std::strtol(line.c_str() + 4, nullptr, 10);
        }
    }
    std::vector<std::pair<long, std::string>> sorted;
    for (const auto &[name, kb] : sums)
        sorted.emplace_back(kb, name);
    std::sort(sorted.rbegin(), sorted.rend());
    return sorted;
}

struct Launch {
    double mappedMs = 0;
    double paintedMs = 0;
};

// Starts argv and waits for its window titled title to be mapped and
// painted; pid receives the process, which the caller stops.
bool launchAndWait(Display *display, const std::vector<std::string> &argv, const std::vector<std::string> &env,
                   const std::string &log, const std::string &title, Launch *result, pid_t *pid)
{
    XSync(display, True); // forget earlier windows' events
    const auto start = Clock::now();
    *pid = launch(argv, env, log);
    Clock::time_point mapped;
    Clock::time_point painted;
    Window window = 0;
    if (!waitForWindow(display, title, 60000, &mapped, &window) || !waitForPaint(display, window, 10000, &painted))
        return false;
    result->mappedMs = std::chrono::duration<double, std::milli>(mapped - start).count();
    result->paintedMs = std::chrono::duration<double, std::milli>(painted - start).count();
    return true;
}

void printSeries(const char *what, const std::vector<double> &values)
{
    std::printf("  %-34s median %7.1f ms, min %7.1f, max %7.1f\n", what, median(values),
                *std::min_element(values.begin(), values.end()), *std::max_element(values.begin(), values.end()));
}

// The bare dialog and the program, in turn: launch to the first window.
int launchToLogin(Display *display, const std::string &program, const std::string &bare, int runs,
                  double *bareMedian)
{
    std::printf("Launch to the first window (%d runs each, in turn; no settings):\n", runs);
    std::vector<double> bareMapped, barePainted, mapped, painted;
    for (int run = 0; run < runs; ++run) {
        const std::string dir = makeTempDir();
        Launch launched;
        pid_t pid = 0;
        bool ok = launchAndWait(display, {bare}, {}, dir + "/bare.log", "Bare dialog", &launched, &pid);
        stop(pid);
        if (!ok) {
            std::fprintf(stderr, "run %d: the bare dialog did not show\n", run + 1);
            return 1;
        }
        bareMapped.push_back(launched.mappedMs);
        barePainted.push_back(launched.paintedMs);
        ok = launchAndWait(display, {program},
                           {"ONDAVOX_SETTINGS_DIR=" + dir, "ONDAVOX_WEB_BASE=http://127.0.0.1:9"},
                           dir + "/out.log", "Log in to your Ondavox account", &launched, &pid);
        stop(pid);
        std::system(("rm -rf " + dir).c_str());
        if (!ok) {
            std::fprintf(stderr, "run %d: no login dialog within 60 s\n", run + 1);
            return 1;
        }
        mapped.push_back(launched.mappedMs);
        painted.push_back(launched.paintedMs);
        std::printf("  run %2d: bare %6.1f ms, program %6.1f ms (painted)\n", run + 1, barePainted.back(),
                    painted.back());
        std::fflush(stdout);
    }
    printSeries("bare dialog, mapped:", bareMapped);
    printSeries("bare dialog, painted:", barePainted);
    printSeries("login window, mapped:", mapped);
    printSeries("login window, painted:", painted);
    *bareMedian = median(barePainted);
    std::printf("  login window / bare dialog: %.2fx\n", median(painted) / *bareMedian);
    return 0;
}

struct Devserver {
    pid_t pid = 0;
    std::string dir;
    std::string web;
    std::string iax;
};

bool startDevserver(const std::string &devserver, Devserver *server)
{
    server->dir = makeTempDir();
    server->pid = launch({devserver, "--db", server->dir + "/db.sqlite", "--http-port", "0", "--iax-port", "0",
                          "--log-requests"},
                         {}, server->dir + "/devserver.log");
    for (int i = 0; i < 600 && (server->web.empty() || server->iax.empty()); ++i) {
        std::istringstream log(readFile(server->dir + "/devserver.log"));
        std::string line;
        while (std::getline(log, line)) {
            if (line.rfind("http listening on ", 0) == 0)
                server->web = line.substr(18);
            if (line.rfind("iax2 listening on ", 0) == 0)
                server->iax = line.substr(18);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return !server->web.empty() && !server->iax.empty();
}

// Launch to the painted main window with a stored login, several times;
// the last run stays for the memory figures.
int afterLogin(Display *display, const std::string &program, const std::string &bare, const Devserver &server,
               int runs, double bareMedian)
{
    std::printf("\nLaunch to the painted main window, automatic login (%d runs):\n", runs);
    const std::string settings = server.dir + "/settings";
    mkdir(settings.c_str(), 0700);
    // With the digest of "ondavox-demo", as the login dialog stores it.
    std::system(("d=$(printf ondavox-demo | md5sum | cut -d' ' -f1); printf '[Login]\\nEmail=demo@ondavox.com\\n"
                 "Password=@ByteArray(%s)\\n' \"$d\" > " + settings + "/Settings.ini")
                    .c_str());
    const std::string log = server.dir + "/devserver.log";
    std::vector<double> painted;
    pid_t pid = 0;
    for (int run = 0; run < runs; ++run) {
        Launch launched;
        const bool ok = launchAndWait(display, {program},
                                      {"ONDAVOX_SETTINGS_DIR=" + settings, "ONDAVOX_WEB_BASE=" + server.web,
                                       "ONDAVOX_IAX2_HOST=" + server.iax},
                                      server.dir + "/out.log", "Ondavox", &launched, &pid);
        if (!ok) {
            std::fprintf(stderr, "no main window within 60 s\n");
            stop(pid);
            return 1;
        }
        painted.push_back(launched.paintedMs);
        std::printf("  run %2d: %6.1f ms\n", run + 1, launched.paintedMs);
        if (run + 1 < runs)
            stop(pid);
    }
    printSeries("main window, painted:", painted);
    std::printf("  main window / bare dialog: %.2fx\n", median(painted) / bareMedian);

    // The phonebook, every photo, the history and the balance have arrived
    // once the photo requests stop and the balance is served.
    int photos = -1;
    auto settled = Clock::now();
    for (int i = 0; i < 600; ++i) {
        const int now = countLines(log, "POST /Phonebook/GetContactPhoto.html 200");
        if (now != photos) {
            photos = now;
            settled = Clock::now();
        }
        if (photos > 0 && countLines(log, "POST /Credit/GetCredit.html 200") > runs
            && Clock::now() - settled > std::chrono::seconds(2))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // Settled for a few seconds of credit polling.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    std::printf("\nMemory after login, phonebook and photos loaded, no account page:\n");
    std::printf("  VmRSS %.1f MB (VmHWM %.1f MB), private %.1f MB; RssAnon %.1f MB, RssFile %.1f MB\n",
                statusKb(pid, "VmRSS") / 1024.0, statusKb(pid, "VmHWM") / 1024.0, privateKb(pid) / 1024.0,
                statusKb(pid, "RssAnon") / 1024.0, statusKb(pid, "RssFile") / 1024.0);
    // Alone, every page of Qt's libraries it touched counts as its own; on a
    // desktop other Qt programs share them. So the figure again beside one.
    {
        Launch other;
        pid_t otherPid = 0;
        if (launchAndWait(display, {bare}, {}, server.dir + "/bare.log", "Bare dialog", &other, &otherPid))
            std::printf("  private %.1f MB beside another Qt program (the bare dialog)\n", privateKb(pid) / 1024.0);
        stop(otherPid);
    }
    std::printf("  largest resident mappings:\n");
    const auto mappings = residentByMapping(pid);
    for (std::size_t i = 0; i < mappings.size() && i < 10; ++i)
        std::printf("    %8.1f MB  %s\n", mappings[i].first / 1024.0, mappings[i].second.c_str());
    const std::string maps = readFile("/proc/" + std::to_string(pid) + "/maps");
    for (const char *library : {"libQt6WebEngineCore", "libLLVM", "libGLX_mesa", "swrast"})
        std::printf("  %s: %s\n", library, maps.find(library) == std::string::npos ? "not loaded" : "loaded");
    stop(pid);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const std::string program = binary("ONDAVOX_BENCH_PROGRAM", ONDAVOX_PROGRAM);
    const std::string bare = binary("ONDAVOX_BENCH_BARE", ONDAVOX_BARE_DIALOG);
    const std::string devserver = binary("ONDAVOX_BENCH_DEVSERVER", ONDAVOX_DEVSERVER);
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X display: run under xvfb-run -a\n");
        return 2;
    }
    // Every top-level window's mapping is reported to us.
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    std::printf("program: %s\nbare dialog: %s\n", program.c_str(), bare.c_str());
    double bareMedian = 0;
    int result = launchToLogin(display, program, bare, runs, &bareMedian);
    Devserver server;
    if (result == 0 && !startDevserver(devserver, &server)) {
        std::fprintf(stderr, "the devserver did not start\n");
        result = 1;
    }
    if (result == 0)
        result = afterLogin(display, program, bare, server, std::min(runs, 5), bareMedian);
    XCloseDisplay(display);
    if (result == 0)
        result = accountPageTimings(argc, argv, server.web, server.iax);
    if (server.pid)
        stop(server.pid);
    if (!server.dir.empty())
        std::system(("rm -rf " + server.dir).c_str());
    return result;
}
