# Sourced by the scripts: paths and the private Wine environment of this checkout.
QW_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export QW_ROOT
export QW_NATIVE_BUILD="$QW_ROOT/build/native"
export QW_WINDOWS_BUILD="$QW_ROOT/build/windows"
# Every run uses this checkout's own prefix, never the user's.
export WINEPREFIX="${QW_WINEPREFIX:-$QW_ROOT/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# A real ja_JP.UTF-8 locale gives Wine code page 932 and carries Japanese names across intact.
export QW_LOCPATH="$QW_ROOT/build/locale"
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  export LOCPATH="$QW_LOCPATH"
fi
# bash itself would complain that it cannot load the locale: it only reaches the programs it runs.
{ export LC_ALL=ja_JP.UTF-8; } 2>/dev/null
