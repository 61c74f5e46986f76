#!/usr/bin/env bash
# Prints the path of a Python interpreter of the given version (default
# 3.10), the one the Python modules are built for and tested with:
#
#   scripts/find-python.sh          -> e.g. /root/.pyenv/versions/3.10.13/bin/python3.10
#   scripts/find-python.sh 3.11
#
# Looks, in this order, at
#   1. `pyenv prefix VERSION`, when pyenv is on PATH;
#   2. $PYENV_ROOT/versions/VERSION*/bin (default ~/.pyenv), newest first,
#      for machines where pyenv is installed but not on PATH;
#   3. pythonVERSION on PATH.
# A candidate counts only when it runs and reports that version. Ends with
# status 1 and a message on standard error when there is none.
set -euo pipefail
version="${1:-3.10}"
if [[ ! "$version" =~ ^[0-9]+\.[0-9]+$ ]]; then
  echo "find-python: expected a version such as 3.10, got '$version'" >&2
  exit 2
fi

# True when $1 is an interpreter of exactly $version.
is_wanted() {
  [[ -n "$1" && -x "$1" ]] || return 1
  local reported
  reported="$("$1" -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null)" || return 1
  [[ "$reported" == "$version" ]]
}

candidates=()
if command -v pyenv >/dev/null 2>&1; then
  if prefix="$(pyenv prefix "$version" 2>/dev/null)"; then
    # pyenv prints one prefix per line when several versions are selected.
    while IFS= read -r p; do
      [[ -n "$p" ]] && candidates+=("$p/bin/python$version")
    done <<<"$prefix"
  fi
fi
pyenv_root="${PYENV_ROOT:-${HOME:-/root}/.pyenv}"
if [[ -d "$pyenv_root/versions" ]]; then
  while IFS= read -r dir; do
    [[ -n "$dir" ]] && candidates+=("$dir/bin/python$version")
  done < <(find "$pyenv_root/versions" -mindepth 1 -maxdepth 1 \
             \( -name "$version" -o -name "$version.*" \) 2>/dev/null | sort -rV)
fi
if on_path="$(command -v "python$version" 2>/dev/null)"; then
  candidates+=("$on_path")
fi

for candidate in "${candidates[@]}"; do
  if is_wanted "$candidate"; then
    echo "$candidate"
    exit 0
  fi
done

echo "find-python: no Python $version interpreter found (looked at 'pyenv prefix $version'," \
     "$pyenv_root/versions/$version*/bin and python$version on PATH);" \
     "install Python $version, for example with 'pyenv install $version'" >&2
exit 1
