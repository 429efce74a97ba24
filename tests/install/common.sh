# Shared by the install tests: a scratch home folder and a silence check.
set -euo pipefail
SCRATCH="$(mktemp -d)"
trap 'rm -rf "$SCRATCH"' EXIT
export HOME="$SCRATCH/home"
unset XDG_CONFIG_HOME XDG_DATA_HOME KESTRAFONE_SETTINGS_DIR DESTDIR KF_BUNDLE_DIR
mkdir -p "$HOME"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# True when the audio file's RMS level is below -80 dBFS.
silent() {
  local rms
  rms="$(sox "$1" -n stat 2>&1 | awk '/^RMS +amplitude/ {print $3}')"
  [ -n "$rms" ] || fail "sox could not read $1"
  awk -v r="$rms" 'BEGIN { exit !(r < 1e-4) }'
}
