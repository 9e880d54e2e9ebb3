# wine-env.sh is sourced: it sets up an own Wine prefix inside a build folder.
# Usage: source scripts/wine-env.sh build/win
kq_wine_build=$(cd "$1" && pwd)
export WINEPREFIX="$kq_wine_build/wineprefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/.kq-ready" ]; then
  echo "wine: creating prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.kq-ready"
fi
