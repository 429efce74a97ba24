// The instance's side of the editor interface: what the editor may read and change.
#pragma once

#include <memory>

#include "editor/editor_host.h"
#include "platform/file_dialogs.h"
#include "vst/audioeffect.h"

namespace kf {

class TMUniClient;

class EditorLink final : public editor::EditorHost {
  public:
    explicit EditorLink(TMUniClient& instance) : instance_(instance) {}

    // The editor the instance attaches at construction. Its file dialogs answer from
    // `dialogs` when given (tests), else from the desktop's dialog program.
    std::unique_ptr<vst::AEffEditor> createEditor(platform::FileDialogs* dialogs);

    float parameterValue(int32_t tag) const override;
    void setParameter(int32_t tag, float value) override;
    ViewGroupMask viewGroups() const override;
    bool takeRefresh() override;

  private:
    TMUniClient& instance_;
};

}  // namespace kf
