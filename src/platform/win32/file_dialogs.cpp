// The common open and save dialogs and the shell's folder dialog; the non-blocking form runs
// them on a thread of their own.
#include <windows.h>
// The headers below need the one above first.
#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>
#include <thread>

#include "platform/async_file_dialogs.h"
#include "platform/file_dialogs.h"
#include "platform/file_system.h"
#include "platform/win32/wide_text.h"

namespace kf::platform {

namespace {

// Room for a long path; the dialogs write the chosen name here.
constexpr std::size_t kNameChars = 32768;

// COM for the calling thread, for as long as the object lives (when it was not there yet).
class ComScope {
  public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

  private:
    HRESULT result_;
};

// "Audio file (*.wav;*.aif)", "*.wav;*.aif", ... as the dialogs want them: pairs of
// zero-ended texts, closed by one more zero. The dialogs match patterns in any case.
std::wstring filterOf(const std::vector<FileType>& types) {
    std::wstring filter;
    for (const FileType& type : types) {
        std::wstring pattern;
        for (const std::string& extension : type.extensions)
            pattern += (pattern.empty() ? L"*." : L";*.") + widen(extension);
        filter += widen(type.name) + L" (" + pattern + L")";
        filter += L'\0';
        filter += pattern;
        filter += L'\0';
    }
    filter += L'\0';
    return filter;
}

std::optional<std::string> fileDialog(DialogKind kind, const std::string& title, const std::string& start,
                                      const std::vector<FileType>& types) {
    const ComScope com;
    std::wstring name(kNameChars, L'\0');
    std::wstring folder;
    // A folder to start in, or a file whose folder to start in with its name filled in.
    if (isFolder(start)) {
        folder = widen(start);
    } else if (!start.empty()) {
        const std::wstring path = widen(start);
        const std::size_t cut = path.find_last_of(L"\\/");
        folder = cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
        const std::wstring file = cut == std::wstring::npos ? path : path.substr(cut + 1);
        file.copy(name.data(), std::min(file.size(), kNameChars - 1));
    }
    const std::wstring wideTitle = widen(title);
    const std::wstring filter = filterOf(types);
    const std::wstring extension = types.empty() || types.front().extensions.empty()
                                       ? std::wstring()
                                       : widen(types.front().extensions.front());

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.lpstrFilter = types.empty() ? nullptr : filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrTitle = wideTitle.c_str();
    // The host's current folder is left alone: a dialog that moved it would change what
    // the host's own relative paths mean.
    dialog.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    bool chosen = false;
    if (kind == DialogKind::kSave) {
        // A bare name gets the type's extension, and an existing file is replaced only
        // after the user confirmed it.
        dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
        dialog.Flags |= OFN_OVERWRITEPROMPT;
        chosen = GetSaveFileNameW(&dialog);
    } else {
        dialog.Flags |= OFN_FILEMUSTEXIST;
        chosen = GetOpenFileNameW(&dialog);
    }
    if (!chosen) return std::nullopt;
    return narrow(name.c_str());
}

std::optional<std::string> folderDialog(const std::string& title, const std::string& start) {
    const ComScope com;
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                reinterpret_cast<void**>(&dialog))))
        return std::nullopt;
    std::optional<std::string> result;
    DWORD options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_NOCHANGEDIR);
    dialog->SetTitle(widen(title).c_str());
    IShellItem* startItem = nullptr;
    if (isFolder(start) &&
        SUCCEEDED(SHCreateItemFromParsingName(widen(start).c_str(), nullptr, IID_IShellItem,
                                              reinterpret_cast<void**>(&startItem)))) {
        dialog->SetFolder(startItem);
        startItem->Release();
    }
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->Show(nullptr)) && SUCCEEDED(dialog->GetResult(&item))) {
        wchar_t* path = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) result = narrow(path);
        CoTaskMemFree(path);
        item->Release();
    }
    dialog->Release();
    return result;
}

std::optional<std::string> runDialog(DialogKind kind, const std::string& title, const std::string& start,
                                     const std::vector<FileType>& types) {
    return kind == DialogKind::kFolder ? folderDialog(title, start) : fileDialog(kind, title, start, types);
}

class CommonFileDialogs : public FileDialogs {
  public:
    std::optional<std::string> openFile(const std::string& title, const std::string& startPath,
                                        const std::vector<FileType>& types) override {
        return runDialog(DialogKind::kOpen, title, startPath, types);
    }
    std::optional<std::string> saveFile(const std::string& title, const std::string& startPath,
                                        const std::vector<FileType>& types) override {
        return runDialog(DialogKind::kSave, title, startPath, types);
    }
    std::optional<std::string> chooseFolder(const std::string& title,
                                            const std::string& startFolder) override {
        return runDialog(DialogKind::kFolder, title, startFolder, {});
    }
};

// The dialog runs modally on its own thread; poll() hands its answer over on the caller's.
class ThreadedFileDialogs : public AsyncFileDialogs {
  public:
    ~ThreadedFileDialogs() override { cancel(); }

    DialogStart request(DialogKind kind, const std::string& title, const std::string& start,
                        const std::vector<FileType>& types, Result done) override {
        if (busy()) return DialogStart::kBusy;
        if (!done) return DialogStart::kCouldNotRun;
        finished_.store(false, std::memory_order_relaxed);
        answer_.reset();
        done_ = std::move(done);
        worker_ = std::thread([this, kind, title, start, types] {
            threadId_.store(GetCurrentThreadId(), std::memory_order_release);
            answer_ = runDialog(kind, title, start, types);
            finished_.store(true, std::memory_order_release);
        });
        return DialogStart::kOpened;
    }

    void poll() override {
        if (!busy() || !finished_.load(std::memory_order_acquire)) return;
        worker_.join();
        // Cleared before the call, so the callback may ask for the next dialog.
        Result done = std::move(done_);
        done_ = nullptr;
        done(std::move(answer_));
    }

    void cancel() override {
        if (!worker_.joinable()) return;
        // Closes the dialog (and any box it opened) as its Cancel button would, then waits
        // for the thread that ran it.
        while (!finished_.load(std::memory_order_acquire)) {
            EnumThreadWindows(threadId_.load(std::memory_order_acquire), closeWindow, 0);
            Sleep(10);
        }
        worker_.join();
        done_ = nullptr;
    }

    bool busy() const override { return worker_.joinable(); }

  private:
    static BOOL CALLBACK closeWindow(HWND window, LPARAM) {
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }

    std::thread worker_;
    std::atomic<DWORD> threadId_{0};
    std::atomic<bool> finished_{false};
    std::optional<std::string> answer_;  // written by the worker before finished_
    Result done_;
};

}  // namespace

std::unique_ptr<FileDialogs> makeDesktopFileDialogs() {
    return std::make_unique<CommonFileDialogs>();
}

std::unique_ptr<AsyncFileDialogs> makeDesktopAsyncFileDialogs() {
    return std::make_unique<ThreadedFileDialogs>();
}

}  // namespace kf::platform
