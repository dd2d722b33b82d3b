#!/bin/sh
# install_desktop.sh BUILD QUERY_LOADERS [PRELOAD] - installs BUILD into a
# fresh prefix and does what the install's messages say; then the
# thumbnailer entry's command, run as a desktop runs it, makes a PNG of a
# ZEFA file.  PRELOAD: the sanitizer runtime the desktop's programs need to
# load a module built with it.
set -eu
BUILD=$1
QUERY=$2
PRELOAD=${3:-}
WORK=$(mktemp -d)
trap 'chmod -R u+w "$WORK"; rm -rf "$WORK"' EXIT
PREFIX=$WORK/prefix
cmake --install "$BUILD" --prefix "$PREFIX" > "$WORK/install.log"
fail() { echo "$*"; cat "$WORK/install.log"; exit 1; }
desktop() { # a program of the desktop, which may load the module
    if [ -n "$PRELOAD" ]; then LD_PRELOAD=$PRELOAD ASAN_OPTIONS=detect_leaks=0 "$@"; else "$@"; fi
}

ENTRY=$PREFIX/share/thumbnailers/zefa.thumbnailer
[ -f "$PREFIX/share/mime/packages/zefa.xml" ] || fail "not installed: share/mime/packages/zefa.xml"
[ -f "$ENTRY" ] || fail "not installed: share/thumbnailers/zefa.thumbnailer"
MODULE=$(find "$PREFIX" -name libpixbufloader-zefa.so)
case $MODULE in */gdk-pixbuf-2.0/2.10.0/loaders/libpixbufloader-zefa.so) ;; *) fail "the loader: '$MODULE'" ;; esac
DIR=$(dirname "$MODULE")
grep -q "update-mime-database $PREFIX/share/mime" "$WORK/install.log" || fail "no word on the MIME database"
grep -q "GDK_PIXBUF_MODULE_FILE=$DIR.cache" "$WORK/install.log" || fail "no word on registering the loader"
# it needs nothing from the prefix, so it also loads where libzefa is not found
if ldd "$MODULE" | grep -q "libzefa\|not found"; then fail "the module needs: $(ldd "$MODULE")"; fi

# the steps the messages give
update-mime-database "$PREFIX/share/mime"
SYSDIR=$(pkg-config --variable gdk_pixbuf_moduledir gdk-pixbuf-2.0)
# shellcheck disable=SC2086
desktop "$QUERY" $SYSDIR/*.so "$DIR"/*.so > "$DIR.cache"
export XDG_DATA_DIRS="$PREFIX/share:/usr/local/share:/usr/share" GDK_PIXBUF_MODULE_FILE="$DIR.cache"

# the input a read-only file in a read-only folder, HOME read-only and
# empty, no display: only the output folder is writable
mkdir "$WORK/in" "$WORK/out" "$WORK/home"
"$BUILD/bin/write_sample" "$WORK/in/sample" >/dev/null # no name to go by
chmod 444 "$WORK/in/sample"
chmod 555 "$WORK/in" "$WORK/home"
grep -qx "MimeType=image/x-zefa;" "$ENTRY" || fail "the entry's types: $(grep MimeType "$ENTRY")"
TRY=$(sed -n 's/^TryExec=//p' "$ENTRY")
[ -x "$TRY" ] || { echo "no thumbnail made: $TRY is not installed"; exit 0; }
# shellcheck disable=SC2046
set -- $(sed -n 's/^Exec=//p' "$ENTRY" | sed "s|%s|48|; s|%u|file://$WORK/in/sample|; s|%i|$WORK/in/sample|; s|%o|$WORK/out/thumb.png|")
(cd "$WORK/in" && unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS && export HOME="$WORK/home" TMPDIR="$WORK/home" &&
    desktop "$@") || fail "the thumbnailer failed"
# two blocks of 32 x 24 side by side at 48 pixels: a PNG of 48 x 18
size=$(od -An -tx1 -j12 -N12 "$WORK/out/thumb.png" | tr -d ' \n')
[ "$size" = 494844520000003000000012 ] || fail "no PNG of 48 x 18: $size"
[ "$(ls -A "$WORK/out")" = thumb.png ] && [ -z "$(ls -A "$WORK/home")" ] &&
    [ "$(ls -A "$WORK/in")" = sample ] || fail "the thumbnailer wrote elsewhere"
echo "installed into $PREFIX: gio, the loader and the thumbnailer work"
