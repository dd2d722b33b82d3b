#!/bin/sh
# uninstall.sh BUILD PREFIX - `make uninstall`: removes every file the last
# install listed in its manifest, the caches made from them in the prefix
# (the MIME database and the GTK loader cache the install messages told how
# to make), and the folders install.sh saw it make, when empty.  Then says
# what to run for what lies outside the prefix.  DESTDIR is honoured.
set -eu
BUILD=$1
PREFIX=$2
root="${DESTDIR:-}$PREFIX"
manifest=$BUILD/install_manifest.txt
test -f "$manifest" || { echo "nothing installed from $BUILD"; exit 1; }
n=0
while read -r f || [ -n "$f" ]; do
    if [ -e "${DESTDIR:-}$f" ] || [ -L "${DESTDIR:-}$f" ]; then
        rm -f "${DESTDIR:-}$f"
        n=$((n + 1))
    fi
done < "$manifest"
echo "removed $n files"

folders=$BUILD/install_folders.txt
made() { [ -f "$folders" ] && grep -qxF "$1" "$folders"; }
data=$(sed -n 's|/mime/packages/zefa.xml$||p' "$manifest" | head -n 1)
loaders=$(sed -n 's|/libpixbufloader-zefa.so$||p' "$manifest" | head -n 1)

# A MIME database generated in a folder this install made, from no other
# package than its own, is the install's too.
if [ -n "$data" ]; then
    mime="${DESTDIR:-}$data/mime"
    if [ -d "$mime" ] && made "$mime" && [ -z "$(ls -A "$mime/packages" 2>/dev/null)" ]; then
        [ ! -f "$mime/mime.cache" ] || echo "removed the MIME database generated in $mime"
        rm -rf "$mime"
    elif [ -d "$mime/packages" ] && [ -z "${DESTDIR:-}" ]; then
        echo "the MIME database in $mime still names image/x-zefa: update-mime-database $mime"
    fi
fi
# Python's compiled copies of the package, made when it was first imported.
package=$(sed -n 's|/zefa/__init__.py$|/zefa|p' "$manifest" | head -n 1)
[ -z "$package" ] || rm -rf "${DESTDIR:-}$package/__pycache__"
# The loader cache the install message offered, beside the loaders' folder.
if [ -n "$loaders" ] && [ -f "${DESTDIR:-}$loaders.cache" ]; then
    rm -f "${DESTDIR:-}$loaders.cache"
    echo "removed the GTK loader cache ${DESTDIR:-}$loaders.cache"
fi

# The folders the install made, deepest first, where nothing else lies.
if [ -f "$folders" ]; then
    kept=$(sort -r "$folders" | {
        k=0
        while read -r d || [ -n "$d" ]; do
            [ -d "$d" ] || continue
            rmdir "$d" 2>/dev/null || k=$((k + 1))
        done
        echo "$k"
    })
    [ "$kept" -eq 0 ] || echo "kept $kept folders the install made: other files lie in them"
    rm -f "$folders"
fi
rm -f "$manifest"

[ -z "${DESTDIR:-}" ] || exit 0
case "$PREFIX" in
/usr | /usr/) ;;
*)
    echo "If you followed the install's messages, also:"
    echo "  take $PREFIX out of PATH, MANPATH, PKG_CONFIG_PATH, LD_LIBRARY_PATH, XDG_DATA_DIRS,"
    echo "  QT_PLUGIN_PATH and PYTHONPATH (in ~/.profile too);"
    echo "  remove the link to the GTK loader you made in gdk-pixbuf's folder, if any, and renew its cache:"
    query=$(command -v gdk-pixbuf-query-loaders || ls /usr/lib/*/gdk-pixbuf-2.0/gdk-pixbuf-query-loaders 2>/dev/null | head -n 1)
    echo "    sudo find /usr/lib -lname '$PREFIX/*libpixbufloader-zefa.so' -delete"
    echo "    sudo ${query:-gdk-pixbuf-query-loaders} --update-cache"
    [ "$PREFIX" != /usr/local ] || echo "  sudo ldconfig; sudo update-mime-database /usr/local/share/mime"
    ;;
esac
case "$PREFIX" in
/usr | /usr/)
    echo "Then renew the system's caches: sudo update-mime-database /usr/share/mime"
    echo "  and sudo \$(ls /usr/lib/*/gdk-pixbuf-2.0/gdk-pixbuf-query-loaders) --update-cache"
    ;;
esac
