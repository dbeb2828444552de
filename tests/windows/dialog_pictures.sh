#!/usr/bin/env bash
# Pictures of the Win32 capture dialog under Wine and Xvfb in the three languages, for
# docs/: the dialog host test saves its window before it presses Cancel. The Chinese
# code pages come from locales compiled into a scratch folder (LOCPATH), so the system's
# locales stay as they are. Usage: dialog_pictures.sh BUILD_DIR OUT_DIR
set -euo pipefail
build="$1" out="$2"
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$out"
for row in "en en_US 1252" "zh-cn zh_CN 936" "zh-tw zh_TW 950"; do
  set -- $row
  name="$1" locale="$2"
  localedef -i "$locale" -f UTF-8 "$scratch/$locale.UTF-8" >/dev/null 2>&1 || true
  LOCPATH="$scratch" LANG="$locale.UTF-8" VANTREL_DIALOG_SHOT="$scratch/$name.bmp" \
    xvfb-run -a -s "-screen 0 1024x768x24" \
    wine explorer /desktop=vantrel,640x400 "$build/tests/windows/wtest_dialog_host.exe" \
    </dev/null >"$scratch/$name.log" 2>&1 || { cat "$scratch/$name.log"; exit 1; }
  grep -q "PASSED" "$scratch/$name.log" || { cat "$scratch/$name.log"; exit 1; }
  convert "$scratch/$name.bmp" "$out/dialog-windows-$name.png"
  echo "$out/dialog-windows-$name.png (code page $3)"
done
