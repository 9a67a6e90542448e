#!/bin/sh
# x86-route.sh COMMAND...: runs COMMAND where the 32-bit Wine loader, an i386 Linux program, can
# start, and tells COMMAND how in CABRUN_X86_ROUTE (and, in words, CABRUN_X86_HOW):
#   native     the kernel runs 32-bit programs;
#   namespace  through qemu-user 10, registered for i386 programs in a private binfmt_misc of a
#              user and mount namespace: only COMMAND and its children see it (Linux 6.7 or later);
#   root       the same registration machine-wide under a name of its own, as root where the
#              kernel has no private binfmt_misc; removed again however COMMAND ends;
#   none       none of these: CABRUN_X86_WHY says why, and the x86 Wine tests skip.
# Each route is tried by starting the loader through it. CABRUN_X86=emulated takes qemu even
# where 32-bit programs run natively. setup.sh installs qemu-user; never run it through here.
set -u
loader=/usr/lib/wine/wine
qemu=/usr/libexec/qemu-binfmt/i386-binfmt-P
# i386 ELF executables and shared objects, as Debian's qemu-user registers them. Flags: O and F
# open the interpreter once, at registration; P hands it the program's own argv[0], which
# Debian's qemu takes only when started under a name that ends in -binfmt-P.
rule_tail=':M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':OPF'

run() {
  CABRUN_X86_ROUTE=$1 CABRUN_X86_HOW=$2
  export CABRUN_X86_ROUTE CABRUN_X86_HOW
  shift 2
  exec "$@"
}

# Inside the namespace (second stage): a private binfmt_misc, the rule, then COMMAND.
if [ "${1:-}" = --inside ]; then
  shift
  # Mounted where the system's lies, in this mount namespace only, and left mounted: the kernel
  # drops a namespace's rules with its last mount. The rule must be there and on before the loader
  # is tried, or a kernel that runs 32-bit programs would answer for qemu.
  entries=/proc/sys/fs/binfmt_misc
  mount -t binfmt_misc binfmt_misc "$entries" 2>/dev/null &&
    printf '%s\n' ":cabrun-i386$rule_tail" > "$entries/register" 2>/dev/null &&
    [ "$(head -n 1 "$entries/cabrun-i386" 2>/dev/null)" = enabled ] &&
    "$loader" --version >/dev/null 2>&1 || exit 125
  [ "${1:-}" = --probe ] && exit 0
  run namespace "through qemu user emulation ($qemu_version, in a private binfmt_misc)" "$@"
fi

[ -n "${CABRUN_X86_ROUTE:-}" ] && exec "$@"  # already on a route
[ $# -gt 0 ] || { echo "usage: x86-route.sh COMMAND..." >&2; exit 2; }

if [ ! -x "$loader" ]; then
  CABRUN_X86_WHY="32-bit Wine is not installed (wine32:i386; setup.sh installs it)"
  export CABRUN_X86_WHY
  run none "$CABRUN_X86_WHY" "$@"
fi
if [ "${CABRUN_X86:-}" != emulated ] && "$loader" --version >/dev/null 2>&1; then
  run native "natively" "$@"
fi

qemu_version=$(qemu-i386 --version 2>/dev/null | sed -n '1s/ *(.*//p')
case $qemu_version in
  *" version "[1-9][0-9].*) ;;
  *)
    CABRUN_X86_WHY="this machine runs no 32-bit programs and qemu-user 10 or later is not installed (setup.sh installs it)"
    [ -n "$qemu_version" ] && CABRUN_X86_WHY="this machine runs no 32-bit programs and $qemu_version cannot start 32-bit Wine (10 or later can; setup.sh installs it)"
    export CABRUN_X86_WHY
    run none "$CABRUN_X86_WHY" "$@" ;;
esac
export qemu_version
if [ ! -x "$qemu" ]; then
  CABRUN_X86_WHY="$qemu is missing (Debian's qemu-user provides it)"
  export CABRUN_X86_WHY
  run none "$CABRUN_X86_WHY" "$@"
fi

self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
if unshare --user --map-root-user --mount --fork sh "$self" --inside --probe >/dev/null 2>&1; then
  exec unshare --user --map-root-user --mount --fork sh "$self" --inside "$@"
fi

binfmt=/proc/sys/fs/binfmt_misc
if [ "$(id -u)" = 0 ] && [ -w "$binfmt/register" ]; then
  # Rules of earlier runs that were killed before they could remove theirs.
  for stale in "$binfmt"/cabrun-i386-*; do
    [ -e "$stale" ] && ! kill -0 "${stale##*-}" 2>/dev/null && echo -1 > "$stale"
  done
  rule=$binfmt/cabrun-i386-$$
  if printf '%s\n' ":cabrun-i386-$$$rule_tail" > "$binfmt/register" 2>/dev/null; then
    trap 'echo -1 > "$rule" 2>/dev/null' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
    if "$loader" --version >/dev/null 2>&1; then
      CABRUN_X86_ROUTE=root CABRUN_X86_HOW="through qemu user emulation ($qemu_version, registered machine-wide for this run)"
      export CABRUN_X86_ROUTE CABRUN_X86_HOW
      "$@"
      exit $?
    fi
    echo -1 > "$rule" 2>/dev/null
    trap - EXIT INT TERM HUP
  fi
fi

CABRUN_X86_WHY="this machine runs no 32-bit programs, and qemu-user could not be registered for them (no private binfmt_misc in a user namespace, Linux 6.7 or later, and not root)"
export CABRUN_X86_WHY
run none "$CABRUN_X86_WHY" "$@"
