// UTF-8, the program's text, to and from UTF-16, the text of the Windows calls.
#pragma once

#include <string>
#include <string_view>

namespace kf::platform {

// Invalid UTF-8 bytes become U+FFFD; a path holding one then names no file, as it should.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// The text of a Windows error code (GetLastError), without the trailing line end.
std::string systemErrorText(unsigned long code);

}  // namespace kf::platform
