// What the editor may ask of the plug-in instance that owns it, one port per role: the
// parameters, MIDI learn, presets, the sampler's sample, the on-screen keyboard and the page.
// The editor sees these and nothing else of the instance (not its engine, not the plug-in
// interface), and each view is handed only the port it uses, so it can be driven and tested
// through that alone. Every read is safe while the audio thread and the host change the
// values: the editor polls them at each idle, on its own thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/sample_extent.h"
#include "editor/overlay_page.h"
#include "platform/file_dialogs.h"

namespace kf::editor {

// The level of each of the vocoder's 32 analysis bands, linear (1 about full scale).
using BandLevels = std::array<float, 32>;

// The keyboard's lowest note when an instance starts: keys 36 … 83.
inline constexpr float kInitialKeyboardBase = 36.0f;

// A file dialog a view asks to be run; the instance says what it is for and where it starts.
struct DialogRequest {
    platform::DialogKind kind = platform::DialogKind::kOpen;
    std::string title;
    std::string start;
    std::vector<platform::FileType> types;
};

class ParameterPort {
  public:
    virtual ~ParameterPort() = default;
    // The normalised value of a parameter or internal control, by tag (0..kMaxTag), as
    // stored: a host may have set it outside 0..1.
    virtual float parameterValue(int32_t tag) const = 0;
    // The stored integer choice of a menu or button parameter (its value scaled and truncated).
    virtual int32_t choice(int32_t tag) const = 0;
    // The value a control returns to on reset: what it held once the default preset loaded.
    virtual float defaultValue(int32_t tag) const = 0;
    // Sets a value through the parameter model, as a host or a program would, by tag.
    virtual void setParameter(int32_t tag, float value) = 0;
    // The same for a host parameter, telling the host so it can record automation;
    // beginEdit / endEdit bracket a gesture.
    virtual void setParameterAutomated(int32_t tag, float value) = 0;
    virtual void beginEdit(int32_t tag) = 0;
    virtual void endEdit(int32_t tag) = 0;
    // For readouts: the sample rate in Hz, and an effect's own text for an effect knob's
    // working value (false, nothing written, where the effect has none). `text` holds 32 bytes.
    virtual float sampleRate() const = 0;
    virtual bool effectText(int32_t tag, float working, char* text) const = 0;
};

// MIDI learn from the panel.
class LearnPort {
  public:
    virtual ~LearnPort() = default;
    // The tag armed for MIDI learn, or -1.
    virtual int32_t learnTarget() const = 0;
    // The next controller (or channel pressure) moved drives `tag`; -1 disarms.
    virtual void armLearn(int32_t tag) = 0;
    // clearLearn takes the tag off every controller, and assignController makes `controller`
    // (0..127) drive the tag alone; both keep the audio thread out of the maps meanwhile, and
    // when it stays busy they change nothing, tell the user and answer false.
    virtual bool clearLearn(int32_t tag) = 0;
    virtual bool assignController(int32_t tag, int controller, int16_t aux) = 0;
    // The name of MIDI controller 0..127 ("" for any other number).
    virtual const char* controllerName(int controller) const = 0;
};

// What the preset menu lists, the dialogs it runs and what it hands their answers to. Safe
// while a host restores a state or renames the program from another thread. None of these
// opens a dialog.
class PresetPort {
  public:
    struct PresetNode {
        std::string name;  // the title shown
        std::string path;
        bool isFolder = false;
        std::vector<PresetNode> children;  // a folder's own listing
    };
    enum class PresetDialog : uint8_t { kChooseFolder, kSave, kLoad };

    virtual ~PresetPort() = default;
    // The folder presets are listed and loaded from.
    virtual std::string presetFolder() const = 0;
    // The preset files and subfolders of `folder`, in menu order; subfolders hold their own
    // listing down to `depth` levels below `folder` (deeper ones are left out).
    virtual std::vector<PresetNode> listPresets(const std::string& folder, int depth) const = 0;
    // The dialog whose answer the matching operation below takes.
    virtual DialogRequest presetDialog(PresetDialog which) const = 0;
    // Loads a preset file; the program name changes only when the state was accepted. The
    // user is told why a file was refused.
    virtual bool loadPresetFile(const std::string& path) = 0;
    // Saves the state under the name the save dialog answered (the preset extension added when
    // missing); the user is told why an existing file was not replaced.
    virtual bool savePresetFile(const std::string& path) = 0;
    virtual void setPresetFolder(const std::string& folder) = 0;
    virtual std::string currentProgramName() const = 0;
};

// The sampler's sample: the sample view and its name plate. Markers, play position, frame
// count and generation are atomics, safe to poll at each idle; the overview and the name are
// taken under the sample's lock (never the audio thread's), so call them only when the
// generation moved or the view changed.
class SamplePort {
  public:
    virtual ~SamplePort() = default;
    // Changes whenever the sample's audio is replaced (a load, a state, a clear).
    virtual uint32_t sampleGeneration() const = 0;
    virtual int32_t sampleFrames() const = 0;
    virtual bool sampleIsStereo() const = 0;
    // The sample's display name, and the file it was loaded from; "" without a sample.
    virtual std::string sampleName() const = 0;
    virtual std::string samplePath() const = 0;
    // Lowest and highest value of channel 0 or 1 in each of `columns` equal slices of
    // frames [first, first + count); empty when the range is not inside the sample.
    virtual std::vector<SampleExtent> sampleOverview(int channel, int32_t first, int32_t count,
                                                     int32_t columns) const = 0;
    virtual int32_t sampleStartMarker() const = 0;
    virtual int32_t sampleEndMarker() const = 0;
    // Where playback is, in frames; negative before anything played.
    virtual float samplePlayPosition() const = 0;
    // Moves the start or end marker to the first rising zero crossing at or after frame
    // (start below end); false when there is none.
    virtual bool snapSampleMarker(bool start, int32_t frame) = 0;
    // Loads a file as the sample, spanning all of it, and makes its folder the one the sample
    // dialog starts in; tells the user when it cannot.
    virtual bool loadSampleFile(const std::string& path) = 0;
    // The open-file dialog for samples, and the folder dialog of the sample-folder menu.
    virtual DialogRequest sampleFileDialog() const = 0;
    virtual DialogRequest sampleFolderDialog() const = 0;
    // The folder the sample-folder menu lists, and remembering a newly chosen one.
    virtual std::string sampleFolder() const = 0;
    virtual void setSampleFolder(const std::string& folder) = 0;
};

// The on-screen keyboard.
class KeyboardPort {
  public:
    virtual ~KeyboardPort() = default;
    // Word w of the held-key mask has a bit for each of the notes 32w … 32w + 31 that
    // something holds (host MIDI, the keyboard, a latch).
    virtual uint32_t heldKeys(int32_t word) const = 0;
    // Whether `note` sounds as far as the editor can tell: what the keyboard last sent for it
    // while the audio thread has not handled that yet, else the held-key mask.
    virtual bool keyHeld(int32_t note) const = 0;
    // Notes for the audio thread's next block; false when the note-on was refused.
    virtual bool postNoteOn(int32_t note, int32_t velocity) = 0;
    virtual bool postNoteOff(int32_t note, int32_t velocity) = 0;
    // The keyboard's lowest note; kept by the instance so it outlives the editor's window.
    virtual float keyboardBase() const = 0;
    virtual void setKeyboardBase(float note) = 0;
};

// The page as a whole: what to redraw, the level lamps, the overlay, the manual and what the
// instance has to tell the user.
class PagePort {
  public:
    virtual ~PagePort() = default;
    // True once after the parameters changed in a way the editor must show (a choice, a load);
    // the editor asks at each idle while it is open.
    virtual bool takeRefresh() = 0;
    // Level meter 0..3 (output left, analysis input, synthesis input, output right), 0..1.
    virtual float meter(int32_t index) const = 0;
    // The band levels the audio thread published since the last call (true); false, with
    // `levels` untouched, when it published none (no audio runs). One reader only: the editor.
    virtual bool takeBandLevels(BandLevels& levels) = 0;
    // The overlay page's state, kept by the instance so it outlives the window.
    virtual Overlay overlay() const = 0;
    virtual void setOverlay(Overlay state) = 0;
    // Shows the user manual in the desktop's viewer.
    virtual void openManual() = 0;
    // While the page is shown, a message for the user that the desktop cannot show (no
    // dialog program) waits for the page instead of going where nobody reads it.
    virtual void setPageShown(bool shown) = 0;
    // The latest such message, once; "" when there is none.
    virtual std::string takeMessage() = 0;
};

// The ports of one instance, handed to its editor.
struct EditorPorts {
    ParameterPort& parameters;
    LearnPort& learn;
    PresetPort& presets;
    SamplePort& sample;
    KeyboardPort& keyboard;
    PagePort& page;
};

}  // namespace kf::editor
