// Loading a plug-in's library (a shared object on Linux, a DLL on Windows) and finding its
// entry point: what a host does with a plug-in. One implementation per platform.
#pragma once

#include <string>

namespace kf::platform {

// The loaded library, or null with the loader's reason in `error`. `path` is UTF-8 and
// names the file itself: a bare file name means the current folder, never a search.
void* loadLibrary(const std::string& path, std::string& error);
// The address of an exported symbol; null when there is none.
void* findSymbol(void* library, const char* name);
void unloadLibrary(void* library);

}  // namespace kf::platform
