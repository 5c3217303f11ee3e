#!/usr/bin/env bash
# POP3 benchmarks: installs the peer clients and the server when missing, builds the benchmark and
# the command-line client, and prints the figures of one check in process and as a whole process.
# Prints figures and asserts nothing. Runs as root (the private Dovecot switches to its own users).
#
#     bench/pop3/run.sh [--rounds N] [--process-rounds M]
#
# BUILD_DIR chooses the build folder (default: build/ at the top of the tree).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"

if [ "$(id -u)" -ne 0 ]; then
  echo "run.sh: run as root; the private Dovecot must start as root" >&2
  exit 1
fi

# Only what is missing is installed; never with Recommends, never autoremove.
PACKAGES=(curl fetchmail mpop python3 dovecot-core dovecot-pop3d)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # The packaged server must not start its system-wide service on install.
  made_policy=no
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
    chmod +x /usr/sbin/policy-rc.d
    made_policy=yes
    trap 'rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
  if [ "$made_policy" = yes ]; then
    rm -f /usr/sbin/policy-rc.d
    trap - EXIT
  fi
fi
"$ROOT/scripts/install-deps.sh"

cmake -S "$ROOT" -B "$BUILD_DIR" -DBREVGLUGGEN_TESTS=ON -DBREVGLUGGEN_BENCH=ON >/dev/null
cmake --build "$BUILD_DIR" --target bench_pop3 pop3_count -j2 >/dev/null

exec "$BUILD_DIR/bench/pop3/bench_pop3" "$@"
