#!/usr/bin/env bash
# Installs what building and testing aacstream need, only where it is missing (Debian 12).
set -euo pipefail
packages=(cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev ffmpeg faad sox
          python3 python3-numpy python3-scipy python3-soundfile libclang-rt-14-dev pkg-config valgrind
          libsndfile1-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  # Another apt or dpkg run (unattended upgrades, say) may hold the lock: wait for it.
  lock=(-o DPkg::Lock::Timeout=600)
  $SUDO apt-get "${lock[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
