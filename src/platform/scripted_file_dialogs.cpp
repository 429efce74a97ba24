// The dialogs tests script; no desktop involved, so they build on every platform.
#include "platform/file_dialogs.h"

namespace kf::platform {

std::optional<std::string> ScriptedFileDialogs::answer(Request request) {
    requests_.push_back(std::move(request));
    if (answers_.empty()) return std::nullopt;
    std::optional<std::string> next = std::move(answers_.front());
    answers_.pop_front();
    return next;
}

std::optional<std::string> ScriptedFileDialogs::openFile(const std::string& title,
                                                         const std::string& startPath,
                                                         const std::vector<FileType>& types) {
    return answer({Request::kOpen, title, startPath, types});
}

std::optional<std::string> ScriptedFileDialogs::saveFile(const std::string& title,
                                                         const std::string& startPath,
                                                         const std::vector<FileType>& types) {
    return answer({Request::kSave, title, startPath, types});
}

std::optional<std::string> ScriptedFileDialogs::chooseFolder(const std::string& title,
                                                             const std::string& startFolder) {
    return answer({Request::kFolder, title, startFolder, {}});
}

}  // namespace kf::platform
