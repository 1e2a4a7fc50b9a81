#!/usr/bin/env bash
# The sample job through a reporter server (make demo-served): the runner in one process,
# morvi serve in another. A look at the running job with morvi show results --socket; then a
# second run whose runner and server are both killed midway, and its report rebuilt from the
# server's journal with morvi replay.
#
#   scripts/demo_served.sh BUILD OUT
set -euo pipefail
build=$1
out=$2/served
morvi=$build/tools/morvi/morvi
job=$build/examples/sample_job
# A socket's address holds at most 107 bytes, so the socket lives in a short folder of its own.
sockets=$(mktemp -d /tmp/morvi-demo-XXXXXX)
socket=$sockets/job.sock
server=""
runner=""
cleanup() {
  [ -n "$runner" ] && kill -9 "$runner" 2>/dev/null
  [ -n "$server" ] && kill -9 "$server" 2>/dev/null
  rm -rf -- "$sockets"
}
trap cleanup EXIT
rm -rf -- "$out"
mkdir -p -- "$out"

say() { printf '\n$ %s\n' "$*"; }

# Starts morvi serve on the socket with journal $1 and waits until it listens.
serve() {
  say morvi serve --socket "$socket" --journal "$1" "&"
  "$morvi" serve --socket "$socket" --journal "$1" --fsync always &
  server=$!
  for _ in $(seq 100); do [ -S "$socket" ] && return; sleep 0.05; done
  echo "morvi serve did not start" >&2
  exit 1
}

echo "== 1. the sample job through a reporter server"
serve "$out/run1.journal"
say sample_job --socket "$socket" --pace 40 "$out/run1" "&"
"$job" --socket "$socket" --pace 40 "$out/run1" &
runner=$!
sleep 2
say morvi show results --depth 3 --socket "$socket" "  # while the job runs"
"$morvi" show results --depth 3 --socket "$socket"
wait "$runner"
runner=""
kill -TERM "$server"
wait "$server" || true
server=""
say morvi replay "$out/run1.journal" -o "$out/run1"
"$morvi" replay "$out/run1.journal" -o "$out/run1"
"$morvi" validate results "$out/run1/results.json"

echo
echo "== 2. a run killed midway, recovered from the journal"
serve "$out/run2.journal"
say sample_job --socket "$socket" --pace 40 "$out/run2" "&"
"$job" --socket "$socket" --pace 40 "$out/run2" &
runner=$!
sleep 2
say kill -9 "<runner>" "<server>"
kill -9 "$runner" "$server"
wait "$runner" "$server" 2>/dev/null || true
runner=""
server=""
say morvi replay "$out/run2.journal" -o "$out/run2" --close
"$morvi" replay "$out/run2.journal" -o "$out/run2" --close
say morvi validate results "$out/run2/results.json"
"$morvi" validate results "$out/run2/results.json"
say morvi show results --depth 3 "$out/run2/results.json"
"$morvi" show results --depth 3 "$out/run2/results.json"
