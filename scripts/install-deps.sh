#!/usr/bin/env bash
# Installs every Debian package the project needs; packages already present are skipped.
set -euo pipefail

packages=(
  cmake make g++ git
  googletest                 # GoogleTest sources, built in the tree for every target
  libbenchmark-dev           # Google Benchmark (native benchmarks)
  openjdk-17-jdk-headless    # jni.h, and the real JVM host
  qemu-user                  # runs the cross-built tests
  g++-arm-linux-gnueabihf    # 32-bit ARM cross compiler and sysroot
  g++-aarch64-linux-gnu      # 64-bit ARM cross compiler and sysroot
  clang libclang-rt-14-dev   # libFuzzer targets
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
echo "install-deps: installing ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
