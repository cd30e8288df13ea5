#!/usr/bin/env bash
# Sets everything up, builds a release and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target vistamo-camera
echo "The desktop window is not there yet: starting the test camera on TCP port 7341 (Ctrl+C stops it)."
exec build/release/tools/camera/vistamo-camera "$@"
