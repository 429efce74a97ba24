#include "plugin/midi_queue.h"

namespace kf {

bool MidiQueue::insert(int32_t frames, int32_t kind, int32_t data1, int32_t data2) {
    if (full()) return false;
    if (events_.size() == events_.capacity()) {
        // Handled events still occupy the front: reclaim them instead of growing.
        events_.erase(events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    int32_t d = frames;
    std::size_t i = head_;
    while (i < events_.size() && d >= events_[i].delta) {
        d -= events_[i].delta;
        ++i;
    }
    if (i < events_.size()) events_[i].delta -= d;
    events_.insert(events_.begin() + static_cast<std::ptrdiff_t>(i), MidiQueueEvent{d, kind, data1, data2});
    return true;
}

bool MidiQueue::cancelNoteOn(int32_t note) {
    for (std::size_t i = head_; i < events_.size(); ++i) {
        if (events_[i].kind == kMidiNoteOn && events_[i].data1 == note) {
            events_[i].kind = kMidiCancelled;
            return true;
        }
    }
    return false;
}

}  // namespace kf
