// A private X server for the editor tests, and the pictures captured from it. Xvfb picks a
// free display number and reports it through a pipe (-displayfd), listens on no TCP port,
// and runs under `timeout`, so a test that crashes cannot leave it running for more than
// two minutes.
#pragma once

#include <cairo.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace kf::test {

inline bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        if (std::filesystem::exists(std::filesystem::path(dirs.substr(start, end - start)) / program))
            return true;
        start = end + 1;
    }
    return false;
}

class Xvfb {
  public:
    static bool installed() { return onPath("Xvfb") && onPath("timeout"); }

    // Starts the server and points $DISPLAY at it; display() stays empty on failure.
    Xvfb() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            fcntl(fds[1], F_SETFD, 0);  // the one descriptor Xvfb inherits
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            const std::string fd = std::to_string(fds[1]);
            // -noreset: an X server resets when its last client leaves, and a test that
            // connects again at that moment (a second window) has its connection dropped.
            execlp("timeout", "timeout", "120", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten",
                   "tcp", "-screen", "0", "1280x1024x24", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (pid_ > 0 && poll(&p, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty() || c != '\n') return;
        display_ = ":" + number;
        setenv("DISPLAY", display_.c_str(), 1);
    }
    ~Xvfb() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);  // timeout passes it on to the server
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

// A PNG read back as 0xRRGGBB pixels, row by row (empty when it cannot be read).
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

inline Picture readPicture(const std::string& path) {
    Picture p;
    cairo_surface_t* image = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(image) == CAIRO_STATUS_SUCCESS) {
        p.width = cairo_image_surface_get_width(image);
        p.height = cairo_image_surface_get_height(image);
        const unsigned char* data = cairo_image_surface_get_data(image);
        const int stride = cairo_image_surface_get_stride(image);
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                p.pixels.push_back(reinterpret_cast<const uint32_t*>(data + y * stride)[x] & 0xFFFFFFu);
    }
    cairo_surface_destroy(image);
    return p;
}

// How many pixels of two equally sized pictures differ by more than `levels` in a channel.
inline std::size_t differingPixels(const Picture& a, const Picture& b, int levels) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8) {
            const int ca = static_cast<int>(a.pixels[i] >> shift & 0xFF),
                      cb = static_cast<int>(b.pixels[i] >> shift & 0xFF);
            if (std::abs(ca - cb) > levels) {
                ++n;
                break;
            }
        }
    return n;
}

inline std::size_t distinctColours(const Picture& p) {
    return std::set<uint32_t>(p.pixels.begin(), p.pixels.end()).size();
}

}  // namespace kf::test
