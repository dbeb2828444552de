#!/usr/bin/env bash
# The vantrel program's answers to right and wrong command lines, against the stand-in.
# Usage: cli_checks.sh VANTREL_PROGRAM FINGERPRINTS_DIR
set -uo pipefail
v="$1"
images="$2/FVC2002_DB1_B"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export VANTREL_SIMULATOR=disk
failures=0

# check STATUS PATTERN ARGS...: the exit status, and a line of the output matching PATTERN.
check() {
  local want="$1" pattern="$2" rc=0
  shift 2
  "$v" "$@" >"$work/out" 2>&1 || rc=$?
  if [ "$rc" -ne "$want" ] || ! grep -Eq -- "$pattern" "$work/out"; then
    echo "FAIL: vantrel $* -> exit $rc, wanted $want and /$pattern/:"
    sed 's/^/    /' "$work/out"
    failures=$((failures + 1))
  fi
}

printf 'not a record' >"$work/bad.txt"
check 2 "enrol: expects TEMPLATE" enrol
check 2 "enrol: unknown option '--bogus'" enrol --bogus t.txt
check 2 "'x' is not a level 0..9" level x
check 2 "--level '12' is not a level" verify --level 12 t.txt
check 2 "'b' is one too many" quality a b
check 2 "no command 'frobnicate'" frobnicate
check 2 "--port 'COM3' is not a number" --port COM3 detect
check 2 "bmp: 'resize'" bmp resize a.bmp
check 0 "usage: vantrel .* enrol TEMPLATE" enrol --help
check 0 "usage: vantrel .* enrol TEMPLATE" help enrol
check 0 '^\{"port": 0, "link": "USB disk link"\}$' --json detect
check 0 '"version": "MTR-771A V1.00"' version --json
check 0 "security level 7" level 7
check 2 "FPICheckFinger\(5\) answered -1: failed: not served on this port" --port 5 finger
check 2 '"call": "FPIFeature\(10\)", "result": -3, "meaning": "port outside 0..9' \
  --json --port 10 enrol "$work/t.txt"
check 2 "bad.txt: not a record: need 256 raw bytes" quality "$work/bad.txt"
check 2 "name the image .pgm, .bmp or .png" extract "$work/bad.txt"
check 0 "^  -12  the reply is longer than its buffer" codes

if [ -f "$images/101_1.pgm" ]; then
  # One record in its three forms: told apart by content, the same record each time.
  for form in nibble base64 raw; do
    check 0 "quality" extract --reader-form --form "$form" "$images/101_1.pgm" "$work/r.$form"
  done
  [ "$(wc -c <"$work/r.raw")" -eq 256 ] && [ "$(wc -c <"$work/r.base64")" -eq 345 ] ||
    { echo "FAIL: record file sizes"; failures=$((failures + 1)); }
  q="$("$v" quality "$work/r.nibble")"
  for form in base64 raw; do check 0 "^$q$" quality "$work/r.$form"; done
  check 2 "answered -3: .*same text" match "$work/r.raw" "$work/r.base64"
  "$v" extract --reader-form "$images/102_1.pgm" "$work/other.txt" >/dev/null
  check 1 '"match": false' --json match --level 5 "$work/r.nibble" "$work/other.txt"
  # Images round-trip through every format in display form.
  check 0 "written" extract --reader-form "$images/101_1.pgm" "$work/a.txt"
  "$v" bmp convert "$images/101_1.pgm" "$work/x.png" >/dev/null
  "$v" bmp convert "$work/x.png" "$work/x.bmp" >/dev/null
  "$v" bmp convert "$work/x.bmp" "$work/y.pgm" >/dev/null
  cmp -s "$images/101_1.pgm" "$work/y.pgm" ||
    { echo "FAIL: PGM -> PNG -> BMP -> PGM changed the pixels"; failures=$((failures + 1)); }
  # A BMP of another layout: 24-bit colour, rows stored top-down (negative height).
  python3 - "$images/101_1.pgm" "$work/top.bmp" <<'PY'
import struct, sys
pixels = open(sys.argv[1], "rb").read()[15:]
rows = b"".join(bytes(b for p in pixels[r * 152:(r + 1) * 152] for b in (p, p, p))
                for r in range(200))
header = struct.pack("<2sIHHIIiiHHIIiiII", b"BM", 54 + len(rows), 0, 0, 54, 40, 152, -200,
                     1, 24, 0, len(rows), 0, 0, 0, 0)
open(sys.argv[2], "wb").write(header + rows)
PY
  "$v" bmp convert "$work/top.bmp" "$work/top.pgm" >/dev/null
  cmp -s "$images/101_1.pgm" "$work/top.pgm" ||
    { echo "FAIL: a top-down 24-bit BMP was read wrongly"; failures=$((failures + 1)); }
else
  echo "SKIPPED: the record and image checks: no fingerprint images in $images"
fi

# --dialog runs the library's capture window: with Qt's offscreen platform the stand-in's
# synthetic finger goes through it; with no platform for Qt it answers -1 at once. Qt's
# and fontconfig's caches live until exit on purpose, so a sanitizer build leaves them be.
printf 'leak:libfontconfig.so\nleak:libqoffscreen.so\n' >"$work/qt-leaks"
export LSAN_OPTIONS="suppressions=$work/qt-leaks"
QT_QPA_PLATFORM=offscreen check 0 "template written" enrol --dialog "$work/dialog.txt"
QT_QPA_PLATFORM=offscreen check 0 "at level 5: match" verify --dialog --level 5 "$work/dialog.txt"
DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM= \
  check 2 "FPITemplate\(0\) answered -1" enrol --dialog "$work/none.txt"

[ "$failures" -eq 0 ] && echo "ok: command-line checks" || exit 1
