#!/bin/sh
# wine-arch.sh ARCH COMMAND...: runs COMMAND with `wine` (and WINELOADER) standing for the Wine
# that runs ARCH's programs: x86 the 32-bit loader, x64 the 64-bit one. Debian's own `wine`
# always takes the 32-bit loader when it is installed, even where it cannot start. Where this
# machine cannot run ARCH's programs, it says why in one line and exits 77 (ctest: skipped).
#   wine-arch.sh --runnable     prints the architectures this machine runs, x86 first
#   wine-arch.sh --why ARCH     prints why ARCH's programs cannot run here (nothing when they can)
# The decision is made by starting the loader; cmake/wine-session.sh makes it once for a whole
# run (CABRUN_WINE_RUNNABLE).
set -u
bin=$(cd "$(dirname "$0")" && pwd)/wine-bin

loader() {
  case $1 in
    x86) echo /usr/lib/wine/wine ;;
    x64) echo /usr/lib/wine/wine64 ;;
  esac
}

# Starts the loader of ARCH and tells why it failed; nothing when it works.
probe() {
  program=$(loader "$1")
  [ -n "$program" ] || { echo "no such architecture: $1 (x86 or x64)"; return; }
  if [ ! -x "$program" ]; then
    case $1 in
      x86) echo "32-bit Wine is not installed (wine32:i386; setup.sh installs it)" ;;
      x64) echo "64-bit Wine is not installed (wine64; setup.sh installs it)" ;;
    esac
    return
  fi
  output=$("$program" --version 2>&1) && return
  case $output in
    *"Exec format error"*)
      if [ "$1" = x86 ]; then
        # cmake/x86-route.sh says why no route to the 32-bit loader was found.
        echo "${CABRUN_X86_WHY:-this machine runs no 32-bit programs (cmake/x86-route.sh runs them through qemu)}"
        return
      fi ;;
  esac
  echo "the $1 Wine loader $program does not start: $(echo "$output" | head -n 1)"
}

why() {
  if [ -n "${CABRUN_WINE_RUNNABLE+set}" ]; then
    case " $CABRUN_WINE_RUNNABLE " in
      *" $1 "*) return ;;
      *) eval "reason=\${CABRUN_WINE_WHY_$1:-}"
         [ -n "$reason" ] && { echo "$reason"; return; } ;;
    esac
  fi
  probe "$1"
}

case ${1:-} in
  --runnable)
    runnable=
    for arch in x86 x64; do [ -n "$(why $arch)" ] || runnable="$runnable $arch"; done
    echo ${runnable# }
    exit 0 ;;
  --why)
    why "$2"
    exit 0 ;;
esac

arch=$1
shift
reason=$(why "$arch")
if [ -n "$reason" ]; then
  echo "skipped: $reason"
  exit 77
fi
WINELOADER=$(loader "$arch")
PATH=$bin:$PATH
export WINELOADER PATH
exec "$@"
