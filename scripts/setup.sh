#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the sample job need, only when one is
# missing, so a second run costs nothing. Needs root or sudo on a Debian 12 machine.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libxml2-dev libxml2-utils nlohmann-json3-dev libvalijson-dev libcli11-dev
  libsimdjson-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-yaml python3-jsonschema libyaml-dev
  clang libclang-rt-14-dev time
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
