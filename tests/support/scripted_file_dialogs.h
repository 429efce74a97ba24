// File dialogs that answer from a queue given in advance and record what was asked, so tests
// drive the choosing of files without a desktop.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_dialogs.h"

namespace kf::platform {

class ScriptedFileDialogs : public FileDialogs {
  public:
    struct Request {
        enum Kind { kOpen, kSave, kFolder } kind;
        std::string title;
        std::string start;
        std::vector<FileType> types;
    };

    // Queues the next answer; nothing means "cancelled". An empty queue also cancels.
    void pushAnswer(std::optional<std::string> answer) { answers_.push_back(std::move(answer)); }
    const std::vector<Request>& requests() const { return requests_; }

    std::optional<std::string> openFile(const std::string& title, const std::string& startPath,
                                        const std::vector<FileType>& types) override {
        return answer({Request::kOpen, title, startPath, types});
    }
    std::optional<std::string> saveFile(const std::string& title, const std::string& startPath,
                                        const std::vector<FileType>& types) override {
        return answer({Request::kSave, title, startPath, types});
    }
    std::optional<std::string> chooseFolder(const std::string& title,
                                            const std::string& startFolder) override {
        return answer({Request::kFolder, title, startFolder, {}});
    }

  private:
    std::optional<std::string> answer(Request request) {
        requests_.push_back(std::move(request));
        if (answers_.empty()) return std::nullopt;
        std::optional<std::string> next = std::move(answers_.front());
        answers_.pop_front();
        return next;
    }

    std::deque<std::optional<std::string>> answers_;
    std::vector<Request> requests_;
};

}  // namespace kf::platform
