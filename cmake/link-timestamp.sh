#!/bin/sh
# Linker launcher of every Windows program the build links (CMakeLists.txt): a fixed PE time
# stamp, so that two builds of the same sources give the same bytes (the header's checksum covers
# the stamp). GNU ld writes SOURCE_DATE_EPOCH (seconds) when it is set, else the time of the
# link: without it the program gets none (zero). Read at every link, not when configuring.
case ${SOURCE_DATE_EPOCH-} in
  "") exec "$@" -Wl,--no-insert-timestamp ;;
  *[!0-9]*)
    echo "SOURCE_DATE_EPOCH must be a number of seconds, not \"$SOURCE_DATE_EPOCH\"" >&2
    exit 1 ;;
  *) exec "$@" ;;
esac
