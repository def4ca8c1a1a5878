// The real Asterisk as the engine's peer, and a capture of what passes
// between the two, read by tshark. Asterisk runs through asterisk_peer.sh
// (its own port, a fresh secret); a watchdog process stops it if the test
// process dies without doing so itself, so no server outlives its test.
#pragma once

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace interop {

inline std::string shellQuote(const std::string &s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a shell command; its standard output, and its exit status.
inline int runShell(const std::string &command, std::string *output = nullptr)
{
    std::FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        text.append(buf, n);
    const int status = ::pclose(pipe);
    if (output)
        *output = std::move(text);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string readFile(const std::string &path, std::size_t from = 0)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    in.seekg(static_cast<std::streamoff>(from));
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class AsteriskPeer {
public:
    static constexpr int kMissing = 77;

    // 0 when it runs; kMissing when there is no Asterisk to run; why says why not.
    // Without a user and secret it makes up its own subscriber.
    int up(const std::string &script, std::string *why, const std::string &user = {}, const std::string &secret = {})
    {
        script_ = script;
        char pattern[] = "/tmp/ondavox-asterisk-XXXXXX";
        if (!::mkdtemp(pattern)) {
            *why = "no temporary folder";
            return 1;
        }
        run_ = pattern;
        std::string out;
        std::string command = shellQuote(script_) + " up " + shellQuote(run_);
        if (!user.empty())
            command += " " + shellQuote(user) + " " + shellQuote(secret);
        const int rc = runShell(command + " 2>&1", &out);
        if (rc != 0) {
            *why = out;
            runShell("rm -rf " + shellQuote(run_));
            return rc;
        }
        std::istringstream env(readFile(run_ + "/peer.env"));
        std::string line;
        while (std::getline(env, line)) {
            const auto eq = line.find('=');
            if (eq != std::string::npos)
                settings_[line.substr(0, eq)] = line.substr(eq + 1);
        }
        port_ = std::atoi(settings_["IAX_PORT"].c_str());
        startWatchdog();
        return 0;
    }

    void down()
    {
        if (watchdogWrite_ < 0)
            return;
        ::close(watchdogWrite_); // the watchdog stops Asterisk
        watchdogWrite_ = -1;
        int status = 0;
        ::waitpid(watchdog_, &status, 0);
        if (!std::getenv("ONDAVOX_KEEP_ASTERISK_RUN"))
            runShell("rm -rf " + shellQuote(run_));
        else
            std::printf("Asterisk's files are kept in %s\n", run_.c_str());
    }

    std::string cli(const std::string &command) const
    {
        std::string out;
        runShell(shellQuote(script_) + " cli " + shellQuote(run_) + " " + shellQuote(command) + " 2>&1", &out);
        return out;
    }

    int port() const { return port_; }
    std::string user() const { return settings_.at("IAX_USER"); }
    std::string secret() const { return settings_.at("IAX_SECRET"); }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string dial(const std::string &number) const { return dialAs(user(), number); }
    // The same subscriber under the entry that requires AES-128 (iax.conf).
    std::string encryptedUser() const { return user() + "-aes"; }
    std::string dialEncrypted(const std::string &number) const { return dialAs(encryptedUser(), number); }
    std::string dialAs(const std::string &who, const std::string &number) const
    {
        return who + ":" + secret() + "@" + host() + "/" + number;
    }
    std::string runDir() const { return run_; }

    // Asterisk's full log (verbose, DTMF, notices, warnings) from an offset on.
    std::size_t logSize() const
    {
        struct stat st {};
        return ::stat((run_ + "/log/full").c_str(), &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
    }
    std::string logSince(std::size_t offset) const { return readFile(run_ + "/log/full", offset); }

private:
    void startWatchdog()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        watchdog_ = ::fork();
        if (watchdog_ == 0) {
            ::close(fds[1]);
            char c;
            while (::read(fds[0], &c, 1) != 0) {
            }
            ::execl("/bin/sh", "sh", script_.c_str(), "down", run_.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(fds[0]);
        watchdogWrite_ = fds[1];
    }

    std::string script_;
    std::string run_;
    std::map<std::string, std::string> settings_;
    int port_ = 0;
    pid_t watchdog_ = -1;
    int watchdogWrite_ = -1;
};

// dumpcap on the loopback interface, only the peer's port.
class Capture {
public:
    // False, with the reason, when this machine does not let us capture.
    bool start(const std::string &dumpcap, int port, const std::string &path, std::string *why)
    {
        path_ = path;
        if (dumpcap.empty() || dumpcap.find("NOTFOUND") != std::string::npos) {
            *why = "dumpcap is not installed";
            return false;
        }
        errors_ = path + ".err";
        pid_ = ::fork();
        if (pid_ == 0) {
            const int err = ::open(errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (err >= 0) {
                ::dup2(err, 1);
                ::dup2(err, 2);
            }
            const std::string filter = "udp port " + std::to_string(port);
            ::execl(dumpcap.c_str(), "dumpcap", "-q", "-i", "lo", "-f", filter.c_str(), "-w", path.c_str(),
                    static_cast<char *>(nullptr));
            ::_exit(127);
        }
        // dumpcap writes the file's header once the interface is open.
        for (int i = 0; i < 100; ++i) {
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0 && st.st_size > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                return true;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                *why = "dumpcap cannot capture here: " + readFile(errors_);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        stop();
        *why = "dumpcap did not start capturing";
        return false;
    }

    void stop()
    {
        if (pid_ <= 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the last datagrams
        ::kill(pid_, SIGINT);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

    ~Capture() { stop(); }

private:
    std::string path_;
    std::string errors_;
    pid_t pid_ = -1;
};

} // namespace interop
