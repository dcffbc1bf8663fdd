#!/usr/bin/env bash
# make bench: times a plain copy of a 1 GiB synthetic program stream with cp, then splits of
# it into 1 and into 10 pieces with tarnwick-cli, and prints each split's time as a ratio to
# cp's (target <= 1.2) and the CLI's peak memory (target < 32 MiB).
set -euo pipefail

build=${1:?usage: bench/run.sh BUILD_DIR}
build=$(cd "$build" && pwd)
cli=$build/src/cli/tarnwick-cli
stream=$build/bench/tarnwick_bench_stream
measure=$build/bench/tarnwick_bench_measure
for tool in "$cli" "$stream" "$measure"; do
  [ -x "$tool" ] || { echo "bench: $tool is missing; build first" >&2; exit 1; }
done

rounds=3
size=$((1 << 30))
work=$(mktemp -d "$build/bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$stream" "$work/source.mpg" "$size"

# Every timed run starts alike: the previous outputs removed and written back (sync), and
# the source read once so it is in the page cache (warm cache; dropping it is not
# possible in every container).
prepare() {
  rm -rf "$work/out"
  mkdir "$work/out"
  sync
  cat "$work/source.mpg" > /dev/null
}

declare -A seconds rss
run() {  # name command...
  local name=$1
  shift
  prepare
  local result
  result=$("$measure" "$@" 2> "$work/stderr" | tail -n 1) || {
    echo "bench: '$name' failed:" >&2
    cat "$work/stderr" >&2
    exit 1
  }
  seconds[$name]+="${result% *} "
  rss[$name]+="${result#* } "
}

median() { tr ' ' '\n' <<< "$1" | grep -v '^$' | sort -g | sed -n "$(( ($rounds + 1) / 2 ))p"; }
maximum() { tr ' ' '\n' <<< "$1" | grep -v '^$' | sort -g | tail -n 1; }

run_named() {
  case $1 in
    cp) run cp cp "$work/source.mpg" "$work/out/copy.mpg" ;;
    split1) run split1 "$cli" split-size "$work/source.mpg" --pieces 1 --output-dir "$work/out" ;;
    split10) run split10 "$cli" split-size "$work/source.mpg" --pieces 10 --output-dir "$work/out" ;;
  esac
}

# The order rotates from round to round so that no command always runs first.
order=(cp split1 split10)
for ((round = 0; round < rounds; round++)); do
  for ((i = 0; i < 3; i++)); do
    run_named "${order[(round + i) % 3]}"
  done
done

reference=$(median "${seconds[cp]}")
echo "tarnwick bench: 1 GiB synthetic program stream, median of $rounds runs each (order rotated)"
echo "page cache: warm (source read once before every run; outputs removed and synced before)"
printf '%-22s %8.3f s\n' "cp" "$reference"
for name in split1 split10; do
  time=$(median "${seconds[$name]}")
  peak=$(maximum "${rss[$name]}")
  ratio=$(awk -v t="$time" -v r="$reference" 'BEGIN { printf "%.2f", t / r }')
  mib=$(awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')
  verdict=$(awk -v q="$ratio" -v m="$mib" \
    'BEGIN { print ((q <= 1.2 && m < 32) ? "ok" : "OVER TARGET") }')
  label="split into 1 piece"
  [ "$name" = split10 ] && label="split into 10 pieces"
  printf '%-22s %8.3f s   ratio to cp %s (target <= 1.2)   peak memory %s MiB (target < 32)   %s\n' \
    "$label" "$time" "$ratio" "$mib" "$verdict"
done
