#!/bin/sh
# Installs the Debian packages the build and the tests need, only those
# that are missing.  Safe to run again and again.
set -eu

PACKAGES="cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev
          libtiff-dev libgif-dev libpng-dev libjpeg62-turbo-dev zlib1g-dev libdeflate-dev nettle-dev pkg-config man-db time gettext locales
          libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info libglib2.0-bin qtbase5-dev qt6-base-dev
          python3 python3-pil python3-pytest libexif-dev emscripten"
# The web page's tests drive a headless Chromium; where it cannot be
# installed they are skipped, and say so.
BROWSER_PACKAGES="chromium chromium-driver python3-selenium"

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=""
for p in $PACKAGES; do
    installed "$p" || missing="$missing $p"
done
browser_missing=""
for p in $BROWSER_PACKAGES; do
    installed "$p" || browser_missing="$browser_missing $p"
done

# The English message tests need an English locale besides C.UTF-8.
need_locale() { ! locale -a 2>/dev/null | grep -qi '^en_US\.utf-\?8$'; }

if [ -z "$missing$browser_missing" ] && ! need_locale; then
    exit 0
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ -n "$missing$browser_missing" ]; then
    echo "installing:$missing$browser_missing"
    $SUDO apt-get update -qq -o DPkg::Lock::Timeout=300 </dev/null
fi
# shellcheck disable=SC2086
if [ -n "$missing" ]; then
    $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=300 --no-install-recommends $missing </dev/null
fi
# shellcheck disable=SC2086
if [ -n "$browser_missing" ] &&
   ! $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=300 --no-install-recommends $browser_missing </dev/null; then
    echo "warning: could not install$browser_missing; the web page's browser tests will be skipped" >&2
fi
if need_locale; then
    echo "generating the locale en_US.UTF-8"
    $SUDO localedef -i en_US -f UTF-8 en_US.UTF-8
fi
