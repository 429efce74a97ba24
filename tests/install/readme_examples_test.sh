#!/usr/bin/env bash
# Runs every command of the README's kestrafone-render examples, as written, from a scratch
# folder that stands for a fresh clone (it holds the repository's resources); each must
# succeed, each one that writes audio must not write silence, and the clone must hold nothing
# new afterwards. A line that only sets a variable (other than P, which points at the built
# plug-in here) is run before every later line, as it would be in the reader's shell.
# Usage: readme_examples_test.sh SOURCE_DIR RENDER_TOOL PLUGIN
SRC="$1" RENDER="$2"
. "$(dirname "$0")/common.sh"
export P="$3"  # where the README's first line points after make install
mkdir -p "$SCRATCH/bin" "$SCRATCH/clone"
ln -s "$RENDER" "$SCRATCH/bin/kestrafone-render"
export PATH="$SCRATCH/bin:$PATH"
ln -s "$SRC/resources" "$SCRATCH/clone/resources"
touch "$SCRATCH/started"
cd "$SCRATCH/clone"

examples="$(awk '/^## Render without a DAW/ { s = 1 } s && /^```sh/ { b = 1; next } b && /^```/ { exit } b' "$SRC/README.md")"
count=0
settings=""
while IFS= read -r line; do
  case "$line" in
    "" | "#"* | P=*) continue ;;
    [A-Za-z_]*=*) settings="$settings$line; " ;;
  esac
  count=$((count + 1))
  bash -c "$settings$line" >/dev/null 2>"$SCRATCH/stderr" || fail "'$line' failed: $(cat "$SCRATCH/stderr")"
  output="$(sed -n 's/.*--output \([^ ]*\).*/\1/p' <<<"$line")"
  [ -n "$output" ] || continue
  output="$(bash -c "$settings echo $output")"
  if silent "$output"; then fail "'$line' rendered silence"; fi
done <<<"$examples"
[ "$count" -ge 5 ] || fail "found only $count example commands in the README"
left="$(ls -A . | grep -vx resources || true; find -L resources -newer "$SCRATCH/started")"
[ -z "$left" ] || fail "the examples left files in the repository: $left"
echo "$count README examples passed"
