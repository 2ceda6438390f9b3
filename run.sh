#!/usr/bin/env bash
# Installs what is missing, builds the program alone and starts it. Without a
# display it starts one of its own under Xvfb and says how to see and end it.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh
corvanith_install_missing
corvanith_configure build
cmake --build build --parallel "$(nproc)" --target corvanith
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec ./build/src/corvanith "$@"
fi
if ! command -v xvfb-run >/dev/null; then
    echo "run.sh: there is no display, and no Xvfb to make one (package xvfb): no window can be shown." >&2
    exit 1
fi
# xvfb-run picks a free display and keeps the key to it in a file of its own;
# the program, started in its place, tells both.
exec xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
cat <<EOF
There is no display here: the program runs on the virtual display $DISPLAY
(Xvfb, 1280 x 1024), which nothing shows. To see it, take a picture of it
from another terminal, with import (apt-get install imagemagick):
    XAUTHORITY=$XAUTHORITY import -display $DISPLAY -window root shot.png
or with xwd (apt-get install x11-apps):
    XAUTHORITY=$XAUTHORITY xwd -display $DISPLAY -root -out shot.xwd
To end it, press Ctrl+C here, or run: kill $$
EOF
exec ./build/src/corvanith "$@"' run.sh "$@"
