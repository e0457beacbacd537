#!/usr/bin/env bash
# Installs what building and testing qmr needs, when it is missing.
# Usage: scripts/setup.sh [extra Debian packages...]
set -euo pipefail
need=(cmake g++ make libgtest-dev "$@")
missing=()
for p in "${need[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
