// Desktop services that stand in for the shell: where our library lives, and opening
// a document with the user's preferred program.
#pragma once

#include <string>

namespace kf::platform {

// The folder (with a trailing separator) of the shared object or DLL that contains this
// code, or an empty string when it cannot be found.
std::string folderOfThisModule();

class DocumentOpener {
  public:
    virtual ~DocumentOpener() = default;
    // Starts the viewer for path without waiting for it; false if it could not start.
    virtual bool open(const std::string& path) = 0;
};

// Opens documents with the desktop's program for them: xdg-open on Linux, the shell's
// "open" on Windows.
class DesktopDocumentOpener : public DocumentOpener {
  public:
    bool open(const std::string& path) override;
};

}  // namespace kf::platform
