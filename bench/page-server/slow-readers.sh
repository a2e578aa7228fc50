#!/bin/sh
# The run command's page server with slow readers of a big archive: its
# memory (VmHWM, the peak resident size) with N readers of a 50 MB file,
# each reading at 100 KB/s for 10 s, against the same server idle.
#
#   bench/page-server/slow-readers.sh [BUILD_DIR] [READERS]
set -eu
build=${1:-build}
readers=${2:-40}
server="$build/tools/page-server/page-server"
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
head -c 50000000 /dev/urandom >"$work/big.zip"
"$server" --port 0 "$work" >"$work/log" 2>&1 &
pid=$!
while ! grep -q serving "$work/log"; do sleep 0.1; done
port=$(sed -n 's/.*:\([0-9]*\)\/$/\1/p' "$work/log")
idle=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
i=0
while [ "$i" -lt "$readers" ]; do
    curl -s --limit-rate 100k --max-time 10 -o /dev/null "http://127.0.0.1:$port/big.zip" &
    i=$((i + 1))
done
sleep 11
peak=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
echo "page-server peak resident: idle ${idle} kB, with $readers slow readers of 50 MB ${peak} kB"
