# Fingers for the stand-in reader, for scripts that capture (sourced, not run).
#
#   standin_choose BUILD_DIR FINGERPRINTS_DIR   picks a road; sets STANDIN_ROAD, STANDIN_NOTE
#   standin_run FINGER "IMPRESSIONS" CMD...      runs CMD with that finger on the reader
#
# CMD gets "$STANDIN_PORT" and "$STANDIN_CAPTURE" to place among its arguments. The roads,
# best first:
#   synthetic  the stand-in makes fingers itself: VANTREL_SIMULATOR_FINGER=<n>, read when
#              the library loads, so each CMD is a process of its own
#   images     the stand-in takes a folder of PGM images: VANTREL_SIMULATOR_IMAGES=DIR
#   serial     vantrel-sim --serial on a pseudo-terminal with the images queued, as COM3;
#              features are extracted on the host from its images (--host-extract)
#   none       no fingers: captures cannot run
# The images roads take real fingers (FINGER 1..10, impressions 1..8) from the
# FVC2002_DB1_B set of FINGERPRINTS_DIR.

standin_choose() {
  STANDIN_BUILD="$1"
  STANDIN_IMAGES="$2/FVC2002_DB1_B"
  STANDIN_CLI="$STANDIN_BUILD/tools/vantrel"
  STANDIN_PORT="--port=0"
  STANDIN_CAPTURE=""
  if VANTREL_SIMULATOR=disk VANTREL_SIMULATOR_FINGER=1 "$STANDIN_CLI" --json finger 2>/dev/null |
      grep -q '"finger": true'; then
    STANDIN_ROAD=synthetic
    STANDIN_NOTE="the stand-in's synthetic fingers (VANTREL_SIMULATOR_FINGER)"
    return 0
  fi
  if [ ! -f "$STANDIN_IMAGES/101_1.pgm" ]; then
    STANDIN_ROAD=none
    STANDIN_NOTE="no fingers: the stand-in has no synthetic fingers and $STANDIN_IMAGES is absent"
    return 0
  fi
  local probe
  probe="$(mktemp -d)"
  ln -s "$STANDIN_IMAGES/101_1.pgm" "$probe/1.pgm"
  if VANTREL_SIMULATOR=disk VANTREL_SIMULATOR_IMAGES="$probe" "$STANDIN_CLI" --json finger \
      2>/dev/null | grep -q '"finger": true'; then
    STANDIN_ROAD=images
    STANDIN_NOTE="real images of $STANDIN_IMAGES through VANTREL_SIMULATOR_IMAGES"
  else
    STANDIN_ROAD=serial
    STANDIN_PORT="--port=3"
    STANDIN_CAPTURE="--host-extract"
    STANDIN_NOTE="real images of $STANDIN_IMAGES queued into vantrel-sim on COM3 (the stand-in has no fingers of its own yet)"
  fi
  rm -rf "$probe"
}

standin_run() {
  local finger="$1" impressions="$2"
  shift 2
  local files=() i
  for i in $impressions; do
    files+=("$STANDIN_IMAGES/$((100 + finger))_$i.pgm")
  done
  case "$STANDIN_ROAD" in
    synthetic)
      VANTREL_SIMULATOR=disk VANTREL_SIMULATOR_FINGER="$finger" "$@" ;;
    images)
      local dir n=0 rc=0
      dir="$(mktemp -d)"
      for i in "${files[@]}"; do
        n=$((n + 1))
        ln -s "$i" "$dir/$n.pgm"
      done
      VANTREL_SIMULATOR=disk VANTREL_SIMULATOR_IMAGES="$dir" "$@" || rc=$?
      rm -rf "$dir"
      return $rc ;;
    serial)
      local args=() out pid tty rc=0 tries=0
      for i in "${files[@]}"; do args+=(--image "$i"); done
      out="$(mktemp)"
      "$STANDIN_BUILD/tools/vantrel-sim" --serial "${args[@]}" >"$out" &
      pid=$!
      while [ ! -s "$out" ] && [ $tries -lt 100 ]; do sleep 0.05; tries=$((tries + 1)); done
      tty="$(head -n 1 "$out")"
      (unset VANTREL_SIMULATOR; export VANTREL_COM3="$tty"; "$@") || rc=$?
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
      rm -f "$out"
      return $rc ;;
    *)
      echo "no fingers for the stand-in: $STANDIN_NOTE" >&2
      return 2 ;;
  esac
}
