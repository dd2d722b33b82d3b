#!/bin/sh
# install_test.sh BUILD SOURCE - installs BUILD into a temporary prefix and
# builds the examples against the installed library as outside programs
# would: the C one through pkg-config, the C++ one through find_package.
set -eu
BUILD=$1
SOURCE=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
PREFIX=$WORK/prefix
notes=$(sh "$SOURCE/scripts/install.sh" "$BUILD" "$PREFIX" 2>&1)
# a prefix the system does not search: the install says what finds each piece
for v in PATH MANPATH PKG_CONFIG_PATH LD_LIBRARY_PATH XDG_DATA_DIRS update-mime-database QT_PLUGIN_PATH PYTHONPATH; do
    echo "$notes" | grep -q "$v" || { echo "the install does not mention $v"; exit 1; }
done
for f in bin/zfenc bin/zfdec bin/zfconv bin/GIF_CONV.EXE share/man/man1/zfenc.1 share/man/man5/zefa.5; do
    [ -e "$PREFIX/$f" ] || { echo "not installed: $f"; exit 1; }
done
LIBDIR=$(dirname "$(find "$PREFIX" -name 'libzefa.so' | head -n 1)")

# C, through pkg-config
PKG_CONFIG_PATH=$LIBDIR/pkgconfig
export PKG_CONFIG_PATH
cc -o "$WORK/write_sample" "$SOURCE/examples/write_sample.c" $(pkg-config --cflags --libs zefa)
LD_LIBRARY_PATH=$LIBDIR "$WORK/write_sample" "$WORK/sample.ZF" >/dev/null

# C++, through find_package
mkdir "$WORK/cxx"
cp "$SOURCE/examples/list_blocks.cpp" "$WORK/cxx/"
cat > "$WORK/cxx/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.20)
project(list_blocks CXX)
find_package(zefa REQUIRED)
add_executable(list_blocks list_blocks.cpp)
target_link_libraries(list_blocks PRIVATE zefa::zefa)
set_target_properties(list_blocks PROPERTIES CXX_STANDARD 17)
CM
cmake -S "$WORK/cxx" -B "$WORK/cxx/build" -DCMAKE_PREFIX_PATH="$PREFIX" >/dev/null
cmake --build "$WORK/cxx/build" >/dev/null
out=$(LD_LIBRARY_PATH=$LIBDIR "$WORK/cxx/build/list_blocks" "$WORK/sample.ZF")
echo "$out"
echo "$out" | grep -q "block 1: ZFBM\|block 1: ZFBI" || { echo "unexpected listing"; exit 1; }
# the installed programs run from the prefix and find their converters there
"$PREFIX/bin/zfconv" --version

# Python: the installed package finds the installed library by itself
# (no library path given), and Pillow opens a file through it
PYDIR=$(dirname "$(find "$PREFIX" -path '*/zefa/_installed.py' | head -n 1)")
[ "$PYDIR" != . ] || { echo "not installed: the Python package zefa"; exit 1; }
if /usr/bin/python3 -c 'import PIL' 2>/dev/null; then
    env -u ZEFA_LIBRARY -u LD_LIBRARY_PATH PYTHONPATH="$(dirname "$PYDIR")" /usr/bin/python3 -c '
import sys, zefa.pillow
from PIL import Image
assert zefa._lib.lib._name.startswith(sys.argv[2]), zefa._lib.lib._name
with Image.open(sys.argv[1]) as im:
    im.load()
    print("Python:", im.format, im.mode, im.size)' "$WORK/sample.ZF" "$PREFIX/"
fi

# make uninstall: the files, the caches made as the install told, the
# folders it made: nothing is left of the prefix.  (Other tests install
# from the same build at the same time, so its manifest may be theirs: the
# prefix's own files and folders stand in for it.)
STATE=$WORK/state
mkdir "$STATE"
find "$PREFIX" ! -type d | sort > "$STATE/install_manifest.txt"
find "$PREFIX" -type d | sort > "$STATE/install_folders.txt"
if command -v update-mime-database >/dev/null; then
    update-mime-database "$PREFIX/share/mime" 2>/dev/null
fi
loaders=$(dirname "$(find "$PREFIX" -name 'libpixbufloader-zefa.so' | head -n 1)")
[ "$loaders" = . ] || echo "made as the install said" > "$loaders.cache"
sh "$SOURCE/scripts/uninstall.sh" "$STATE" "$PREFIX" >/dev/null
if [ -e "$PREFIX" ]; then
    echo "left after make uninstall:"; find "$PREFIX"; exit 1
fi
