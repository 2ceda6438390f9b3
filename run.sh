#!/usr/bin/env bash
# Installs what is missing, builds and starts the program. Without a display
# it starts one of its own under Xvfb.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh
corvanith_install_missing
corvanith_build build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" ./build/src/corvanith "$@"
fi
exec ./build/src/corvanith "$@"
