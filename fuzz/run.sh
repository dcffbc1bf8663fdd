#!/usr/bin/env bash
# make fuzz: runs the engine's libFuzzer target for SECONDS on a working corpus in BUILD_DIR,
# seeded from the committed corpus (fuzz/corpus) and from the real sample streams in
# SAMPLES_DIR when it exists, then prints the fuzzer's final figures. A finding is written to
# BUILD_DIR/fuzz-findings and fails the run.
set -euo pipefail

build=${1:?usage: fuzz/run.sh BUILD_DIR SECONDS [SAMPLES_DIR]}
seconds=${2:-300}
samples=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
fuzzer=$build/fuzz/tarnwick_engine_fuzzer
[ -x "$fuzzer" ] || { echo "fuzz: $fuzzer is missing; build it first" >&2; exit 1; }

work=$build/fuzz-corpus
seeds=$build/fuzz-seeds
findings=$build/fuzz-findings
mkdir -p "$work" "$seeds" "$findings"

# Each sample's first 32 KiB behind the 8 parameter bytes of each command (see
# enginefuzz.cpp): probe; clip 2..5 s of 10; clip to the total; 4 equal pieces; 3 s pieces;
# a clip and pieces over existing files; a replacement declined.
headers=(
  '\x00\x0a\x00\x00\x00\x00\x00\x50'
  '\x01\x0a\x00\x02\x00\x05\x00\x50'
  '\x01\x0a\x00\x00\x00\x0a\x00\x10'
  '\x02\x0a\x00\x04\x00\x00\x00\xa0'
  '\x03\x0a\x00\x03\x00\x00\x00\x30'
  '\x05\x0a\x00\x01\x00\x09\x00\x70'
  '\x06\x0a\x00\x03\x00\x00\x00\x70'
  '\x0d\x0a\x00\x01\x00\x09\x00\x70'
)
if [ -n "$samples" ] && [ -d "$samples" ]; then
  for sample in "$samples"/*.mpg "$samples"/*.mpeg; do
    [ -f "$sample" ] || continue
    name=$(basename "$sample")
    for i in "${!headers[@]}"; do
      { printf "${headers[$i]}"; head -c 32768 "$sample"; } > "$seeds/$name.$i"
    done
  done
fi

"$fuzzer" -max_total_time="$seconds" -max_len=32776 -timeout=30 -print_final_stats=1 \
  -artifact_prefix="$findings/" "$work" "$seeds" "$here/corpus"
