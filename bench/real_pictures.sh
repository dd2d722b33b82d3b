#!/bin/sh
# bench/real_pictures.sh DIR - real pictures for bench/compare and
# bench/batch_scaling.sh, taken from Debian's packages (installed when
# missing) and written into DIR as GROUP_NAME-WxH.RGB with its .FAL
# companion (for zfenc), .ppm (for netpbm, cwebp) and .png (for zfconv):
#
#   photo    photographs from mate-backgrounds, scaled to 640 and 1000 wide (one also 1920)
#   art      rendered desktop backgrounds from gnome-backgrounds, 1000 wide
#   screen   screenshots and a text listing from valgrind's manual
#   sprites  palette and pixel art: freeciv's tiles, lbreakout2's backdrops,
#            an Adwaita icon (transparent areas laid on white)
#
# Pictures are scaled with netpbm's pamscale (photographs and art only:
# screen and pixel pictures keep their own pixels).
set -eu
OUT=${1:?usage: real_pictures.sh DIR}
mkdir -p "$OUT"

need=""
for p in netpbm webp mate-backgrounds gnome-backgrounds valgrind freeciv-data lbreakout2-data adwaita-icon-theme; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need="$need $p"
done
if [ -n "$need" ]; then
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    echo "installing:$need" >&2
    $SUDO apt-get update -qq -o DPkg::Lock::Timeout=300 </dev/null
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=300 \
        --no-install-recommends $need </dev/null >/dev/null
fi

# put NAME: a PPM on standard input as NAME-WxH.{ppm,RGB,FAL,png}
put() {
    tmp="$OUT/.put.ppm"
    cat >"$tmp"
    set -- "$1" $(pamfile "$tmp" | sed -n 's/.* \([0-9]*\) by \([0-9]*\) .*/\1 \2/p')
    base="$OUT/$1-$2x$3"
    mv "$tmp" "$base.ppm"
    # the raw pixels: the PPM (maxval 255) without its header
    tail -c $(($2 * $3 * 3)) "$base.ppm" >"$base.RGB"
    printf 'F_ALL(V1.00)\n%5d%6d%6d%6d\n   1.00   255   255   255   0\n' "$2" "$3" 0 0 >"$base.FAL"
    pnmtopng "$base.ppm" >"$base.png" 2>/dev/null
}

# photographs and rendered art, at several widths
for entry in \
    photo_ladybird:/usr/share/backgrounds/mate/nature/LadyBird.jpg:640,1000 \
    photo_garden:/usr/share/backgrounds/mate/nature/Garden.jpg:640,1000 \
    photo_storm:/usr/share/backgrounds/mate/nature/Storm.jpg:640,1000,1920; do
    name=${entry%%:*}; rest=${entry#*:}; jpg=${rest%%:*}
    for w in $(echo "${rest#*:}" | tr , ' '); do
        jpegtopnm "$jpg" 2>/dev/null | pamscale -width "$w" | pnmdepth 255 | put "$name"
    done
done
for entry in art_adwaita:adwaita-l art_truchet:truchet-l; do
    dwebp -quiet "/usr/share/backgrounds/gnome/${entry#*:}.webp" -ppm -o "$OUT/.art.ppm"
    for w in 1000; do
        pamscale -width "$w" "$OUT/.art.ppm" | pnmdepth 255 | put "${entry%%:*}"
    done
    rm -f "$OUT/.art.ppm"
done

# pictures kept at their own pixels
png() { pngtopnm -mix -background=#ffffff "$2" 2>/dev/null | put "$1"; }
png screen_kcachegrind /usr/share/doc/valgrind/html/images/kcachegrind_xtree.png
png screen_listing /usr/share/doc/valgrind/html/images/dh-tree.png
png sprites_cities /usr/share/games/freeciv/amplio2/cities.png
png sprites_terrain /usr/share/games/freeciv/amplio2/terrain1.png
png sprites_backdrop /usr/share/games/lbreakout2/gfx/back1.png
png sprites_icon /usr/share/icons/Adwaita/512x512/mimetypes/image-x-generic.png
