#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# missing, and lets the kernel run the 32-bit test build through qemu.
set -euo pipefail

packages=(
  cmake ninja-build g++ make ccache  # ccache: rebuilds of a clone reuse earlier compiles
  libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth x11-apps imagemagick
  fonts-wine fonts-liberation  # only recommended by Wine: named so they are there for sure
  g++-multilib qemu-user-static  # the native32 preset: -m32 builds, run under qemu-user
  dpkg-dev help2man lintian bash-completion python3-jsonschema file  # the package and its checks
  git  # make dist: the source tarball, and the last commit's time for every date in the release files
  emscripten chromium  # the page (the wasm preset) and its tests in a real browser
  python3-dev pybind11-dev python3-pytest python3-dask python3-distributed  # the module, its tests, vexmira-dask
  python3-venv python3-pip python3-build python3-setuptools python3-wheel  # pip install . and the wheel, tested
  python3-fsspec python3-aiohttp python3-pandas util-linux  # file objects over HTTP, dataframes, workers in their own mount namespace
  mypy  # the stubs, the errors and the example checked with --strict
  bc time  # scripts/bench-extract.sh: its figures and each command's peak memory
  mount  # the output tests: a small full disk (tmpfs) in a mount namespace of their own; setpriv is util-linux's
)
# Node.js and npm drive the browser tests (playwright-core, from the npm
# registry). A machine that has them from elsewhere keeps them; else Debian's.
command -v npm >/dev/null || packages+=(nodejs npm)
# wine32 is deliberately absent, and so is the i386 dpkg architecture: only the
# 64-bit Wine runs on this kind of machine. g++-multilib brings the 32-bit
# libraries as amd64 packages (lib32*); GoogleTest is built from /usr/src/googletest.

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
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if [ ${#missing[@]} -ne 0 ] || [ ${#missing_bare[@]} -ne 0 ]; then
  echo "Installing: ${missing[*]} ${missing_bare[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  [ ${#missing[@]} -eq 0 ] || $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  [ ${#missing_bare[@]} -eq 0 ] || $sudo apt-get install -y -qq --no-install-recommends "${missing_bare[@]}" >/dev/null
fi

# Debian registers no qemu handler for i386 on amd64: register one with flag F
# (the interpreter is opened now, so it works in any mount namespace), and
# mount binfmt_misc first when it is not.
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/qemu-i386" ]; then
  mountpoint -q "$binfmt" || $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
  i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s' ":qemu-i386:M::$i386_magic:$i386_mask:/usr/bin/qemu-i386-static:F" | $sudo tee "$binfmt/register" >/dev/null
fi

# The npm packages of the tests, exactly as each lockfile says: playwright-core
# for the browser tests, the Kaitai Struct compiler and runtime for the
# integration tests. npm ci runs again only when a lockfile changed since it last ran.
for tests in web integrations; do
  folder="$(cd "$(dirname "$0")/../tests/$tests" && pwd)"
  if ! cmp -s "$folder/package-lock.json" "$folder/node_modules/.vexmira-installed-lock"; then
    (cd "$folder" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
    cp "$folder/package-lock.json" "$folder/node_modules/.vexmira-installed-lock"
  fi
done
