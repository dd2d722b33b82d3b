#!/bin/sh
# install.sh BUILD PREFIX - `make install`: cmake --install, and the list of
# the folders it made (BUILD/install_folders.txt), so that uninstall.sh
# removes them again when they are left empty.  DESTDIR is honoured.
set -eu
BUILD=$1
PREFIX=$2
root="${DESTDIR:-}$PREFIX"
before=$(mktemp)
trap 'rm -f "$before"' EXIT
if [ -d "$root" ]; then find "$root" -type d 2>/dev/null | sort > "$before"; fi
[ -d "$root" ] || echo "$root" > "$before.new"
DESTDIR="${DESTDIR:-}" cmake --install "$BUILD" --prefix "$PREFIX"
# every folder between a file installed and the prefix that was not there
{
    [ -f "$before.new" ] && cat "$before.new" && rm -f "$before.new"
    while read -r f || [ -n "$f" ]; do
        d=$(dirname "${DESTDIR:-}$f")
        while [ "${#d}" -gt "${#root}" ]; do
            echo "$d"
            d=$(dirname "$d")
        done
    done < "$BUILD/install_manifest.txt"
} | sort -u | comm -23 - "$before" > "$BUILD/install_folders.txt"
