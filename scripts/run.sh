#!/usr/bin/env bash
# Builds Korvalen (Release) and starts the desktop program.
# Without a display it says how to start it under xvfb-run, and how to use korvalen-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVALEN_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"

gui="$build/app/korvalen"
cli="$build/cli/korvalen-cli"
if [[ -x "$gui" && ( -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ) ]]; then
    echo "korvalen: starting $gui" >&2
    exec "$gui" "$@"
fi
if [[ -x "$gui" ]]; then
    echo "korvalen: built $gui, but there is no display (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
    echo "  Start it under a virtual X server:  xvfb-run -a $gui" >&2
else
    echo "korvalen: the desktop program is not part of this build yet." >&2
fi
echo "  Or search from the terminal:        $cli --help" >&2
if [[ -x "$cli" ]]; then
    exec "$cli" --help
fi
echo "korvalen: $cli was not built" >&2
exit 1
