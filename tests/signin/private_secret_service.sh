#!/usr/bin/env bash
# Runs a command inside a private D-Bus session of its own, with a fresh HOME and runtime folder:
#   private_secret_service.sh keyring COMMAND...  an unlocked gnome-keyring owns the Secret Service
#   private_secret_service.sh none COMMAND...     no Secret Service, and none can be started
# BG_SECRET_SERVICE tells the command which. Everything started here is stopped by its process id.
set -euo pipefail
kind=$1
shift
work=$(mktemp -d /tmp/bg-secret-bus.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$XDG_DATA_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
# A bus with no service folders: nothing is started by activation.
cat >"$work/bus.conf" <<CONF
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
for _ in $(seq 100); do [ -S "$work/bus" ] && break; sleep 0.02; done
if [ "$kind" = keyring ]; then
  printf %s test-password | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 250); do
    busctl --user status org.freedesktop.secrets >/dev/null 2>&1 && break
    sleep 0.02
  done
fi
BG_SECRET_SERVICE=$kind "$@"
