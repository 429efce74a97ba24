#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace kf::platform {

void* loadLibrary(const std::string& path, std::string& error) {
    // A relative name without a slash would make dlopen search the library path instead of
    // opening the file named.
    const std::string openPath = path.find('/') == std::string::npos ? "./" + path : path;
    dlerror();
    void* library = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        error = why ? why : "unknown dynamic loader error";
    }
    return library;
}

void* findSymbol(void* library, const char* name) {
    return dlsym(library, name);
}

void unloadLibrary(void* library) {
    dlclose(library);
}

}  // namespace kf::platform
