#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the benchmarks
# and the demo need. Safe to run again: packages already present are kept
# and nothing is downloaded when all of them are installed.
set -euo pipefail

packages=(
  # tool chain
  g++ cmake ninja-build pkg-config git
  # libraries the project links
  libfastrtps-dev libfastcdr-dev libspdlog-dev libfmt-dev libeigen3-dev
  pybind11-dev libassimp-dev libtinyxml2-dev libyaml-cpp-dev libfcl-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev liborocos-kdl-dev
  clang libclang-rt-14-dev
  # the simulated controller's control channel and the tests' harness
  nlohmann-json3-dev
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
