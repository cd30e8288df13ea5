#!/usr/bin/env bash
# Sets everything up, builds a release and runs the application.
#
#   scripts/run.sh          the application
#   scripts/run.sh --demo   the application and, beside it, the test camera with discovery on,
#                           so that a camera appears on the radar without a phone; the camera
#                           stops when the application ends. Further arguments go to the camera
#                           (see vistamo-camera --help), e.g. --demo --password secret.
set -euo pipefail
cd "$(dirname "$0")/.."

demo=0
if [[ "${1:-}" == "--demo" ]]; then
  demo=1
  shift
fi

scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target vistamo vistamo-camera

if ((demo == 0)); then
  exec build/release/src/vistamo
fi

# The camera prints a line per message; they go to a log rather than the terminal.
log=build/release/demo-camera.log
build/release/tools/camera/vistamo-camera --name "Demo Camera" "$@" >"${log}" 2>&1 &
camera=$!
trap 'kill "${camera}" 2>/dev/null || true; wait "${camera}" 2>/dev/null || true' EXIT
echo "Test camera \"Demo Camera\" running (its log: ${log}); it stops with the application."
build/release/src/vistamo
