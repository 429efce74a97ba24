// Small path rules shared by presets, samples and the settings: titles of files and
// folders that go on.
#pragma once

#include <string>
#include <string_view>

namespace kf {

// The extension of preset files (without its dot).
inline constexpr const char* kPresetExtension = "kfn";

// The file's title: what follows the last separator ('/' or '\'), without its last dot and
// what follows it. "/a/x.y.kfn" and "C:\p\x.y/a.b.kfn" give "x.y" and "a.b".
std::string pathTitle(std::string_view path);

// The path with the platform's separator ('/' on Linux, '\' on Windows) appended unless it
// is empty or already ends in one of the two.
std::string withTrailingSeparator(std::string_view path);

// The path with "." + extension appended unless it already ends so (or extension is empty):
// what a save dialog's answer becomes when the user typed a bare name.
std::string withExtension(std::string_view path, std::string_view extension);

// The path with "." + extension appended when its file name has no extension at all (a dot
// after its first character): "My Choir" gives "My Choir.kfn", "take.bin" stays as it is.
std::string withDefaultExtension(std::string_view path, std::string_view extension);

}  // namespace kf
