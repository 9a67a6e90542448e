#!/usr/bin/env bash
# wine-session.sh BUILD COMMAND...: runs COMMAND with the build's own Wine prefix, inside an
# Xvfb session (windows need a display); with CABRUN_USE_DISPLAY=1 and a display, on that one. The wineserver is started first, with its output
# away from the command's pipes, so that its helpers cannot keep a test run hanging.
set -euo pipefail
build=$(cd "$1" && pwd); shift
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

if [ "${CABRUN_IN_XVFB:-}" != 1 ] && ! [ "${CABRUN_USE_DISPLAY:-}" = 1 -a -n "${DISPLAY:-}" ]; then
  export CABRUN_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$@"
fi

mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 </dev/null
if [ ! -f "$WINEPREFIX/.cabrun-ready" ]; then
  wineboot -i >/dev/null 2>&1 </dev/null
  touch "$WINEPREFIX/.cabrun-ready"
else
  wineboot >/dev/null 2>&1 </dev/null
fi
# Title bars without a window manager, and a CJK font for Japanese texts on any locale.
# Set on every start: the first boot of a prefix may still rewrite them after it returns.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma \
  /t REG_MULTI_SZ /d 'ipag.ttf,IPAGothic\0MSGOTHIC.TTC,MS UI Gothic' /f >/dev/null 2>&1
rc=0
"$@" || rc=$?
wineserver -k >/dev/null 2>&1 || true
exit $rc
