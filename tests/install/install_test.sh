#!/usr/bin/env bash
# Installs a built tree into a temporary prefix, builds the consumer project
# (tests/install/consumer) against the installed package with
# find_package(quiralbivek) and runs it; with a Python interpreter given,
# also imports the installed Python modules. Everything it writes lives in
# a temporary folder of its own, removed at the end.
#
#   install_test.sh BUILD_DIR CXX_COMPILER CXX_FLAGS [PYTHON]
set -euo pipefail
build_dir="$1"
cxx="$2"
cxx_flags="$3"
python="${4:-}"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/quiral-install-test.XXXXXX")"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" ||
  { cat "$work/install.log"; exit 1; }

# Every installed header lies under include/quiral/.
others="$(find "$prefix/include" -mindepth 1 -maxdepth 1 ! -name quiral)"
if [[ -n "$others" ]]; then
  echo "install_test: installed outside include/quiral/:" $others >&2
  exit 1
fi

cmake -S "$here/consumer" -B "$work/build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxx_flags"
cmake --build "$work/build"
"$work/build/consumer"

if [[ -n "$python" ]]; then
  PYTHONPATH="$(echo "$prefix"/lib/python*/site-packages)" PYTHONDONTWRITEBYTECODE=1 \
    "$python" -c 'import quiralvek, quiralbivek; print("installed modules:", quiralbivek.RobotPair.__name__)'
fi
