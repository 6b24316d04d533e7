#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make
  libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth x11-apps imagemagick
  fonts-wine fonts-liberation  # only recommended by Wine: named so they are there for sure
  dpkg-dev help2man lintian bash-completion python3-jsonschema file  # the package and its checks
)
# wine32 is deliberately absent: only the 64-bit Wine runs on this kind of machine.

# The analysts' tools the integration tests run, without their recommends:
# python3-binwalk alone would bring a Qt stack.
bare_packages=(file yara binwalk)

missing() {
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || echo "$package"
  done
}
mapfile -t missing < <(missing "${packages[@]}")
mapfile -t missing_bare < <(missing "${bare_packages[@]}")
[ ${#missing[@]} -eq 0 ] && [ ${#missing_bare[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]} ${missing_bare[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
[ ${#missing[@]} -eq 0 ] || $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
[ ${#missing_bare[@]} -eq 0 ] || $sudo apt-get install -y -qq --no-install-recommends "${missing_bare[@]}" >/dev/null
