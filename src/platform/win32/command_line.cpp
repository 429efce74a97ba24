#include "platform/command_line.h"

#include <windows.h>
// The header below needs the one above first.
#include <shellapi.h>

#include "platform/win32/wide_text.h"

namespace kf::platform {

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(narrow(wide[i]));
    LocalFree(wide);
    return arguments;
}

}  // namespace kf::platform
