#include "platform/shell.h"

#include <dlfcn.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>

extern char** environ;

namespace kf::platform {

std::string folderOfThisModule() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&folderOfThisModule), &info) == 0 || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool DesktopDocumentOpener::open(const std::string& path) {
    // Run "setsid xdg-open path" detached through a short-lived intermediate child, so the
    // viewer never becomes our zombie and the host is never blocked waiting for it.
    pid_t child = 0;
    char arg0[] = "/bin/sh";
    char arg1[] = "-c";
    char script[] = "xdg-open \"$0\" >/dev/null 2>&1 &";
    std::string target = path;
    char* argv[] = {arg0, arg1, script, target.data(), nullptr};
    if (posix_spawn(&child, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    waitpid(child, &status, 0);  // the shell exits at once; the viewer runs on its own
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace kf::platform
