# win_journey_lib.sh is sourced by the Wine journeys with the real kqsyncd. It
# gives them a free X display (Xvfb), the kqsyncd server on loopback, the check
# helpers and the ui_driver. Before sourcing: build (the Windows build folder)
# and work (the journey's folder, with data/ for kqsyncd).
#   winj_start_display; winj_start_server     (both ended by the EXIT trap)
#   check NAME COMMAND...; wait_for SECONDS COMMAND...; drive ARGS...
winpath() { printf 'Z:%s' "${1//\//\\}"; }
failures=0
pass() { echo "ok   - $*"; }
fail() { echo "FAIL - $*"; failures=$((failures + 1)); }
check() { local name=$1; shift; if "$@"; then pass "$name"; else fail "$name"; fi; }
quiet() { grep -v 'wine32 is missing\|multiarch\|dpkg --add-architecture\|apt-get install wine32\|FS volume label' >&2; }
drive() { wine "$build/ui_driver.exe" "$@" 2> >(quiet); }
wait_for() {  # wait_for SECONDS COMMAND...
  local end=$((SECONDS + $1)); shift
  while [ $SECONDS -lt $end ]; do "$@" && return 0; sleep 0.5; done
  return 1
}
same() { cmp -s "$1" "$2"; }
winj_pids=()
winj_cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ ${#winj_pids[@]} -eq 0 ] || kill "${winj_pids[@]}" 2>/dev/null || true
}
trap winj_cleanup EXIT
winj_start_display() {
  local n display=
  for n in $(seq 80 89); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=:$n; break; fi
  done
  [ -n "$display" ] || { echo "no free X display"; exit 1; }
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  winj_pids+=($!)
  export DISPLAY=$display
}
winj_start_server() {  # winj_start_server KQSYNCD
  "$1" --data "$work/data" serve --host 127.0.0.1 --cycle 1 --timeout 30 >>"$work/data/kqsyncd.log" 2>&1 &
  winj_pids+=($!)
}
