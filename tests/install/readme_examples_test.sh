#!/usr/bin/env bash
# Runs every command of the README's kestrafone-render examples, as written, from a scratch
# folder that holds the repository's resources; each must succeed, and each one that writes
# audio must not write silence.
# Usage: readme_examples_test.sh SOURCE_DIR RENDER_TOOL PLUGIN
SRC="$1" RENDER="$2"
. "$(dirname "$0")/common.sh"
export P="$3"  # where the README's first line points after make install
mkdir -p "$SCRATCH/bin"
ln -s "$RENDER" "$SCRATCH/bin/kestrafone-render"
export PATH="$SCRATCH/bin:$PATH"
ln -s "$SRC/resources" "$SCRATCH/resources"
cd "$SCRATCH"

examples="$(awk '/^## Render without a DAW/ { s = 1 } s && /^```sh/ { b = 1; next } b && /^```/ { exit } b' "$SRC/README.md")"
count=0
while IFS= read -r line; do
  case "$line" in "" | "#"* | P=*) continue ;; esac
  count=$((count + 1))
  bash -c "$line" >/dev/null 2>"$SCRATCH/stderr" || fail "'$line' failed: $(cat "$SCRATCH/stderr")"
  output="$(sed -n 's/.*--output \([^ ]*\).*/\1/p' <<<"$line")"
  if [ -n "$output" ] && silent "$output"; then fail "'$line' rendered silence"; fi
done <<<"$examples"
[ "$count" -ge 5 ] || fail "found only $count example commands in the README"
echo "$count README examples passed"
