// Start-up and footprint of the real program, measured from outside as a
// user meets it. Run on an X display (a virtual one will do):
//
//   xvfb-run -a build/bench/app/app_startup_bench [runs]
//
// 1. Launch to login dialog: the program starts with no settings; the clock
//    stops when its login dialog is mapped on the display (the X server
//    reports it; nothing is polled). Repeated, median reported.
// 2. Resident memory after login: the program logs in by itself to the demo
//    account of a devserver, the phonebook and its photos arrive, no browser
//    window is opened; then VmRSS and VmHWM are read from /proc, with the
//    largest mappings, to see what dominates.
//
// ONDAVOX_BENCH_PROGRAM and ONDAVOX_BENCH_DEVSERVER override the binaries.
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
bool waitForWindow(Display *display, const std::string &title, int timeoutMs, Clock::time_point *when)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int fd = ConnectionNumber(display);
    while (Clock::now() < deadline) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && windowTitle(display, event.xmap.window) == title) {
                *when = Clock::now();
                return true;
            }
        }
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 50);
    }
    return false;
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

int launchToLogin(Display *display, const std::string &program, int runs)
{
    std::printf("Launch to login dialog (%d runs, no settings):\n", runs);
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const std::string dir = makeTempDir();
        XSync(display, True); // forget earlier windows' events
        const auto start = Clock::now();
        const pid_t pid = launch({program},
                                 {"ONDAVOX_SETTINGS_DIR=" + dir, "ONDAVOX_WEB_BASE=http://127.0.0.1:9",
                                  "QTWEBENGINE_DISABLE_SANDBOX=1"},
                                 dir + "/out.log");
        Clock::time_point shown;
        const bool ok = waitForWindow(display, "Log in to your Ondavox account", 60000, &shown);
        stop(pid);
        std::system(("rm -rf " + dir).c_str());
        if (!ok) {
            std::fprintf(stderr, "run %d: no login dialog within 60 s\n", run + 1);
            return 1;
        }
        const double ms = std::chrono::duration<double, std::milli>(shown - start).count();
        times.push_back(ms);
        std::printf("  run %2d: %7.1f ms\n", run + 1, ms);
        std::fflush(stdout);
    }
    std::printf("  median %.1f ms, min %.1f ms, max %.1f ms (first run has cold caches)\n", median(times),
                *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()));
    return 0;
}

int memoryAfterLogin(Display *display, const std::string &program, const std::string &devserver)
{
    std::printf("\nResident memory after login, demo phonebook loaded, no browser window:\n");
    const std::string dir = makeTempDir();
    const pid_t server = launch({devserver, "--db", dir + "/db.sqlite", "--http-port", "0", "--iax-port", "0",
                                 "--log-requests"},
                                {}, dir + "/devserver.log");
    std::string web;
    std::string iax;
    for (int i = 0; i < 600 && (web.empty() || iax.empty()); ++i) {
        std::istringstream log(readFile(dir + "/devserver.log"));
        std::string line;
        while (std::getline(log, line)) {
            if (line.rfind("http listening on ", 0) == 0)
                web = line.substr(18);
            if (line.rfind("iax2 listening on ", 0) == 0)
                iax = line.substr(18);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (web.empty() || iax.empty()) {
        std::fprintf(stderr, "the devserver did not start\n");
        stop(server);
        return 1;
    }
    // A stored login: the program logs in by itself.
    mkdir((dir + "/settings").c_str(), 0700);
    // With the digest of "ondavox-demo", as the login dialog stores it.
    std::system(("d=$(printf ondavox-demo | md5sum | cut -d' ' -f1); printf '[Login]\\nEmail=demo@ondavox.com\\n"
                 "Password=@ByteArray(%s)\\n' \"$d\" > " + dir + "/settings/Settings.ini")
                    .c_str());

    XSync(display, True);
    const auto start = Clock::now();
    const pid_t pid = launch({program},
                             {"ONDAVOX_SETTINGS_DIR=" + dir + "/settings", "ONDAVOX_WEB_BASE=" + web,
                              "ONDAVOX_IAX2_HOST=" + iax, "QTWEBENGINE_DISABLE_SANDBOX=1"},
                             dir + "/out.log");
    Clock::time_point shown;
    if (!waitForWindow(display, "Ondavox", 60000, &shown)) {
        std::fprintf(stderr, "no main window within 60 s\n");
        stop(pid);
        stop(server);
        return 1;
    }
    // The phonebook, every photo, the history and the balance have arrived
    // once the photo requests stop and the first balance is served.
    const std::string log = dir + "/devserver.log";
    int photos = -1;
    auto settled = Clock::now();
    for (int i = 0; i < 600; ++i) {
        const int now = countLines(log, "POST /Phonebook/GetContactPhoto.html 200");
        if (now != photos) {
            photos = now;
            settled = Clock::now();
        }
        if (photos > 0 && countLines(log, "GET /Webservices/contacts.php 200") > 0
            && countLines(log, "POST /History/PlacedCallsDataAPI.html 200") > 0
            && countLines(log, "POST /Credit/GetCredit.html 200") > 0
            && Clock::now() - settled > std::chrono::seconds(2))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const double loadedMs = std::chrono::duration<double, std::milli>(settled - start).count();
    std::printf("  main window after %.0f ms, phonebook with %d photos loaded after %.0f ms\n",
                std::chrono::duration<double, std::milli>(shown - start).count(), photos, loadedMs);
    // Settled for a few seconds of credit polling.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long rss = statusKb(pid, "VmRSS");
    const long hwm = statusKb(pid, "VmHWM");
    std::printf("  VmRSS %.1f MB, VmHWM %.1f MB (RssAnon %.1f MB, RssFile %.1f MB, RssShmem %.1f MB)\n",
                rss / 1024.0, hwm / 1024.0, statusKb(pid, "RssAnon") / 1024.0, statusKb(pid, "RssFile") / 1024.0,
                statusKb(pid, "RssShmem") / 1024.0);
    std::printf("  largest resident mappings:\n");
    const auto mappings = residentByMapping(pid);
    for (std::size_t i = 0; i < mappings.size() && i < 12; ++i)
        std::printf("    %8.1f MB  %s\n", mappings[i].first / 1024.0, mappings[i].second.c_str());
    stop(pid);
    stop(server);
    std::system(("rm -rf " + dir).c_str());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const std::string program = binary("ONDAVOX_BENCH_PROGRAM", ONDAVOX_PROGRAM);
    const std::string devserver = binary("ONDAVOX_BENCH_DEVSERVER", ONDAVOX_DEVSERVER);
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X display: run under xvfb-run -a\n");
        return 2;
    }
    // Every top-level window's mapping is reported to us.
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    std::printf("program: %s\n", program.c_str());
    int result = launchToLogin(display, program, runs);
    if (result == 0)
        result = memoryAfterLogin(display, program, devserver);
    XCloseDisplay(display);
    return result;
}
