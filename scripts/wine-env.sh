# Sourced by the scripts that run Windows programs under Wine. Gives each test run one fresh
# base prefix per bitness, copied per scenario, and one Xvfb display.
#
#   wine_base_prefix win32|win64 [VERSION] [desktop]
#                                     creates (once per run) and prints the base prefix's path;
#                                     VERSION (win98, win2k...) sets the Windows version it
#                                     reports, desktop has it draw its windows on a Wine desktop
#   wine_scenario_prefix NAME win32|win64 [VERSION] [desktop]
#                                     copies that base into a prefix of its own and prints it
#   wine_settings PREFIX LINE...      sets registry values, given as the lines of a .reg file,
#                                     in one Wine session
#   wine_remove PATH...               removes prefixes, or folders that hold them
#   wine_in PREFIX COMMAND...         runs a command with that prefix and the run's environment
#   start_xvfb                        starts a virtual display and exports DISPLAY
#   stop_wine PREFIX                  ends the prefix's wineserver and every process in it

: "${VORSE_WINE_ROOT:?set VORSE_WINE_ROOT to a folder of the build tree}"
mkdir -p "$VORSE_WINE_ROOT/home"

# No debugger, no crash dialog, no menu or desktop entries, no Mono or Gecko prompts: any of
# them would hang an unattended run.
export WINEDEBUG=-all
# Wine reads Unix file names and command lines in the locale's character set: a run without a
# UTF-8 locale would see the tests' non-ASCII file names as other names.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export HOME="$VORSE_WINE_ROOT/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share"

# Some kernels refuse 32-bit programs (a virtual machine without 32-bit support, say). Wine's
# own "wine" then fails before anything starts, since it always begins with the 32-bit loader.
# There the 64-bit loader serves 64-bit prefixes directly, and 32-bit programs cannot run at
# all: wine_runs_32bit tells the scripts so that they can say what they skip.
wine_runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
if ! wine_runs_32bit; then
  mkdir -p "$VORSE_WINE_ROOT/bin"
  # wineboot, winepath and the rest start "wine-stable"; the tests start "wine".
  for loader in wine wine-stable; do
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' \
      >"$VORSE_WINE_ROOT/bin/$loader"
    chmod +x "$VORSE_WINE_ROOT/bin/$loader"
  done
  export PATH="$VORSE_WINE_ROOT/bin:$PATH"
fi

wine_in() {
  local prefix=$1
  shift
  local arch=win32
  [ -f "$prefix/.arch-win64" ] && arch=win64
  WINEPREFIX="$prefix" WINEARCH="$arch" "$@"
}

# A Wine desktop of its own gives the prefix's windows their caption and frame without a window
# manager.
wine_desktop_settings=(
  '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="Default"'
  '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '"Default"="1024x768"'
)

wine_settings() {
  local prefix=$1 file
  shift
  file=$(realpath "$(mktemp "$VORSE_WINE_ROOT/settings-XXXXXX.reg")")
  printf 'REGEDIT4\r\n\r\n' >"$file"
  printf '%s\r\n' "$@" >>"$file"
  # Z: is the Unix root in every prefix: no winepath, which would cost a session of its own.
  wine_in "$prefix" wine regedit /S "Z:${file//\//\\}" >/dev/null 2>&1
  wine_in "$prefix" wineserver -w
  rm -f "$file"
}

# A prefix copied from another: where VORSE_WINE_LAYERS names a folder (the emulated machine,
# as root, on a tmpfs), an overlay over it that keeps its changes there, made at once instead of
# copying hundreds of megabytes.
wine_layer_of() { printf '%s/%s\n' "$VORSE_WINE_LAYERS" "$(realpath -m "$1" | tr / _)"; }

wine_copy_prefix() {
  [ -n "${VORSE_WINE_LAYERS:-}" ] || {
    cp -a "$1" "$2"
    return
  }
  local layer
  layer=$(wine_layer_of "$2")
  rm -rf "$layer" && mkdir -p "$layer/upper" "$layer/work" "$2" &&
    mount -t overlay overlay -o "lowerdir=$1,upperdir=$layer/upper,workdir=$layer/work" "$2"
}

# An overlay that another one kept for a look still stands on cannot be unmounted: it stays.
wine_remove() {
  local path mount kept
  for path in "$@"; do
    kept=""
    if [ -n "${VORSE_WINE_LAYERS:-}" ]; then
      # The overlays at or below the path, the innermost first. The path itself is removed as
      # given: a link there goes, not what it leads to.
      while read -r mount; do
        if umount "$mount" 2>/dev/null; then
          rm -rf "$(wine_layer_of "$mount")"
        else
          kept=yes
        fi
      done < <(awk -v p="$(realpath -m "$path")" '$2 == p || index($2, p "/") == 1 { print $2 }' \
        /proc/mounts | sort -r)
    fi
    [ -n "$kept" ] || rm -rf "$path"
  done
}

# Each setting costs a Wine session, which takes seconds (a minute and more under emulation):
# the bases with settings are made once per run, from the plain one, and copied per scenario.
wine_base_prefix() {
  local arch=$1 version=${2:-} desktop=${3:-}
  local prefix="$VORSE_WINE_ROOT/base-$arch${version:+-$version}${desktop:+-desktop}"
  local settings=() start=$SECONDS
  if [ ! -f "$prefix/.ready" ]; then
    wine_remove "$prefix"
    if [ -n "$version$desktop" ]; then
      wine_copy_prefix "$(wine_base_prefix "$arch")" "$prefix"
      [ -z "$version" ] ||
        settings+=('[HKEY_CURRENT_USER\Software\Wine]' "\"Version\"=\"$version\"")
      [ -z "$desktop" ] || settings+=("${wine_desktop_settings[@]}")
      wine_settings "$prefix" "${settings[@]}"
    else
      mkdir -p "$prefix"
      [ "$arch" = win64 ] && touch "$prefix/.arch-win64"
      wine_in "$prefix" wineboot -i >/dev/null 2>&1
      wine_settings "$prefix" \
        '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]' \
        '"Debugger"=""' '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' \
        '"ShowCrashDialog"=dword:00000000'
    fi
    touch "$prefix/.ready"
    echo "wine: ${prefix##*/} made in $((SECONDS - start))s" >&2
  fi
  printf '%s\n' "$prefix"
}

wine_scenario_prefix() {
  local name=$1 base prefix="$VORSE_WINE_ROOT/$1"
  shift
  base=$(wine_base_prefix "$@")
  stop_wine "$prefix" 2>/dev/null || true
  wine_remove "$prefix"
  wine_copy_prefix "$base" "$prefix"
  rm -f "$prefix/.ready"
  printf '%s\n' "$prefix"
}

stop_wine() {
  [ -d "$1" ] || return 0
  wine_in "$1" wineserver -k 2>/dev/null || true
  wine_in "$1" wineserver -w 2>/dev/null || true
}

start_xvfb() {
  [ -n "${VORSE_XVFB_PID:-}" ] && return 0
  local n lock
  for n in $(seq 90 140); do
    lock="/tmp/.X$n-lock"
    [ -e "$lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    VORSE_XVFB_PID=$!
    # Another run may start one on the same display at the same moment: the lock names the
    # one that got it.
    for _ in $(seq 100); do
      [ -s "$lock" ] || ! kill -0 "$VORSE_XVFB_PID" 2>/dev/null && break
      sleep 0.1
    done
    if kill -0 "$VORSE_XVFB_PID" 2>/dev/null &&
      [ "$(tr -d ' \n' <"$lock" 2>/dev/null)" = "$VORSE_XVFB_PID" ]; then
      export DISPLAY=":$n" VORSE_XVFB_PID
      trap 'kill "$VORSE_XVFB_PID" 2>/dev/null' EXIT
      return 0
    fi
    kill "$VORSE_XVFB_PID" 2>/dev/null
  done
  echo "start_xvfb: no free display" >&2
  return 1
}
