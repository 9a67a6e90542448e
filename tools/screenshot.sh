#!/usr/bin/env bash
# screenshot.sh BUILD [OUTDIR]: shows the progress window (during extraction, in marquee mode,
# and in marquee mode with the Japanese caption on an English system) under Xvfb and saves a
# PNG of each into OUTDIR (default docs/). Needs the window_demo target built in BUILD.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: screenshot.sh BUILD [OUTDIR]}" && pwd)
out=$(mkdir -p "${2:-$root/docs}" && cd "${2:-$root/docs}" && pwd)
demo=$build/tests/window_demo.exe
[ -f "$demo" ] || { echo "build the window_demo target first" >&2; exit 1; }

if [ "${CABRUN_SHOT_INSIDE:-}" != 1 ]; then
  export CABRUN_SHOT_INSIDE=1
  exec "$root/cmake/wine-session.sh" "$build" "$0" "$build" "$out"
fi

# Japanese captions need the CJK font linked to the caption font; a freshly booted prefix can
# lose that setting, so it is made sure of here.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma \
  /t REG_MULTI_SZ /d 'ipag.ttf,IPAGothic\0MSGOTHIC.TTC,MS UI Gothic' /f >/dev/null 2>&1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for mode in extract marquee japanese; do
  rm -f "$work/ready" "$work/stop"
  # An English system: the Japanese caption must come out whole all the same.
  env LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 wine "$demo" "$mode" "Z:$work/ready" "Z:$work/stop" &
  demo_pid=$!
  for _ in $(seq 100); do [ -s "$work/ready" ] && break; sleep 0.1; done
  [ -s "$work/ready" ] || { echo "the window did not appear ($mode)" >&2; kill "$demo_pid"; exit 1; }
  sleep 1  # let the marquee move and the window paint
  read -r x y w h < "$work/ready"
  # The window with a margin of the desktop around it, enlarged so that a person can read it.
  import -window root png:- |
    convert - -crop "$((w + 40))x$((h + 40))+$((x - 20))+$((y - 20))" +repage -scale 300% \
      "$out/progress-window-$mode.png"
  touch "$work/stop"
  wait "$demo_pid"
  echo "$out/progress-window-$mode.png"
done
