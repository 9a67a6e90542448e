#!/usr/bin/env bash
# wine-session.sh BUILD COMMAND...: runs COMMAND inside an Xvfb session (windows need a display;
# with CABRUN_USE_DISPLAY=1 and a display, on that one), with a wineserver started for each
# architecture this machine runs and built in BUILD: x86 with the prefix BUILD/wineprefix, x64
# with BUILD/x64/wineprefix. The servers start first, with their output away from the command's
# pipes, so that their helpers cannot keep a test run hanging.
# COMMAND finds `wine`, WINEPREFIX and CABRUN_ARCH_BUILD (BUILD or BUILD/x64) set for CABRUN_ARCH:
# the architecture asked for in CABRUN_ARCH, else x86 where it runs, else x64; CABRUN_ARCH_HOW says
# how it runs (natively, or through qemu user emulation). CABRUN_WINE_RUNNABLE
# lists the architectures that run here; cmake/wine-arch.sh reads it instead of asking again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd); shift
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

# 32-bit programs through qemu where the kernel runs none (cmake/x86-route.sh).
[ -n "${CABRUN_X86_ROUTE:-}" ] || exec sh "$root/cmake/x86-route.sh" "$0" "$build" "$@"

if [ "${CABRUN_IN_XVFB:-}" != 1 ] && ! [ "${CABRUN_USE_DISPLAY:-}" = 1 -a -n "${DISPLAY:-}" ]; then
  export CABRUN_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$@"
fi

arch_build() { if [ "$1" = x64 ]; then echo "$build/x64"; else echo "$build"; fi; }

# Each loader is started once here; what it answered is handed on to every command, and how
# each architecture runs is kept in BUILD/wine-session.txt for the summaries of test.sh and demo.sh.
CABRUN_WINE_RUNNABLE=
for arch in x86 x64; do
  why=$(sh "$root/cmake/wine-arch.sh" --why $arch)
  export "CABRUN_WINE_WHY_$arch=$why"
  if [ -z "$why" ]; then
    CABRUN_WINE_RUNNABLE="${CABRUN_WINE_RUNNABLE:+$CABRUN_WINE_RUNNABLE }$arch"
    how=natively
    [ $arch = x86 ] && how=$CABRUN_X86_HOW
    echo "$arch: ran $how"
  else
    echo "wine-session: no $arch programs run here: $why" >&2
    echo "$arch: skipped ($why)"
  fi
done > "$build/wine-session.txt"
export CABRUN_WINE_RUNNABLE
# CABRUN_ARCH=native (the benchmarks) takes x64 where x86 would run only emulated.
if [ "${CABRUN_ARCH:-}" = native ]; then
  CABRUN_ARCH=
  [ "$CABRUN_X86_ROUTE" = native ] || case " $CABRUN_WINE_RUNNABLE " in *" x64 "*) CABRUN_ARCH=x64 ;; esac
fi
[ -n "${CABRUN_ARCH:-}" ] || CABRUN_ARCH=${CABRUN_WINE_RUNNABLE%% *}
if [ -z "$CABRUN_ARCH" ]; then
  echo "wine-session: Wine runs no Windows programs here: x86: $CABRUN_WINE_WHY_x86; x64: $CABRUN_WINE_WHY_x64" >&2
  exit 1
fi
CABRUN_ARCH_HOW=natively
[ "$CABRUN_ARCH" = x86 ] && CABRUN_ARCH_HOW=$CABRUN_X86_HOW

# Starts the server of ARCH's prefix and sets the prefix up (once: ~10 s; ~50 s emulated), then
# the desktop and its process, which programs would otherwise start again and again, each time with
# the output of whichever test needed it (tests/programs/desktop_keeper.cpp). Says why when Wine fails.
servers=()
start_server() {
  local arch=$1 prefix winearch=win32
  prefix=$(arch_build "$arch")/wineprefix
  [ "$arch" = x64 ] && winearch=win64
  mkdir -p "$prefix"
  WINEPREFIX=$prefix WINEARCH=$winearch KEEPER=$(arch_build "$arch")/tests/desktop_keeper.exe \
    sh "$root/cmake/wine-arch.sh" "$arch" sh -c '
    wineserver -p >/dev/null 2>&1 </dev/null
    if [ ! -f "$WINEPREFIX/.cabrun-ready" ]; then
      wine wineboot -i >/dev/null 2>&1 </dev/null && touch "$WINEPREFIX/.cabrun-ready"
    else
      wine wineboot >/dev/null 2>&1 </dev/null
    fi
    # Title bars without a window manager, and a CJK font for Japanese texts on any locale. Set on
    # every start: the first boot of a prefix may still rewrite them after it returns.
    wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 &&
    wine reg add "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink" /v Tahoma \
      /t REG_MULTI_SZ /d "ipag.ttf,IPAGothic\\0MSGOTHIC.TTC,MS UI Gothic" /f >/dev/null 2>&1 &&
    if [ -f "$KEEPER" ]; then wine "$KEEPER" >/dev/null 2>&1 </dev/null & fi' || {
    echo "wine-session: the $arch Wine prefix $prefix could not be set up (wineboot or reg failed; WINEDEBUG=err+all tells more)" >&2
    return 1
  }
  servers+=("$prefix")
}
stop_servers() {
  for prefix in "${servers[@]}"; do WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true; done
}
trap stop_servers EXIT

for arch in $CABRUN_WINE_RUNNABLE; do
  if [ "$arch" = "$CABRUN_ARCH" ] || [ -d "$(arch_build "$arch")" ]; then start_server "$arch"; fi
done
export CABRUN_ARCH CABRUN_ARCH_HOW CABRUN_ARCH_BUILD WINEPREFIX
CABRUN_ARCH_BUILD=$(arch_build "$CABRUN_ARCH")
WINEPREFIX=$CABRUN_ARCH_BUILD/wineprefix
rc=0
sh "$root/cmake/wine-arch.sh" "$CABRUN_ARCH" "$@" || rc=$?
exit $rc
