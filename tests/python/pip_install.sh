#!/usr/bin/env bash
# `pip install --no-build-isolation` of the binding with Debian's setuptools, into a
# temporary folder, and the installed package against the stand-in.
# Usage: pip_install.sh PYTHON SOURCE_DIR
set -euo pipefail
python="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r "$2/python" "$work/src"  # setuptools writes its build files beside the sources
"$python" -m pip install --quiet --no-build-isolation --no-index --target "$work/site" \
  "$work/src" 2>&1 | grep -v "as the 'root' user" || true
cd "$work"
VANTREL_SIMULATOR=disk PYTHONPATH="$work/site" "$python" -c '
import vantrel
assert vantrel.__file__.startswith("'"$work/site"'"), vantrel.__file__
assert vantrel.detect() == 0
print("ok: installed with pip,", vantrel.Reader(0).version().decode())'
