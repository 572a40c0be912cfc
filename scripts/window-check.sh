#!/usr/bin/env bash
# Checks the window under a real X server with a window manager (Xvfb and
# openbox), where the frame comes after the window is shown: the outer frame
# must be 537 x 366 and centred all the same. Installs what is missing (as
# root) and builds first.
# Usage: bash scripts/window-check.sh
set -euo pipefail
source "$(dirname "$0")/common.sh"

tarvex_install_packages xvfb openbox
tarvex_build "$TARVEX_ROOT/build"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
wm=
cleanup()
{
    [ -n "$wm" ] && kill "$wm" 2>/dev/null
    kill "$xvfb" 2>/dev/null
    wait 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done
openbox >/dev/null 2>&1 &
wm=$!
sleep 1

QT_QPA_PLATFORM=xcb "$TARVEX_ROOT/build/tarvex_gui_tests" \
    --gtest_filter='MainFormTest.StartsWithBannerEmptyPanelAndCentredWindow:MainFormTest.AltFOpensTheFileMenu'
