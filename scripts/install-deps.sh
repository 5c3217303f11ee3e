#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Only what is missing is installed; never with Recommends, never autoremove.
set -euo pipefail

BUILD_PKGS=(cmake g++ pkg-config make qt6-base-dev libcanberra-dev libcanberra-pulse
  libxcb1-dev libx11-dev libssl-dev libgtest-dev libgmock-dev googletest libbenchmark-dev clang-format
  xdg-utils fonts-dejavu-core dpkg-dev libcurl4-openssl-dev nlohmann-json3-dev libsecret-1-dev)
TEST_PKGS=(xvfb xauth x11-xkb-utils xdotool x11-utils imagemagick trayer dbus
  libglib2.0-bin python3-gi gir1.2-glib-2.0 pulseaudio pulseaudio-utils sox
  python3-xlib openssl dovecot-core dovecot-pop3d dovecot-imapd mailutils-pop3d mailutils-imap4d iproute2
  procps psmisc
  lintian appstream desktop-file-utils
  gnome-keyring libsecret-tools chromium dunst)
# The fuzz harnesses (scripts/fuzz): clang with libFuzzer and the sanitizers, llvm-cov.
FUZZ_PKGS=(clang-14 libclang-rt-14-dev llvm-14)
# The Windows cross-build and Wine to run it (Wine's TLS needs libgnutls30 but only recommends it).
WINDOWS_PKGS=(cmake googletest nlohmann-json3-dev g++-mingw-w64-x86-64-posix wine wine64 libgnutls30 fonts-wine)

want=("${BUILD_PKGS[@]}")
case "${1:-}" in
  --test) want+=("${TEST_PKGS[@]}" "${FUZZ_PKGS[@]}") ;;
  --fuzz) want+=("${FUZZ_PKGS[@]}") ;;
  --windows) want=("${WINDOWS_PKGS[@]}") ;;
esac

# The sign-in tests run an authorization server and a browser driver on Node.js with npm: Debian's
# nodejs and npm, unless a Node.js that brings its own npm is installed already.
if [ "${1:-}" = --test ] && ! command -v npm >/dev/null; then
  want+=(nodejs npm)
fi

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# The packaged servers must not start system-wide services on install.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod +x /usr/sbin/policy-rc.d
  trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
fi
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
