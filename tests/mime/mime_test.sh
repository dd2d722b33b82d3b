#!/bin/sh
# mime_test.sh ZEFA_XML UPDATE_MIME_DATABASE GIO - the MIME type as a desktop
# sees it: the package file in a temporary database, files typed by gio.
set -eu
XML=$1
UPDATE=$2
GIO=$3
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/data/mime/packages" "$WORK/files"
cp "$XML" "$WORK/data/mime/packages/"
XDG_DATA_HOME="$WORK/data" "$UPDATE" "$WORK/data/mime"

# A header's first bytes: the magic, then texts ending in the end-of-text byte.
header() { printf 'ZFDTartist            subtitle\r\ntitle\r\n\032'; }
header > "$WORK/files/photo"                              # magic at 0, no name to go by
{ printf '%128s' 'a foreign prefix'; header; } > "$WORK/files/prefixed"  # magic at 128
header > "$WORK/files/photo.ZF"
header > "$WORK/files/photo.zf"
printf '\211PNG\r\n\032\n\0\0\0\rIHDR' > "$WORK/files/foreign.ZF"
printf '\211PNG\r\n\032\n\0\0\0\rIHDR' > "$WORK/files/foreign"
{ printf '%127s' 'one byte short'; header; } > "$WORK/files/shifted"

status=0
type_of() {
    XDG_DATA_HOME="$WORK/data" XDG_DATA_DIRS=/usr/share "$GIO" info -a standard::content-type "$WORK/files/$1" |
        sed -n 's/^ *standard::content-type: //p'
}
expect() { # NAME TYPE
    got=$(type_of "$1")
    if [ "$got" = "$2" ]; then echo "ok   $1: $got"; else echo "FAIL $1: $got, expected $2"; status=1; fi
}
expect photo image/x-zefa
expect prefixed image/x-zefa
expect photo.ZF image/x-zefa
expect photo.zf image/x-zefa
# A name that matches one glob alone decides, as for every other type (a
# .png file holding text is image/png too); the loader then reads the
# content and refuses what is not ZEFA.
expect foreign.ZF image/x-zefa
expect foreign image/png
got=$(type_of shifted)
if [ "$got" = image/x-zefa ]; then echo "FAIL shifted: the magic one byte off is taken"; status=1; fi
exit $status
