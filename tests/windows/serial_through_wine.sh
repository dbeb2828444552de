#!/usr/bin/env bash
# The serial link end to end on Windows: the Linux stand-in reader on a pseudo-terminal,
# reached by the Windows build through Wine's COM port mapping ($WINEPREFIX/dosdevices).
# Usage: serial_through_wine.sh VANTREL_SIM COM_NUMBER PROGRAM.exe [ARGUMENTS...]
# runs the Windows program under Wine while COM<COM_NUMBER> leads to the stand-in.
set -euo pipefail
sim="$1" com="$2"
shift 2
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix}"
out="$(mktemp)"
"$sim" --serial >"$out" </dev/null &
sim_pid=$!
link="$WINEPREFIX/dosdevices/com$com"
cleanup() {
  # The Wine server holds the terminal while it lingers; let it go before the stand-in
  # closes its side, or the hang-up reaches the server.
  wineserver -w 2>/dev/null || true
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  rm -f "$out" "$link"
}
trap cleanup EXIT
for _ in $(seq 50); do
  [ -s "$out" ] && break
  sleep 0.1
done
pty="$(head -n 1 "$out")"
[ -c "$pty" ] || { echo "the stand-in printed no terminal: '$pty'"; exit 1; }
ln -sfn "$pty" "$link"
echo "COM$com -> $pty"
wine "$@" </dev/null
