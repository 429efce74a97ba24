// Message boxes on Windows, each on a thread of its own so that the caller (a loader on the
// host's thread, the editor) gets its answer at once instead of waiting for the user.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "platform/message_service.h"
#include "platform/win32/wide_text.h"

namespace kf::platform {

namespace {

constexpr const wchar_t* kTitle = L"Kestrafone";

struct Box {
    std::wstring text;
    std::shared_ptr<std::atomic<bool>> open;  // shared with the service, which may go first
    HMODULE module = nullptr;                 // this DLL, held while the box is up
};

DWORD WINAPI showBox(void* argument) {
    std::unique_ptr<Box> box(static_cast<Box*>(argument));
    // No owner: the desktop owns it, as the host's windows belong to another thread.
    MessageBoxW(nullptr, box->text.c_str(), kTitle, MB_OK | MB_SETFOREGROUND);
    box->open->store(false, std::memory_order_release);
    HMODULE module = box->module;
    box.reset();
    // The host may have unloaded the plug-in while the box was up; the reference taken for
    // this thread kept the code here, and is given back as the thread ends.
    FreeLibraryAndExitThread(module, 0);
}

class MessageBoxService : public MessageService {
  public:
    void showMessage(const char* text) override {
        if (!text) text = "";
        bool expected = false;
        if (!open_->compare_exchange_strong(expected, true, std::memory_order_acq_rel)) return;  // dropped
        auto box = std::make_unique<Box>();
        box->text = widen(std::string_view(text, strnlen(text, kMaxMessageChars - 1)));
        box->open = open_;
        // A reference on this module for the thread, released by the thread itself.
        if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&showBox),
                               &box->module)) {
            if (HANDLE thread = CreateThread(nullptr, 0, showBox, box.get(), 0, nullptr)) {
                box.release();
                CloseHandle(thread);
                return;
            }
            FreeLibrary(box->module);
        }
        open_->store(false, std::memory_order_release);
        fallback_.showMessage(text);
    }

  private:
    std::shared_ptr<std::atomic<bool>> open_ = std::make_shared<std::atomic<bool>>(false);
    StderrMessageService fallback_;
};

}  // namespace

std::unique_ptr<MessageService> makeDesktopMessageService() {
    return std::make_unique<MessageBoxService>();
}

}  // namespace kf::platform
