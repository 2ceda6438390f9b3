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
# xvfb-run picks a free display and keeps the key to it in a file of its own:
# both are said from inside it.
exec xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
cat <<EOF
There is no display here: the program runs on the virtual display $DISPLAY
(Xvfb, 1280 x 1024), which nothing shows. From another terminal, after
    export DISPLAY=$DISPLAY XAUTHORITY=$XAUTHORITY
take a picture of it with import (apt-get install imagemagick):
    import -window root shot.png
or with xwd (apt-get install x11-apps):
    xwd -root -out shot.xwd
and end it as File > Exit does, saving its recent list and window place:
    xdotool search --onlyvisible --name "Corvanith\$" windowfocus --sync && xdotool key alt+f e
Ctrl+C here (or kill $$) ends it at once, and saves nothing.
EOF
exec ./build/src/corvanith "$@"' run.sh "$@"
