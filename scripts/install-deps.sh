#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the benchmarks
# and the demo need. Safe to run again: packages already present are kept
# and nothing is downloaded when all of them are installed.
#
# The Python modules are built for Python 3.10, which Debian 12 does not
# ship: it must come from pyenv (see scripts/find-python.sh); this script
# checks that it is there.
set -euo pipefail

packages=(
  # tool chain
  g++ cmake ninja-build pkg-config git
  # libraries the project links
  libfastrtps-dev libfastcdr-dev libspdlog-dev libfmt-dev libeigen3-dev
  pybind11-dev libassimp-dev libtinyxml2-dev libyaml-cpp-dev libfcl-dev zlib1g-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev liborocos-kdl-dev
  clang libclang-rt-14-dev
  # the simulated controller's control channel and the tests' harness
  nlohmann-json3-dev
  # Debian 12's own interpreter, which scripts/find-python.sh also considers
  python3
  # the private network namespace every DDS process runs in
  iproute2 util-linux
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: all ${#packages[@]} packages are installed"
else
  echo "install-deps: installing ${missing[*]}"
  sudo_cmd=()
  if [[ "$(id -u)" != 0 ]]; then
    sudo_cmd=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

root="$(cd "$(dirname "$0")/.." && pwd)"
if python="$("$root/scripts/find-python.sh" 3.10)"; then
  echo "install-deps: Python 3.10 is $python"
else
  echo "install-deps: the Python modules need Python 3.10 (for example 'pyenv install 3.10')" >&2
  exit 1
fi
