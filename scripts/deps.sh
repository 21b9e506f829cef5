#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# they are missing. Safe to run repeatedly.
set -euo pipefail

packages=(
  # build and unit tests
  cmake ninja-build g++ clang clang-format-14 libclang-rt-14-dev pkg-config
  # line and branch coverage (scripts/coverage.sh)
  gcovr
  libgtest-dev googletest netbase util-linux libpng-dev python3
  # real RFB servers and the X tools the integration tests compare against
  xvfb x11vnc tigervnc-standalone-server tigervnc-tools x11-apps x11-utils
  x11-xserver-utils xdotool xclip imagemagick xterm fonts-dejavu-core fontconfig
  # the GTK3 viewer, its keyboard-layout tests and TigerVNC's viewer for the benchmark
  libgtk-3-dev libpixman-1-dev x11-xkb-utils xkb-data tigervnc-viewer
  # SOCKS proxies
  dante-server microsocks libio-socket-socks-perl
  # TLS (GnuTLS) and the test certificates (certtool); zlib and libjpeg-turbo
  # for the compressed encodings
  libgnutls28-dev gnutls-bin zlib1g-dev libturbojpeg0-dev
  # the benchmark's baseline client
  libvncserver-dev
  # installing and packaging: the outside consumer's build, the Debian
  # packages (dpkg-shlibdeps, lintian) and the fresh Debian root they are
  # installed into
  make dpkg-dev fakeroot lintian debootstrap
  # the Windows build and its tests under Wine
  g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev wine wine64 fonts-wine
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
