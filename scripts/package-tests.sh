#!/usr/bin/env bash
# Telorus as others get it: installs the linux preset's build into a
# temporary prefix (static libraries) and a shared-library build into
# another, checks what the shared libraries export, builds the out-of-tree
# example (examples/gtk-embed) against them with find_package and with
# pkg-config and runs it against a real server until its first picture,
# then builds the Debian packages, runs lintian on them, tries the Windows
# bundle (when build/windows has made it) under Wine, and installs
# telorus-viewer and telorus-tools into a fresh Debian root (debootstrap)
# where they run against the same server. Needs root for the Debian root;
# TELORUS_CLEAN_ROOT=0 leaves that part out.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
jobs=$(nproc)

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for m in "${mounts[@]}"; do umount -l "$m" 2>/dev/null || true; done
  rm -rf "$work"
}
mounts=()
trap cleanup EXIT
fail() { echo "package-tests: $*" >&2; exit 1; }
# Runs a command with its output kept back unless it fails.
quiet() { "$@" >"$work/step.log" 2>&1 || { cat "$work/step.log"; fail "failed: $*"; }; }

# A server to look at: x11vnc on an Xvfb whose root is a known colour.
display=:$((600 + RANDOM % 300))
# -noreset: the root's colour outlives xsetroot, the server's only client then.
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
DISPLAY=$display xsetroot -solid '#336699'
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
x11vnc -display "$display" -rfbport "$port" -listen 127.0.0.1 -rfbportv6 -1 -forever -shared -nocursor \
  -noxrecord -nopw -quiet >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break; sleep 0.1; done
sleep 2  # x11vnc polls the screen: let it see the colour before the first client

# A snapshot of that server must show its colour.
expect_server_colour() {
  local colour
  colour=$(convert "$1" -format '%[hex:p{10,10}]' info:)
  [ "$colour" = 336699 ] || fail "$2 shows #$colour, not the server's #336699"
}

# The example's window goes on the same display; it ends after its first picture.
run_example() {
  local what=$1 binary=$2
  local out
  out=$(DISPLAY=$display timeout 60 "$binary" 127.0.0.1 "$port" --exit-after-picture) ||
    fail "the example ($what) did not show a picture: ${out:-no output}"
  [ "$out" = "first picture: 800x600" ] || fail "the example ($what) printed '$out'"
  echo "example ($what): $out"
}

echo "== install (static libraries)"
static=$work/static
quiet cmake --install build/linux --prefix "$static"
for f in include/telorus/viewer/Telorus.h include/telorus/platform/gtk/gtk_viewer.h include/telorus/telorus_version.h \
  lib/libtelorus-viewer.a lib/cmake/Telorus/TelorusConfig.cmake lib/cmake/Telorus/TelorusConfigVersion.cmake \
  lib/pkgconfig/telorus.pc lib/pkgconfig/telorus-gtk.pc bin/telorus-viewer bin/telorus-snap bin/telorus-nc \
  share/man/man1/telorus-viewer.1.gz share/applications/telorus-viewer.desktop; do
  [ -e "$static/$f" ] || fail "not installed: $f"
done
[ "$("$static/bin/telorus-snap" --version)" = "telorus-snap $(sed -n 's/^project(Telorus VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ] ||
  fail "telorus-snap --version does not give the project's version"

echo "== shared libraries"
shared_build=build/linux-shared
quiet cmake -S . -B "$shared_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_SHARED_LIBS=ON \
  -DTELORUS_BUILD_TESTS=OFF
quiet cmake --build "$shared_build" -j "$jobs" --target telorus-viewer telorus-snap telorus-nc
shared=$work/shared
quiet cmake --install "$shared_build" --prefix "$shared"
for lib in "$shared"/lib/libtelorus-*.so; do
  soname=$(objdump -p "$lib" | awk '/SONAME/ {print $2}')
  [ "$soname" = "$(basename "$lib").0.1" ] || fail "$lib has SONAME '$soname'"
  # Only our own namespace leaves the library.
  others=$(nm -D --defined-only "$lib" | awk '{print $3}' | c++filt | grep -v 'telorus::' || true)
  [ -z "$others" ] || fail "$lib exports symbols outside telorus::: $(echo "$others" | head -5)"
done
"$shared/bin/telorus-snap" 127.0.0.1:"$port" -o "$work/shared.png" 2>/dev/null ||
  fail "telorus-snap from the shared install failed"
expect_server_colour "$work/shared.png" "telorus-snap from the shared install"

echo "== the example outside the tree"
quiet cmake -S examples/gtk-embed -B "$work/ex-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$static"
quiet cmake --build "$work/ex-cmake"
run_example "find_package, static" "$work/ex-cmake/telorus-gtk-embed"
quiet cmake -S examples/gtk-embed -B "$work/ex-cmake-shared" -G Ninja -DCMAKE_PREFIX_PATH="$shared" \
  -DCMAKE_BUILD_RPATH="$shared/lib"
quiet cmake --build "$work/ex-cmake-shared"
run_example "find_package, shared" "$work/ex-cmake-shared/telorus-gtk-embed"
mkdir -p "$work/ex-pc"
cp examples/gtk-embed/main.cpp examples/gtk-embed/Makefile "$work/ex-pc/"
PKG_CONFIG_PATH=$static/lib/pkgconfig quiet make -C "$work/ex-pc"
run_example "pkg-config, static" "$work/ex-pc/telorus-gtk-embed"

echo "== Debian packages"
(cd build/linux && quiet cpack -G DEB)
debs=()
for p in telorus-viewer telorus-tools libtelorus-dev; do
  deb=$(ls build/linux/${p}_*.deb 2>/dev/null | head -1)
  [ -n "$deb" ] || fail "no package $p"
  debs+=("$deb")
  dpkg-deb -f "$deb" Package Version Depends | sed 's/^/  /'
done
# lintian: errors fail the run; warnings are shown.
lintian --tag-display-limit 0 "${debs[@]}" | tee "$work/lintian.txt" || true
if grep -q '^E:' "$work/lintian.txt"; then fail "lintian reports errors"; fi

# The Windows bundle, when the windows preset has made it: unpacked into a
# fresh Wine prefix, registered by its register.cmd, the control placed by
# the bundle's telorus-host on the same server, then unregistered.
bundle=$(ls build/windows/telorus-*-windows.zip 2>/dev/null | head -1 || true)
if [ -n "$bundle" ]; then
  echo "== the Windows bundle $(basename "$bundle") in a fresh Wine prefix"
  source scripts/wine-prefix.sh
  wine_prefix=$work/wine
  prepare_wine_prefix "$wine_prefix" null
  mkdir "$work/bundle"
  (cd "$work/bundle" && cmake -E tar xf "$src/$bundle")
  dir=$(ls -d "$work"/bundle/telorus-*-windows)
  for f in x64/TelorusXControl.dll x64/telorus-host.exe register.cmd unregister.cmd EMBEDDING.txt LICENSE.txt; do
    [ -f "$dir/$f" ] || fail "the bundle has no $f"
  done
  wdir="Z:$(echo "$dir" | tr / '\\')"
  class='HKCR\CLSID\{E8FAB492-D916-40EA-A025-41751B740A47}\InprocServer32'
  out=$(WINEPREFIX=$wine_prefix wine cmd /c "$wdir\\register.cmd" 2>&1 | tr -d '\r') || fail "register.cmd failed: $out"
  echo "$out"
  grep -q "Registered the 64-bit control" <<<"$out" || fail "register.cmd did not register the 64-bit control"
  WINEPREFIX=$wine_prefix wine reg query "$class" >/dev/null 2>&1 || fail "no class registration after register.cmd"
  host_out=$(WINEPREFIX=$wine_prefix timeout 120 wine "$dir/x64/telorus-host.exe" 127.0.0.1 "$port" --seconds 3 2>&1 |
    tr -d '\r') || true
  grep -q OnConnected <<<"$host_out" || fail "the bundle's telorus-host did not connect: $host_out"
  echo "telorus-host from the bundle: $(grep -c . <<<"$host_out") events, OnConnected among them"
  out=$(WINEPREFIX=$wine_prefix wine cmd /c "$wdir\\unregister.cmd" 2>&1 | tr -d '\r') || fail "unregister.cmd failed: $out"
  echo "$out"
  if WINEPREFIX=$wine_prefix wine reg query "$class" >/dev/null 2>&1; then fail "the class is still registered"; fi
  WINEPREFIX=$wine_prefix wineserver -k || true
fi

if [ "${TELORUS_CLEAN_ROOT:-1}" = 0 ] || [ "$(id -u)" -ne 0 ]; then
  echo "== clean Debian root: left out (TELORUS_CLEAN_ROOT=0 or not root)"
  exit 0
fi
echo "== telorus-viewer and telorus-tools in a fresh Debian 12 root"
root=$work/root
debootstrap --variant=minbase bookworm "$root" "${TELORUS_DEBIAN_MIRROR:-http://deb.debian.org/debian}" \
  >"$work/debootstrap.log" 2>&1 || { tail -20 "$work/debootstrap.log"; fail "debootstrap failed"; }
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc" && mounts+=("$root/proc")
mkdir -p "$root/tmp/.X11-unix" && mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix" && mounts+=("$root/tmp/.X11-unix")
cp build/linux/telorus-viewer_*.deb build/linux/telorus-tools_*.deb "$root/tmp/"
chroot "$root" /bin/sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
  /tmp/telorus-viewer_*.deb /tmp/telorus-tools_*.deb' >"$work/apt.log" 2>&1 ||
  { tail -20 "$work/apt.log"; fail "apt-get install of the packages failed"; }
chroot "$root" telorus-viewer --version
chroot "$root" telorus-snap 127.0.0.1:"$port" -o /tmp/screen.png 2>/dev/null || fail "telorus-snap failed in the root"
expect_server_colour "$root/tmp/screen.png" "telorus-snap in the root"
# The viewer stays up showing the server until it is stopped.
set +e
DISPLAY=$display timeout 8 chroot "$root" telorus-viewer 127.0.0.1:"$port" >"$work/viewer.log" 2>&1
rc=$?
set -e
[ $rc -eq 124 ] || { cat "$work/viewer.log"; fail "telorus-viewer in the root ended early (exit $rc)"; }
echo "telorus-viewer ran from its package in a fresh root"
