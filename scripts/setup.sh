#!/usr/bin/env bash
# Installs, from Debian, everything the builds, their tests and the fuzz
# targets need.
# Idempotent: when every package is already present it only checks and exits.
set -euo pipefail

native_pkgs=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-dev
  g++-multilib
  mingw-w64
  qemu-user
  googletest libbenchmark-dev
  libfreetype-dev libfontconfig-dev libpng-dev
  libcli11-dev libopenimageio-dev libimath-dev nlohmann-json3-dev
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  fonts-dejavu-core fonts-dejavu-extra fonts-liberation
  python3 python3-pefile
  hyperfine time
  # the frei0r plug-in's interface and the video tools its tests run
  frei0r-plugins-dev ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad melt
)
i386_pkgs=(
  libfreetype-dev:i386 libfontconfig-dev:i386 libstdc++6:i386 libpng-dev:i386
)

# A package installed for two architectures answers once per architecture:
# ask for the native one by name, falling back for architecture-free ones.
native_arch=$(dpkg --print-architecture)
installed() {
  local status
  case $1 in
    *:*) status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) || return 1 ;;
    *) status=$(dpkg-query -W -f='${Status}' "$1:$native_arch" 2>/dev/null) ||
         status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) || return 1 ;;
  esac
  [ "$status" = "install ok installed" ]
}

missing=()
for p in "${native_pkgs[@]}" "${i386_pkgs[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one index; the lists already here may
# still hold every package, and the install below says when they do not.
$SUDO apt-get update -qq || echo "setup: warning: apt-get update failed; installing from the lists present"
install() { $SUDO apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >/dev/null; }
if ! install; then
  # When one architecture's security list is the one that failed, its
  # libraries cannot match the other architecture's newer ones version for
  # version, as multi-arch pairs must. The release's own versions exist for
  # both: take those for this install, even where that steps a few back.
  . /etc/os-release
  prefs=$(mktemp)
  trap 'rm -f "$prefs"' EXIT
  printf 'Package: *\nPin: release n=%s\nPin-Priority: 1001\n' "$VERSION_CODENAME" >"$prefs"
  echo "setup: retrying with $VERSION_CODENAME's own versions for both architectures"
  install --allow-downgrades -o Dir::Etc::Preferences="$prefs"
fi
echo "setup: done"
