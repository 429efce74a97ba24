#include "editor/readouts.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "common/numeric.h"
#include "common/parameter_table.h"

namespace kf::editor {

namespace {

// What a kind of readout is handed: the clamped value, the working value the parameter's law
// makes of it, and where to write.
struct Shown {
    float v;
    float working;
    int32_t parameter;
    const ParameterPort& parameters;
    char* text;
    std::size_t size;

    void print(const char* format, double x) const { std::snprintf(text, size, format, x); }
    // Levels near silence read as silence: "-160.0 db" neither fits a plate nor helps anyone.
    void printDecibels(double db) const {
        if (db < -99.95)
            std::snprintf(text, size, "-inf db");
        else
            print("%.1f db", db);
    }
};

using Display = void (*)(const Shown&);

// Band spacing 0.1..2 as 5..100 %.
void spacingPercent(const Shown& s) {
    s.print("%.0f%%", 50.0 * s.working);
}

// The shift is added to every band's filter coefficient. A coefficient c tunes a band to
// about c × 44100 / 2π Hz at any sample rate (closely so while c is small), so the shift
// moves every band by the same number of Hz: a musician's frequency shift.
void shiftHertz(const Shown& s) {
    const double hz = std::round(s.working * 44100.0 / (2.0 * std::numbers::pi));
    s.print(hz == 0.0 ? "%.0f Hz" : "%+.0f Hz", hz == 0.0 ? 0.0 : hz);
}

// Band release 120..10 ms as a response amount 0..110.
void responseAmount(const Shown& s) {
    s.print("%.0f", 120.0 - s.working);
}

// The working value is a linear gain.
void gainDecibels(const Shown& s) {
    s.printDecibels(decibels(s.working));
}

// The gate compares against the fourth power of its threshold.
void gateDecibels(const Shown& s) {
    const float g = s.working;
    s.printDecibels(decibels(g * g * g * g));
}

// The working value is in dB already (the EQ bands).
void workingDecibels(const Shown& s) {
    s.print("%.1f db", s.working);
}

// A compression ratio shown on a 0..12 scale.
void ratioDecibels(const Shown& s) {
    s.print("%.1f db", 12.0 * s.v);
}

// Detector times.
void milliseconds(const Shown& s) {
    s.print("%.0f ms", s.working);
}

void valuePercent(const Shown& s) {
    s.print("%.0f%%", 100.0 * s.v);
}

// Amounts whose law scales the value (resonance, phaser feedback, pulse width).
void workingPercent(const Shown& s) {
    s.print("%.0f%%", 100.0 * s.working);
}

void semitones(const Shown& s) {
    s.print("%+.1f st", s.working);
}

// The filter coefficient c acts as c⁴ × half the sample rate.
void cutoffKilohertz(const Shown& s) {
    const double c = s.working;
    formatKilohertz(c * c * c * c * 0.5 * s.parameters.sampleRate(), s.text, s.size);
}

// The morph position between the five waves, 0..4.
void wavePosition(const Shown& s) {
    s.print("%.2f", s.working);
}

// The lo-fi depth as 32..0.
void bitDepth(const Shown& s) {
    s.print("%.0f", 64.0 * (0.5 - 0.5 * s.v));
}

// The effect's own words for the value (a note length, a fraction of a bar, a rate). The
// note-length table writes its fractions with a backslash or a doubled slash ("1\4",
// "3//4 bar"); a musician reads "1/4" and "3/4 bar".
void effectText(const Shown& s) {
    char own[32];
    if (!s.parameters.effectText(s.parameter, s.working, own)) return valuePercent(s);
    std::size_t out = 0;
    for (const char* p = own; *p != '\0' && out + 1 < s.size; ++p) {
        const char c = *p == '\\' ? '/' : *p;
        if (c == '/' && out > 0 && s.text[out - 1] == '/') continue;
        s.text[out++] = c;
    }
    s.text[out] = '\0';
}

// The text for a kind of readout.
void show(display::Kind kind, const Shown& s) {
    switch (kind) {
        case display::none:
            return;
        case display::percent:
            return valuePercent(s);
        case display::scaledPercent:
            return workingPercent(s);
        case display::spacingPercent:
            return spacingPercent(s);
        case display::shiftHertz:
            return shiftHertz(s);
        case display::response:
            return responseAmount(s);
        case display::gainDecibels:
            return gainDecibels(s);
        case display::gateDecibels:
            return gateDecibels(s);
        case display::decibels:
            return workingDecibels(s);
        case display::ratioDecibels:
            return ratioDecibels(s);
        case display::milliseconds:
            return milliseconds(s);
        case display::semitones:
            return semitones(s);
        case display::cutoffKilohertz:
            return cutoffKilohertz(s);
        case display::wavePosition:
            return wavePosition(s);
        case display::bitDepth:
            return bitDepth(s);
        case display::effectText:
            return effectText(s);
    }
}

}  // namespace

void readoutText(int32_t parameter, float v, const ParameterPort& parameters, char* text, std::size_t size) {
    if (size == 0) return;
    text[0] = '\0';
    const ParameterRow* row = parameterRow(parameter);
    if (!row) return;
    const float clamped = clampUnit(v);
    show(row->readout, {clamped, row->law(clamped), parameter, parameters, text, size});
}

}  // namespace kf::editor
