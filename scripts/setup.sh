#!/usr/bin/env bash
# Installs the Debian packages one use of the project needs, only those missing, so a second
# run costs nothing. Needs root or sudo on a Debian 12 machine.
#
#   scripts/setup.sh demo   the library, the morvi tool and the sample job (make demo)
#   scripts/setup.sh test   also every test and benchmark (make test; the default)
#   scripts/setup.sh fuzz   also clang and its fuzzing runtime (fuzz/run)
#
# valijson's headers come from its Debian package unpacked into .deps/valijson: installing
# the package would pull in the development packages of every JSON library it has an
# adapter for (Qt5, Poco, ... over 300 MiB), and only its nlohmann adapter is used.
set -euo pipefail
cd "$(dirname "$0")/.."

demo=(build-essential cmake ninja-build pkg-config
      libxml2-dev nlohmann-json3-dev libcli11-dev libsimdjson-dev libasio-dev)
test=(libgtest-dev libgmock-dev libbenchmark-dev python3 python3-yaml python3-jsonschema time
      python3-junitparser chromium valgrind)
fuzz=(clang libclang-rt-14-dev)

case "${1:-test}" in
  demo) packages=("${demo[@]}") ;;
  test) packages=("${demo[@]}" "${test[@]}") ;;
  fuzz) packages=("${demo[@]}" "${fuzz[@]}") ;;
  *) echo "usage: scripts/setup.sh [demo|test|fuzz]" >&2; exit 2 ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
valijson_dir=.deps/valijson
need_valijson=true
{ installed libvalijson-dev || [ -f "$valijson_dir/usr/include/valijson/validator.hpp" ]; } &&
  need_valijson=false
[ ${#missing[@]} -eq 0 ] && ! $need_valijson && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "setup: updating the package lists"
$sudo apt-get update
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
if $need_valijson; then
  echo "setup: unpacking the valijson headers into $valijson_dir"
  download=$(mktemp -d)
  trap 'rm -rf "$download"' EXIT
  chmod 755 "$download"  # apt fetches as its own user
  (cd "$download" && apt-get download libvalijson-dev)
  mkdir -p "$(dirname "$valijson_dir")"
  rm -rf "$valijson_dir.partial"
  dpkg-deb -x "$download"/libvalijson-dev_*.deb "$valijson_dir.partial"
  rm -rf "$valijson_dir"
  mv "$valijson_dir.partial" "$valijson_dir"
fi
