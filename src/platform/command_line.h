// A program's command-line arguments as UTF-8, the text every path in the program is held
// in. Linux hands them over as they are; Windows hands main() the ANSI code page's reading of
// them, which loses a file named "Stimme-ä.wav", so its form reads the wide command line.
#pragma once

#include <string>
#include <vector>

namespace kf::platform {

// argv[0] included; argc and argv are main()'s.
std::vector<std::string> commandLineArguments(int argc, char** argv);

}  // namespace kf::platform
