#!/usr/bin/env bash
# IMAP benchmarks: installs what is missing (the test servers through scripts/install-deps.sh,
# the peer clients curl, fetchmail and Python), builds the benchmark and the command-line client,
# and prints the figures of one unseen count in process and as a whole process. Asserts nothing.
# Runs as root (the private Dovecot switches to its own users).
#
#     bench/imap/run.sh [--rounds N] [--process-rounds M]
#
# BUILD_DIR chooses the build folder (default: build/ at the top of the tree).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
[ "$(id -u)" -eq 0 ] || { echo "run.sh: run as root; the private Dovecot must start as root" >&2; exit 1; }

"$ROOT/scripts/install-deps.sh" --test
for peer in curl fetchmail python3; do
  command -v "$peer" >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$peer"
done
cmake -S "$ROOT" -B "$BUILD_DIR" -DBREVGLUGGEN_TESTS=ON -DBREVGLUGGEN_BENCH=ON >/dev/null
cmake --build "$BUILD_DIR" --target bench_imap imap_count -j2 >/dev/null
exec "$BUILD_DIR/bench/imap/bench_imap" "$@"
