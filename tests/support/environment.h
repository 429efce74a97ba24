// Environment set-ups shared by the test folders: a variable set for one scope and a private
// X server.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace kf::test {

// Sets an environment variable (or removes it, for null) for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name), had_(std::getenv(name) != nullptr) {
        if (had_) old_ = std::getenv(name);
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { had_ ? ::setenv(name_, old_.c_str(), 1) : ::unsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    bool had_;
    std::string old_;
};

// An Xvfb of our own on the first free display; killed with the object (and by `timeout`
// and the parent-death signal should the test process die first). name() stays empty when
// Xvfb is missing or did not start.
class VirtualDisplay {
  public:
    VirtualDisplay() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::close(fds[0]);
            const int null = ::open("/dev/null", O_WRONLY);  // the server's chatter is noise here
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            const std::string fd = std::to_string(fds[1]);
            // -noreset: an X server resets when its last client leaves, and a test that connects
            // again at that moment (a second window) would have its connection dropped.
            ::execlp("timeout", "timeout", "120", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0",
                     "1280x1024x24", "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // The server writes "N\n" once it listens, not necessarily in one piece.
        std::string text;
        while (pid_ > 0 && text.find('\n') == std::string::npos) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 20000) != 1) break;
            char buf[16];
            const ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, static_cast<std::size_t>(n));
        }
        if (const auto end = text.find('\n'); end != std::string::npos && end > 0)
            name_ = ":" + text.substr(0, end);
        ::close(fds[0]);
    }
    ~VirtualDisplay() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;
    const std::string& name() const { return name_; }

  private:
    pid_t pid_ = -1;
    std::string name_;
};

}  // namespace kf::test
