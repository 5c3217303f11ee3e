#!/usr/bin/env bash
# Runs a command inside a private D-Bus session of its own, with a fresh HOME and runtime folder,
# the Secret Service in one of these states:
#   keyring    an unlocked gnome-keyring owns it
#   locked     its default collection is locked, and no prompter can ask to unlock it
#   prompted   its default collection is locked, and the prompter $BG_PROMPTER (AnsweringPrompter.cpp)
#              answers the unlock prompt with the keyring's password
#   nodefault  gnome-keyring runs without any collection (and no prompter to create one)
#   stopped    gnome-keyring owns it but is stopped (SIGSTOP): nothing answers
#   none       no Secret Service, and none can be started
# BG_SECRET_SERVICE tells the command which (a kind given as "NAME:STATE" passes NAME on, for a
# command that tries the state its own way). Everything started here is stopped by its process id.
set -euo pipefail
kind=$1
shift
state=${kind#*:}
work=$(mktemp -d /tmp/bg-secret-bus.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -CONT "$pid" 2>/dev/null || true; kill "$pid" 2>/dev/null || true; done
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
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile 2>/dev/null &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
for _ in $(seq 100); do [ -S "$work/bus" ] && break; sleep 0.02; done
if [ "$state" = prompted ]; then
  "$BG_PROMPTER" </dev/null >"$work/prompter" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/prompter" ] && break; sleep 0.02; done
  export GNOME_KEYRING_TEST_PROMPTER=$(cat "$work/prompter")
fi
secrets() { busctl --user call org.freedesktop.secrets /org/freedesktop/secrets org.freedesktop.Secret.Service "$@"; }
if [ "$state" != none ]; then
  if [ "$state" = nodefault ]; then
    gnome-keyring-daemon --foreground --components=secrets >/dev/null 2>&1 &
  else
    printf %s test-password | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
  fi
  daemon=$!
  pids+=("$daemon")
  for _ in $(seq 250); do
    if [ "$state" = nodefault ]; then
      busctl --user status org.freedesktop.secrets >/dev/null 2>&1 && break
    else
      secrets ReadAlias s default 2>/dev/null | grep -q collection && break
    fi
    sleep 0.02
  done
  case $state in
    locked | prompted) secrets Lock ao 1 /org/freedesktop/secrets/aliases/default >/dev/null ;;
    stopped) kill -STOP "$daemon" ;;
  esac
fi
BG_SECRET_SERVICE=${kind%%:*} "$@"
