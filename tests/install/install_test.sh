#!/usr/bin/env bash
# Installs per user and system-wide into scratch folders and checks: the layout, a stripped
# module, the first use after the clone that made the settings is gone, a lone module and a
# moved bundle start like the bundle, the installed tools render sound, a shell that cannot
# find them says so, and uninstalling without the build or the clone removes everything but
# the user's work. Also: the demo's build needs no test package.
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
SRC="$1" BUILD="$2"
. "$(dirname "$0")/common.sh"

bundle="$HOME/.vst/Kestrafone"
render="$HOME/.local/bin/kestrafone-render"
params() { "$render" --info "$1" | sed -n '/^Parameters (/,$p'; }

# The first instance ever made runs from a clone that is then deleted (make demo, then rm -rf).
mkdir -p "$SCRATCH/clone"
cp -r "$BUILD/bundle/Kestrafone" "$SCRATCH/clone/"
"$BUILD/src/host/kestrafone-render" --info "$SCRATCH/clone/Kestrafone/kestrafone.so" >/dev/null
rm -rf "$SCRATCH/clone"

"$SRC/scripts/install" "$BUILD" >"$SCRATCH/install.out"
grep -qF 'export PATH="$HOME/.local/bin:$PATH"' "$SCRATCH/install.out" ||
  fail "the install does not say that ~/.local/bin is missing from PATH"
for f in kestrafone.so install-manifest.txt Manual/Manual.htm Presets/default.kfn; do
  [ -f "$bundle/$f" ] || fail "$bundle/$f was not installed"
done
[ -d "$bundle/Presets/User" ] && [ -d "$bundle/Samples/Factory" ] || fail "bundle folders missing"
# The plug-in opens the installed manual, so the pictures it shows must sit beside it.
for f in $(grep -o 'src="[^":]*"' "$bundle/Manual/Manual.htm" | sed 's/^src="//; s/"$//'); do
  [ -f "$bundle/Manual/$f" ] || fail "the installed manual's picture $f is missing"
done
[ -x "$render" ] && [ -x "$HOME/.local/bin/kestrafone-uninstall" ] || fail "the tools are not in ~/.local/bin"
if readelf -S "$bundle/kestrafone.so" | grep -q '\.symtab'; then fail "the installed module is not stripped"; fi

params "$bundle/kestrafone.so" >"$SCRATCH/installed"
awk 'NR > 1 && $3 != "0.000000" { found = 1 } END { exit !found }' "$SCRATCH/installed" ||
  fail "the installed plug-in starts with every parameter at 0 (no default preset)"
grep -q "presetpath0	$bundle/Presets/" "$HOME/.config/Tallow Mill/Kestrafone/settings.conf" ||
  fail "the preset folder does not follow the installed bundle"

mkdir -p "$SCRATCH/lone"
cp "$bundle/kestrafone.so" "$SCRATCH/lone/"
params "$SCRATCH/lone/kestrafone.so" | diff "$SCRATCH/installed" - || fail "a lone module starts differently"

mv "$bundle" "$SCRATCH/moved"
params "$SCRATCH/moved/kestrafone.so" | diff "$SCRATCH/installed" - || fail "a moved bundle starts differently"
mv "$SCRATCH/moved" "$bundle"

"$render" --quiet --input-a "$SRC/resources/demo/kestrafone-voice.wav" --midi "$SRC/resources/demo/kestrafone-chords.mid" \
  --output "$SCRATCH/demo.wav" "$bundle/kestrafone.so"
if silent "$SCRATCH/demo.wav"; then fail "the installed plug-in renders the demo as silence"; fi
"$render" --save-preset "$bundle/Presets/User/mine.kfn" "$bundle/kestrafone.so"
grep -aq mine "$bundle/Presets/User/mine.kfn" || fail "--save-preset did not name the preset after its file"

# A factory preset saved over is the user's work: installing again leaves it, the installed
# uninstaller, run with no clone, keeps it and says so; once it is moved away, make
# uninstall (no build) ends the job.
cp "$bundle/Presets/Whisper.kfn" "$bundle/Presets/Robot Voice.kfn"
"$SRC/scripts/install" "$BUILD" >/dev/null
cmp -s "$bundle/Presets/Whisper.kfn" "$bundle/Presets/Robot Voice.kfn" || fail "installing again replaced the user's preset"
(cd "$SCRATCH" && "$HOME/.local/bin/kestrafone-uninstall" >"$SCRATCH/uninstall.out")
grep -q "Robot Voice.kfn (changed" "$SCRATCH/uninstall.out" || fail "uninstall does not list the kept preset"
files() { (cd "$HOME" && find .vst .local/bin -type f | LC_ALL=C sort | tr '\n' ' '); }
[ "$(files)" = ".local/bin/kestrafone-uninstall .vst/Kestrafone/Presets/Robot Voice.kfn \
.vst/Kestrafone/Presets/User/mine.kfn .vst/Kestrafone/install-manifest.txt " ] || fail "uninstall left: $(files)"
mv "$bundle/Presets/Robot Voice.kfn" "$bundle/Presets/User/"
make -s -C "$SRC" uninstall BUILD="$SCRATCH/no-build" >/dev/null
[ "$(files)" = ".vst/Kestrafone/Presets/User/Robot Voice.kfn .vst/Kestrafone/Presets/User/mine.kfn " ] ||
  fail "the second uninstall left: $(files)"

# System-wide, staged as a package build does.
DESTDIR="$SCRATCH/root" "$SRC/scripts/install" "$BUILD" /usr/local >/dev/null
[ -f "$SCRATCH/root/usr/local/lib/lxvst/Kestrafone/kestrafone.so" ] || fail "no system-wide bundle"
[ -x "$SCRATCH/root/usr/local/bin/kestrafone-render" ] || fail "no system-wide kestrafone-render"
DESTDIR="$SCRATCH/root" "$SRC/scripts/install" --uninstall /usr/local >/dev/null
left="$(find "$SCRATCH/root" -type f)"
[ -z "$left" ] || fail "system-wide uninstall left: $left"
[ ! -e "$SCRATCH/root/usr/local/lib/lxvst/Kestrafone" ] || fail "uninstall left the empty bundle folder"

# make demo installs only the build packages and configures without the test libraries.
make -s -n -C "$SRC" demo BUILD="$SCRATCH/core" | grep -q 'install-deps --test' && fail "make demo installs the test packages"
cmake -S "$SRC" -B "$SCRATCH/core" -DKF_BUILD_TESTS=OFF -DKF_BUILD_BENCH=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null ||
  fail "the demo's build needs a test package"
echo "install test passed"
