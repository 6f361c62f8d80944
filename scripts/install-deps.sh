#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need.  Quick when
# everything is there already: it asks dpkg first and runs apt-get only for
# what is missing.  Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libzip-dev zlib1g-dev zip unzip
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  fonts-dejavu-core
  # sounds: the sound library and its sound-service backend (which wants a
  # service package; pipewire-pulse is the smaller one)
  libcanberra-dev libcanberra-pulse pipewire-pulse
  python3 tzdata
  libssl-dev openssl
)
# Extra packages from callers (the test peers add their servers).
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
