// A plug-in's shared library, loaded to find its entry point and unloaded with the object.
// This is all the host asks of the system's loader: plugin_library_posix.cpp gives it
// through dlopen, and another system's build gives the same shape through its own loader.
#pragma once

#include <memory>
#include <string>

namespace kf::host {

class PluginLibrary {
  public:
    // Loads the library at `path` (a file the caller has checked), resolving every symbol
    // now. Null with the loader's reason in `error` when it cannot be loaded.
    static std::unique_ptr<PluginLibrary> open(const std::string& path, std::string& error);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // The address the library exports under `name`, or null.
    void* symbol(const char* name) const;

  private:
    explicit PluginLibrary(void* handle) : handle_(handle) {}
    void* handle_;
};

}  // namespace kf::host
