// What the editor may ask of the plug-in instance that owns it. The editor sees parameters
// and a few named operations only, never the engine or the instance's other parts, so it
// can be driven (and tested) through this interface alone. Every read is safe while the
// audio thread and the host change the values: the editor polls them at each idle.
#pragma once

#include <cstdint>

namespace kf::editor {

// The keyboard's lowest note when an instance starts: keys 36 … 83.
inline constexpr float kInitialKeyboardBase = 36.0f;

class EditorHost {
  public:
    virtual ~EditorHost() = default;

    // The normalised value of a parameter or internal control, by tag (0..125), as stored:
    // a host may have set it outside 0..1.
    virtual float parameterValue(int32_t tag) const = 0;
    // The stored integer choice of a menu or button parameter (its value scaled and truncated).
    virtual int32_t choice(int32_t tag) const = 0;
    // The value a control returns to on reset: what it held once the default preset loaded.
    virtual float defaultValue(int32_t tag) const = 0;
    // Sets a value through the parameter model, as a host or a program would, by tag.
    virtual void setParameter(int32_t tag, float value) = 0;
    // The same for a host parameter (0..43), telling the host so it can record automation;
    // beginEdit / endEdit bracket a gesture.
    virtual void setParameterAutomated(int32_t tag, float value) = 0;
    virtual void beginEdit(int32_t tag) = 0;
    virtual void endEdit(int32_t tag) = 0;
    // Level meter 0..3 (output left, analysis input, synthesis input, output right), 0..1.
    virtual float meter(int32_t index) const = 0;
    // The tag armed for MIDI learn, or -1.
    virtual int32_t learnTarget() const = 0;
    // True once after the parameters or the groups changed in a way the editor must show;
    // the editor asks at each idle while it is open.
    virtual bool takeRefresh() = 0;

    // The on-screen keyboard. Word w of the held-key mask has a bit for each of the notes
    // 32w … 32w + 31 that something holds (host MIDI, the keyboard, a latch).
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

}  // namespace kf::editor
