#!/usr/bin/env bash
# Every script stays a working script: each one in the repository is executable (when it
# starts with #!), parses, and comes out of clang-format unchanged, since clang-format takes
# a file without a C++ extension for C++ unless its folder switches formatting off. And every
# script the README names runs as a user runs it, from a scratch copy of the repository's
# scripts and resources, so nothing it writes lands in the tree.
# Usage: scripts_test.sh SOURCE_DIR BUILD_DIR
SRC="$1" BUILD="$2"
. "$(dirname "$0")/common.sh"

cd "$SRC"
scripts="$(git ls-files -z |
  xargs -0 awk 'FNR == 1 && (/^#!/ || FILENAME ~ /\.(py|sh)$/) { print FILENAME } { nextfile }')"
[ -n "$scripts" ] || fail "found no scripts in $SRC"
while IFS= read -r f; do
  first="$(head -n 1 "$f")"
  [ "${first:0:2}" != "#!" ] || [ -x "$f" ] || fail "$f is not executable"
  case "$first$f" in
    *python3* | *.py) python3 -c 'import ast, sys; ast.parse(open(sys.argv[1]).read(), sys.argv[1])' "$f" ;;
    *) bash -n "$f" ;;
  esac || fail "$f does not parse"
  clang-format "$f" | cmp -s - "$f" ||
    fail "clang-format would rewrite $f: keep scripts in a folder whose .clang-format disables formatting"
done <<<"$scripts"
cd "$SCRATCH"

tree="$SCRATCH/tree"
mkdir -p "$tree" "$SCRATCH/stubs"
mkdir -p "$tree/tests"
cp -r "$SRC/scripts" "$SRC/resources" "$tree/"
cp -r "$SRC/tests/presets" "$tree/tests/"  # the stored states whose sound must not drift
# install-deps must not change this machine: installing packages does nothing here.
for tool in sudo apt-get; do
  printf '#!/bin/sh\nexit 0\n' >"$SCRATCH/stubs/$tool"
  chmod +x "$SCRATCH/stubs/$tool"
done
named="$(grep -o 'scripts/[A-Za-z0-9_.-]*' "$SRC/README.md" | sort -u)"
[ -n "$named" ] || fail "the README names no script"
for script in $named; do
  run="$tree/$script"
  case "$script" in
    scripts/install-deps) PATH="$SCRATCH/stubs:$PATH" "$run" --test || fail "$script failed" ;;
    scripts/make-demo-material)
      rm "$tree"/resources/demo/*
      "$run" >/dev/null || fail "$script failed"
      for f in kestrafone-voice.wav kestrafone-chords.mid kestrafone-carrier.wav; do
        [ -s "$tree/resources/demo/$f" ] || fail "$script did not make $f"
      done ;;
    scripts/render-fingerprints)
      "$run" "$BUILD" >"$SCRATCH/fingerprints" || fail "$script failed"
      presets=$(ls "$tree"/resources/presets/*.kfn "$tree"/tests/presets/classic/*.kfn | wc -l)
      [ "$(grep -cE '^[0-9a-f]{16}  ' "$SCRATCH/fingerprints")" -eq $((presets * 5)) ] ||
        fail "$script printed: $(cat "$SCRATCH/fingerprints")" ;;
    *) fail "the README names $script: add how to run it here" ;;
  esac
done
echo "scripts checked; ran $(echo $named)"
