"""Writes Kestrafone state chunks (the bytes of a preset file) from named settings.

Several settings (the modes, the effect choice) are not host parameters, so tools that
prepare a state write it in the plug-in's stored format: little-endian 32-bit words,
parameters keyed by the identifiers the plug-in stores them under, values normalised 0..1.
"""
import struct

# Stored parameters: name -> chunk identifier. The two "DryWet" and "Feedback" knobs are
# told apart here by the effect they belong to.
CHUNK_IDS = {
    "focus": 1, "response": 2, "shift": 3, "mix": 4, "synth_level": 5, "pitchbend_range": 6,
    "octave": 7, "noise": 8, "cutoff": 9, "resonance": 10, "pulswidth": 11, "waveform": 12,
    "filtertype": 13, "effects_choice": 14, "Rate": 15, "Feedback (phaser)": 16, "Stages": 17,
    "Room": 18, "Damp": 19, "DryWet (reverb)": 20, "DryWet (delay)": 21, "delaytime": 22,
    "Feedback (delay)": 23, "Bitrate": 24, "Samplerate": 25, "Distortion": 26, "eq_high": 27,
    "eq_mid": 28, "eq_low": 29, "sampler_pitch": 30, "sampler_level": 31, "retrigger": 32,
    "loop": 34, "in1_gain": 35, "in1_comp_ratio": 36, "in1_comp_speed": 37, "in1_gate": 38,
    "carrier_mode": 39, "master_level": 40, "mastercomp": 41, "compspeed": 42,
    "modulator_mode": 43, "in2_gain": 44, "in2_comp_ratio": 45, "in2_comp_speed": 46,
    "in2_gate": 47, "in_b": 48, "synthoff": 49, "modwheel": 50, "articulate": 51, "consonants": 52,
}

# Normalised values that pick a choice: effects_choice and the two modes.
EFFECT = {"none": 0.0, "reverb": 0.2, "delay": 0.4, "phaser": 0.6, "retro": 0.8}
ANALYSE = {"A": 0.0, "B": 0.26, "A left, B right": 0.5, "sampler": 1.0}   # carrier_mode
CARRIER = {"A": 0.0, "B": 0.34, "synth": 1.0}                               # modulator_mode

_MAGIC, _HEADER_WORDS, _FAMILY, _BODY_VERSION, _PRODUCT = 26101977, 5, 1, 3, 41


def _f32(x):
    return struct.unpack("<I", struct.pack("<f", x))[0]


def _string(text):
    data = text.encode()
    padded = data.ljust((len(data) + 3) // 4 * 4, b"\0")
    return [len(data)] + list(struct.unpack("<%dI" % (len(padded) // 4), padded))


def state_words(settings, name, tempo=120.0, rate=44100.0):
    """The words of a state with these settings ({name: value}); others are left out, so
    the plug-in keeps their current values."""
    body = [_MAGIC, _HEADER_WORDS, _FAMILY, _BODY_VERSION, _PRODUCT]
    for chunk_id, value in sorted((CHUNK_IDS[k], v) for k, v in settings.items()):
        body += [chunk_id, 1, _f32(value)]
    body += [0xFFFFFFFF, 0xFFFFFFFD]                   # end of parameters; no learn maps
    body += [1] + _string(name)                        # program name
    body += [16, 0, 0xFFFFFFFC, 0, 0] + _string("Host")  # trailer: no pressure map
    words = [0, 3, _f32(tempo), _f32(rate)] + body
    words[0] = len(words)
    return words


def write_state(path, settings, name):
    words = state_words(settings, name)
    with open(path, "wb") as f:
        f.write(struct.pack("<%dI" % len(words), *words))
