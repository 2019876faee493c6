# Shared by the README commands: installs what is missing and builds both trees.
# Sourced, not run. Every path is relative to the repository root.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT" || exit 1

NATIVE_DIR=build/native
RELEASE_DIR=build/release
WIN32_DIR=build/win32
JOBS=$(nproc 2>/dev/null || echo 2)

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Debian packages the builds and tests need; wine32 needs the i386 architecture; locales holds
# the Japanese locale the end-to-end tests define. The other writers (oiiotool, GraphicsMagick,
# GStreamer) make the files the interop tests read; clang-format checks the layout.
PACKAGES=(cmake make g++ pkg-config file g++-mingw-w64-i686 wine wine32:i386 xvfb xauth
  x11-apps xdotool locales imagemagick ffmpeg libgtest-dev libbenchmark-dev clang clang-format
  libclang-rt-14-dev python3 python3-numpy python3-pefile openimageio-tools graphicsmagick
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good)

log() { printf '== %s\n' "$*"; }

ensure_packages() {
  local missing=()
  local pkg
  for pkg in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages; run as root: apt-get install ${missing[*]}" >&2
    return 1
  fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq &&
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build_native() {
  log "native build ($NATIVE_DIR, Debug with ASan and UBSan)"
  cmake -S . -B "$NATIVE_DIR" -DCMAKE_BUILD_TYPE=Debug -DZELKORA_SANITIZE=ON >/dev/null &&
    cmake --build "$NATIVE_DIR" -j "$JOBS"
}

# The tools a user runs: the sanitizer build above is about three times slower.
build_release() {
  log "release build of the tools ($RELEASE_DIR)"
  cmake -S . -B "$RELEASE_DIR" -DCMAKE_BUILD_TYPE=Release -DZELKORA_TESTS=OFF >/dev/null &&
    cmake --build "$RELEASE_DIR" -j "$JOBS" --target zelkora-frame zelkora-testpattern
}

build_win32() {
  log "win32 build ($WIN32_DIR, i686-w64-mingw32)"
  cmake -S . -B "$WIN32_DIR" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake >/dev/null &&
    cmake --build "$WIN32_DIR" -j "$JOBS"
}

# A fresh Wine prefix under the build folder, created once per folder.
wine_prefix() {
  local prefix="$ROOT/build/$1"
  if [ ! -f "$prefix/system.reg" ]; then
    rm -rf "$prefix"
    mkdir -p "$prefix"
    WINEPREFIX="$prefix" wineboot -i >/dev/null 2>&1
    WINEPREFIX="$prefix" wineserver -w
  fi
  printf '%s\n' "$prefix"
}
