#!/usr/bin/env bash
# Install what the build and the gates need on a Debian machine, only what is missing.
set -euo pipefail
need=()
for pkg in cmake make g++ clang clang-format clang-tidy git libgtest-dev libgmock-dev libbenchmark-dev libxml2-utils gpsbabel gpsd gpsd-clients socat; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq "${need[@]}"
fi
