# shellcheck shell=bash disable=SC2154,SC2034  # set and used by the caller
# Sourced by the harnesses that run a 64-bit Windows program under Wine
# against pseudo-terminals linked into the prefix as COM ports
# (wine-serial-run.sh, wine-e2e-run.sh). The caller sets `prefix` and holds
# the prefix's lock ($prefix.serial.lock) while it runs.
#
# How the ports are prepared, and why:
#   - The wineserver is started here in the foreground, as a child of the
#     harness: a daemon would be a session leader without a terminal and
#     would take the first pseudo-terminal it opens as its controlling
#     terminal, and the hang-up when a far end closes would reach it.
#   - Wine's processes get tests/wine/pty_port_preload.c preloaded
#     (LD_PRELOAD), which makes Wine see a pseudo-terminal as a serial port
#     the driver can configure again and again. Without it Wine reads every
#     such port as RTS enabled (it asks the modem lines with TIOCMGET, which
#     a pseudo-terminal refuses, and reports CRTSCTS as RTS enabled too, so
#     setting CRTSCTS on the far side changes nothing); the driver's
#     lineFlags rule then asks for RTS toggle, and Wine refuses the
#     configuration. With it Wine reads RTS low (mode 0), and the same rule
#     gives RTS handshake, as on a Windows port the driver set up before,
#     which reads handshake. It also keeps a second open with even parity
#     from failing: the terminal has no parity, and glibc reports a request
#     whose only change the terminal drops as an error.

wine_line_tools() {
  wine="$(command -v wine64 || true)"
  [ -n "$wine" ] || wine=/usr/lib/wine/wine64
  wineserver="$(command -v wineserver || true)"
  [ -n "$wineserver" ] || wineserver="$(dirname "$wine")/wineserver"
}

# Wine makes a prefix whole only when it makes the directory itself, so the
# prefix exists before anything is linked into it.
wine_line_prefix() {
  local here
  here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
  if [ ! -f "$prefix/system.reg" ]; then
    "$here/wine-run.sh" --prefix "$prefix" cmd /c exit 0 >/dev/null 2>&1 || true
  fi
  [ -f "$prefix/system.reg" ] || { echo "no Wine prefix at $prefix" >&2; return 1; }
}

# Starts the prefix's wineserver and waits until it serves. It lingers 30 s
# after its last client in case the harness is killed before it stops it.
wine_line_server_start() {
  WINEPREFIX="$prefix" timeout 60 "$wineserver" -k >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" "$wineserver" -f -p30 </dev/null >/dev/null 2>&1 &
  server_pid=$!
  local _
  for _ in $(seq 200); do
    case "$(readlink "/proc/$server_pid/cwd" 2>/dev/null)" in
      */server-*) return 0 ;;
    esac
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "the wineserver did not start" >&2
  return 1
}

wine_line_server_stop() {
  [ -n "${server_pid:-}" ] || return 0
  WINEPREFIX="$prefix" timeout 60 "$wineserver" -k >/dev/null 2>&1 || true
  timeout 30 tail --pid="$server_pid" -f /dev/null 2>/dev/null ||
    kill -9 "$server_pid" 2>/dev/null || true
  server_pid=""
}

# Starts the far-end peer (its arguments follow) with a port file it fills
# with its TCP port; it runs until descriptor 9 closes. Sets peer_pid and
# peer_port.
wine_line_peer_start() {
  mkfifo "$work/peer-input"
  "$@" --port-file "$work/port" <"$work/peer-input" &
  peer_pid=$!
  exec 9>"$work/peer-input"
  local _
  for _ in $(seq 200); do
    [ -s "$work/port" ] && break
    kill -0 "$peer_pid" 2>/dev/null || { echo "peer failed" >&2; return 1; }
    sleep 0.05
  done
  [ -s "$work/port" ] || { echo "peer did not start" >&2; return 1; }
  peer_port="$(cat "$work/port")"
}

wine_line_peer_stop() {
  exec 9>&- 2>/dev/null || true
  if [ -n "${peer_pid:-}" ]; then
    timeout 30 tail --pid="$peer_pid" -f /dev/null 2>/dev/null ||
      kill -9 "$peer_pid" 2>/dev/null || true
  fi
  peer_pid=""
}
