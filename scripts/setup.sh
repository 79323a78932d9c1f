#!/usr/bin/env bash
# Installs, only when missing, every Debian package the build, the tests and the
# program need. Safe to run again and again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  qt6-base-dev qt6-svg-dev libhidapi-dev libudev-dev libgoogle-glog-dev libsimpleini-dev
  libcurl4-openssl-dev libssl-dev nlohmann-json3-dev
  xvfb xauth x11-apps x11-utils xdotool netpbm fonts-wqy-microhei ccache
  desktop-file-utils appstream groff-base dpkg-dev fakeroot file
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
