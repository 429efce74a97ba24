// Blocking dialogs answered at the next poll(): the same on every platform.
#include <utility>

#include "platform/async_file_dialogs.h"

namespace kf::platform {

DialogStart PolledFileDialogs::request(DialogKind kind, const std::string& title, const std::string& start,
                                       const std::vector<FileType>& types, Result done) {
    if (busy()) return DialogStart::kBusy;
    if (!done) return DialogStart::kCouldNotRun;
    kind_ = kind;
    title_ = title;
    start_ = start;
    types_ = types;
    done_ = std::move(done);
    return DialogStart::kOpened;
}

void PolledFileDialogs::poll() {
    if (!busy()) return;
    Result done = std::move(done_);
    done_ = nullptr;
    switch (kind_) {
        case DialogKind::kOpen:
            return done(dialogs_.openFile(title_, start_, types_));
        case DialogKind::kSave:
            return done(dialogs_.saveFile(title_, start_, types_));
        case DialogKind::kFolder:
            return done(dialogs_.chooseFolder(title_, start_));
    }
}

}  // namespace kf::platform
