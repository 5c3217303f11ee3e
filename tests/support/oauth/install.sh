#!/usr/bin/env bash
# Installs the sign-in tests' Node packages (the authorization server and the browser driver) once
# per lock file, into a folder named after the lock's SHA-256, and prints that folder. Runs side by
# side safely: the first caller installs under a lock, the others wait and reuse. No browser is
# downloaded: the tests drive Debian's chromium.
#   BG_OAUTH_RIG_CACHE  where the folders go (default ~/.cache/brevgluggen/oauth-rig)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${BG_OAUTH_RIG_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/brevgluggen/oauth-rig}
sum=$(sha256sum "$here/package-lock.json" | cut -c1-16)
target=$cache/$sum
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
if [ ! -e "$target/.done" ]; then
  rm -rf "$target"
  mkdir -p "$target"
  cp "$here/package.json" "$here/package-lock.json" "$target/"
  (cd "$target" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --cache "$cache/.npm-cache" >/dev/null)
  touch "$target/.done"
fi
echo "$target"
