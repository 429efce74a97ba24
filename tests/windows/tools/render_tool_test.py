#!/usr/bin/env python3
"""The render tool of the Windows build under wine, beside the Linux build's tool.

  render_tool_test.py WINE_RUN WIN_BUILD WIN_TOOL WIN_DLL LINUX_TOOL LINUX_PLUGIN SOURCE

The Windows tool reads WAV files of every sample kind it takes (named beyond the ANSI code
page), writes float and 24-bit files, refuses other formats and an output that is an input
by another name; the demo and every factory preset rendered by the DLL through it match
the Linux plug-in through the Linux tool on the same input, within -120 dBFS peak; and its
editor modes work in a Win32 window: the capture matches the Linux tool's (taken on a private
Xvfb) within 3 % of the pixels differing by more than 10 %, and the event scripts play there
with the Linux exit codes.
"""
import array
import contextlib
import math
import os
import pathlib
import re
import struct
import subprocess
import sys
import tempfile

LIMIT_DBFS = -120.0
# The share of a capture's pixels that may differ from the Linux tool's by more than 10 %: the
# two builds' drawing libraries smooth text differently.
SHOT_LIMIT = 0.03
# Where a right-click on the focus knob opens its learn menu: its two rows at the pointer.
MENU_BOX = "48x34+358+105"


def wav_bytes(tag, bits, rate, channels, payload):
    fmt = struct.pack("<HHIIHH", tag, channels, rate, rate * channels * bits // 8, channels * bits // 8, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(payload)) + payload
    return b"RIFF" + struct.pack("<I", len(body)) + body


def read_wav(path):
    """(format tag, bits, samples as floats) of a WAV file of float or 24-bit samples."""
    data = pathlib.Path(path).read_bytes()
    pos, tag, bits = 12, None, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            tag, bits = struct.unpack("<H", body[:2])[0], struct.unpack("<H", body[14:16])[0]
        if cid == b"data":
            if bits == 32:
                samples = array.array("f")
                samples.frombytes(body[:len(body) // 4 * 4])
                return tag, bits, list(samples)
            ints = [int.from_bytes(body[i:i + 3], "little", signed=True) for i in range(0, len(body) - 2, 3)]
            return tag, bits, [v / 8388608.0 for v in ints]
        pos += 8 + size + (size & 1)
    raise AssertionError(f"{path}: no data chunk")


class Bench:
    def __init__(self, args, scratch):
        self.wine_run, self.win_build, self.win_tool, self.win_dll = args[:4]
        self.linux_tool, self.linux_plugin, self.source = args[4:7]
        self.scratch = scratch
        self.problems = []
        self.voice = pathlib.Path(self.source, "resources/demo/kestrafone-voice.wav")
        self.chords = pathlib.Path(self.source, "resources/demo/kestrafone-chords.mid")
        os.environ["KESTRAFONE_SETTINGS_DIR"] = str(scratch / "linux-settings")

    @staticmethod
    def windows(path):
        return "Z:" + str(path).replace("/", "\\")

    def win(self, *args, timeout=None, x11=False):
        """Runs the Windows tool; with `x11`, through wine's X11 driver on a private Xvfb."""
        env = dict(os.environ, KF_WINE_XVFB="1") if x11 else None
        run = subprocess.run([self.wine_run, self.win_build, self.win_tool, "--quiet", *args, self.windows(self.win_dll)],
                             capture_output=True, text=True, encoding="utf-8", errors="replace", cwd=self.scratch,
                             timeout=timeout, env=env)
        return run.returncode, run.stderr

    def linux(self, *args, env=None):
        run = subprocess.run([self.linux_tool, "--quiet", *args, self.linux_plugin], capture_output=True, text=True,
                             env=env)
        return run.returncode, run.stderr

    @staticmethod
    def differing(a, b, fuzz="10%"):
        """Pixels of two pictures (or "file[crop]"s) that differ by more than `fuzz`."""
        run = subprocess.run(["compare", "-metric", "AE", "-fuzz", fuzz, a, b, "null:"], capture_output=True, text=True)
        match = re.match(r"\s*([0-9.e+]+)", run.stderr)
        return float(match.group(1)) if match and run.returncode in (0, 1) else float("inf")

    def expect(self, ok, what):
        print(("ok:   " if ok else "FAIL: ") + what)
        if not ok:
            self.problems.append(what)

    def reads_every_wav_kind_and_writes_both(self):
        # One signal of 16-bit values in each sample kind: every reader path must give the
        # same floats, so the renders (the signal shaping the synthesizer) are the same to the bit.
        values = [int(12000 * math.sin(i * 0.031) * math.sin(i * 0.0007)) for i in range(44100)]
        kinds = {
            "pcm16": (1, 16, b"".join(struct.pack("<h", v) for v in values)),
            "pcm24": (1, 24, b"".join((v << 8).to_bytes(3, "little", signed=True) for v in values)),
            "pcm32": (1, 32, b"".join(struct.pack("<i", v << 16) for v in values)),
            "float": (3, 32, b"".join(struct.pack("<f", v / 32768.0) for v in values)),
        }
        renders = {}
        for name, (tag, bits, payload) in kinds.items():
            source = self.scratch / f"Stimme-ä-{name}.wav"
            source.write_bytes(wav_bytes(tag, bits, 44100, 1, payload))
            out = self.scratch / f"from-{name}.wav"
            code, err = self.win("--input-a", self.windows(source), "--midi", self.windows(self.chords),
                                 "--output", self.windows(out))
            self.expect(code == 0, f"reads a WAV file of {name} samples named beyond the ANSI code page ({err.strip()})")
            renders[name] = read_wav(out)[2] if code == 0 else None
        self.expect(renders["float"] is not None and max(map(abs, renders["float"])) > 0.01, "the render is audible")
        for name in ("pcm16", "pcm24", "pcm32"):
            self.expect(renders[name] == renders["float"], f"{name} samples read as the same values as floats")

        out24 = self.scratch / "pcm24-out.wav"
        code, err = self.win("--input-a", self.windows(self.scratch / "Stimme-ä-float.wav"), "--midi",
                             self.windows(self.chords), "--format", "pcm24", "--output", self.windows(out24))
        tag, bits, got = read_wav(out24) if code == 0 else (None, None, [])
        want = renders["float"] or []
        self.expect(code == 0 and (tag, bits) == (1, 24) and len(got) == len(want) and
                    all(abs(a - b) <= 1.0 / 8388608 for a, b in zip(got, want)),
                    f"writes 24-bit samples within one step of the floats ({err.strip()})")

    def refuses_what_it_cannot_do(self):
        aiff = self.scratch / "voice.aiff"
        aiff.write_bytes(b"FORM\x00\x00\x00\x04AIFF")
        code, err = self.win("--input", self.windows(aiff), "--output", self.windows(self.scratch / "x.wav"))
        self.expect(code == 2 and "voice.aiff" in err and "WAV files only" in err,
                    f"refuses another format, naming the file and what it reads ({err.strip()})")
        code, err = self.win("--input", self.windows(self.scratch / "Stimme-ä-pcm16.wav"), "--output",
                             self.windows(self.scratch / "x.flac"))
        self.expect(code == 2 and "WAV files only" in err, f"refuses to write another format ({err.strip()})")
        # A bare preset name in a folder whose name has a dot still gets the preset extension.
        folder = self.scratch / "v1.2"
        folder.mkdir()
        code, err = self.win("--save-preset", self.windows(folder / "Choir"))
        self.expect(code == 0 and (folder / "Choir.kfn").is_file(),
                    f"a preset saved under a bare name gets its extension ({err.strip()})")
        # The output a hard link to the input, under another name: nothing is written.
        link = self.scratch / "link.wav"
        os.link(self.scratch / "Stimme-ä-pcm16.wav", link)
        before = link.read_bytes()
        code, err = self.win("--input", self.windows(self.scratch / "Stimme-ä-pcm16.wav"), "--output",
                             self.windows(link))
        self.expect(code == 1 and "same file" in err and link.read_bytes() == before,
                    f"recognises an output that is an input ({err.strip()})")

    def renders_as_the_linux_build(self):
        demo = self.scratch / "demo.kfn"
        # The demo's own settings, from the script that renders it.
        script = pathlib.Path(self.source, "scripts/render-demo").read_text()
        writer = re.search(r"<<'PY'\n(.*?)\nPY\n", script, re.S).group(1)
        subprocess.run([sys.executable, "-", str(demo)], input=writer, text=True, check=True,
                       env=dict(os.environ, PYTHONPATH=str(pathlib.Path(self.source, "scripts"))))
        cases = [("the demo", ["--state", demo]), ("the demo at 90 BPM in blocks of 77", ["--state", demo, "--tempo", "90", "--block-size", "77"]),
                 ("the demo with --set", ["--state", demo, "--set", "articulate=1", "--set", "mix=0.5"])]
        cases += [(p.stem, ["--preset", p]) for p in sorted(pathlib.Path(self.source, "resources/presets").glob("*.kfn"))]
        identical = 0
        for name, options in cases:
            common = ["--format", "float", "--input-a", self.voice, "--midi", self.chords]
            win_out, linux_out = self.scratch / "win.wav", self.scratch / "linux.wav"
            code, err = self.win(*[self.windows(o) if isinstance(o, pathlib.Path) else o for o in common + options],
                                 "--output", self.windows(win_out))
            lcode, lerr = self.linux(*[str(o) for o in common + options], "--output", str(linux_out))
            if code != 0 or lcode != 0:
                self.expect(False, f"{name}: renders on both ({err.strip()} {lerr.strip()})")
                continue
            a, b = read_wav(win_out)[2], read_wav(linux_out)[2]
            peak = max((abs(x - y) for x, y in zip(a, b)), default=0.0)
            level = 20 * math.log10(peak) if peak > 0 else float("-inf")
            identical += a == b
            self.expect(len(a) == len(b) and any(b) and level <= LIMIT_DBFS,
                        f"{name}: {'bit-identical' if a == b else f'differs by {level:.1f} dBFS peak'}")
        print(f"{identical} of {len(cases)} renders bit-identical to the Linux build's")

    def shows_the_editor_as_the_linux_build(self):
        win_shot, linux_shot = self.scratch / "win-shot.png", self.scratch / "linux-shot.png"
        code, err = self.win("--editor-shot", self.windows(win_shot), x11=True)
        size = subprocess.run(["identify", "-format", "%wx%h", win_shot], capture_output=True, text=True).stdout
        self.expect(code == 0 and size == "503x404", f"captures the editor, 503 x 404 ({size} {err.strip()})")
        with private_display() as display:
            lcode, lerr = self.linux("--editor-shot", str(linux_shot), env=dict(os.environ, DISPLAY=display or ""))
        if code != 0 or lcode != 0:
            self.expect(False, f"both tools capture the editor ({lerr.strip()})")
            return
        pixels = 503 * 404
        differing = self.differing(win_shot, linux_shot)
        self.expect(differing <= SHOT_LIMIT * pixels,
                    f"the capture differs from the Linux tool's in {differing / pixels:.2%} of its pixels")

        # The scripts' pointer steps go to the window, shown on an X display, through Windows'
        # input queue (the tool's own way, no X tool): a drag raises the focus knob by 0.5, the
        # wheel and a right-click beside the knobs change nothing, and a drag back leaves the
        # page as it was.
        scripts = pathlib.Path(self.source, "tests/editor/scripts")
        code, err = self.win("--editor-script", self.windows(scripts / "default-page.txt"), x11=True)
        played = self.scratch / "default-page.png"
        self.expect(code == 0 and self.differing(played, linux_shot) <= SHOT_LIMIT * pixels,
                    f"plays the default page's script ({err.strip()})")
        code, err = self.win("--editor-script", self.windows(scripts / "learn-menu.txt"), x11=True)
        menu = self.scratch / "learn-menu.png"
        # The menu's grey is close to the panel's: any visible change counts.
        changed = self.differing(f"{menu}[{MENU_BOX}]", f"{win_shot}[{MENU_BOX}]", "1%") if code == 0 else 0
        self.expect(code == 0 and changed > 48 * 34 / 2,
                    f"a right-click on the focus knob opens its learn menu at the pointer ({err.strip()})")

        # Stopped by a timeout, so it stays on the null driver: a stopped Xvfb run could not
        # take its display down.
        try:
            code, err = self.win("--show-editor", timeout=3)
            self.expect(False, f"shows the editor until its window is closed (it ended with {code}: {err.strip()})")
        except subprocess.TimeoutExpired:
            self.expect(True, "shows the editor until its window is closed")

        failing = self.scratch / "failing.txt"
        failing.write_text("open\nexpect param 9 0.9\n")
        code, err = self.win("--editor-script", self.windows(failing))
        self.expect(code == 4 and "line 2: expect param 9" in err, f"a failed expectation ends with 4 ({err.strip()})")


@contextlib.contextmanager
def private_display():
    """A private Xvfb for the Linux tool's window; its display name, None when it did not start."""
    server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        number = server.stdout.readline().strip()
        yield f":{number}" if number else None
    finally:
        server.terminate()
        server.wait()


def main():
    with tempfile.TemporaryDirectory() as scratch:
        bench = Bench(sys.argv[1:], pathlib.Path(scratch))
        bench.reads_every_wav_kind_and_writes_both()
        bench.refuses_what_it_cannot_do()
        bench.renders_as_the_linux_build()
        bench.shows_the_editor_as_the_linux_build()
        return 1 if bench.problems else 0


if __name__ == "__main__":
    sys.exit(main())
