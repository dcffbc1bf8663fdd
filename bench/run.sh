#!/usr/bin/env bash
# make bench: times a plain copy of a 1 GiB synthetic program stream with cp, then splits of
# it into 1 and into 10 pieces with tarnwick-cli, and prints each split's time as a ratio to
# cp's (target <= 1.2) and the CLI's peak memory (target < 32 MiB). Then opens a 1 GiB MPEG-2
# program stream (header and duration probe, `tarnwick-cli probe`) beside ffprobe reading the
# same file, each a new process, in pairs, and prints the median ratio of the pairs with their
# range (target <= 1.0).
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
measure_once() {  # name command...: leaves "seconds peak-KiB" in $result
  local name=$1
  shift
  result=$("$measure" "$@" 2> "$work/stderr" | tail -n 1) || {
    echo "bench: '$name' failed:" >&2
    cat "$work/stderr" >&2
    exit 1
  }
}
run() {  # name command...
  local name=$1
  shift
  prepare
  measure_once "$name" "$@"
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

# Opening: a 1 GiB MPEG-2 program stream (DVD-style packs, 20 s of encoded test picture and
# tone repeated with continuous timestamps), probed as the Open command does, against ffprobe.
if ! command -v ffmpeg > /dev/null || ! command -v ffprobe > /dev/null; then
  echo "open a 1 GiB MPEG-2 file: skipped (ffmpeg/ffprobe missing)"
  exit 0
fi
rm -f "$work/source.mpg"
rm -rf "$work/out"
ffmpeg -loglevel error -f lavfi -i testsrc=size=720x576:rate=25 \
  -f lavfi -i sine=frequency=440:sample_rate=48000 -t 20 \
  -c:v mpeg2video -b:v 8M -g 15 -c:a mp2 -b:a 192k -f vob "$work/piece.vob"
piece_bytes=$(stat -c %s "$work/piece.vob")
loops=$(( (size + piece_bytes - 1) / piece_bytes - 1 ))
ffmpeg -loglevel error -stream_loop "$loops" -i "$work/piece.vob" -c copy -f vob "$work/movie.mpg"
rm -f "$work/piece.vob"
movie_bytes=$(stat -c %s "$work/movie.mpg")

# Paired: each pair runs both, in alternating order, and gives one ratio; the machine is
# shared, so the median ratio is reported with the range of the pairs.
open_pairs=7
ratios=""
ours_times=""
theirs_times=""
# One untimed run of each first: the file in the page cache, the plugin registries built.
"$cli" probe "$work/movie.mpg" > /dev/null
ffprobe -loglevel error "$work/movie.mpg" > /dev/null
source=$("$cli" probe "$work/movie.mpg" | sed -n 's/^duration_source: //p')
for ((pair = 0; pair < open_pairs; pair++)); do
  if ((pair % 2 == 0)); then
    measure_once tarnwick "$cli" probe "$work/movie.mpg"
    ours=${result% *}
    measure_once ffprobe ffprobe -loglevel error "$work/movie.mpg"
    theirs=${result% *}
  else
    measure_once ffprobe ffprobe -loglevel error "$work/movie.mpg"
    theirs=${result% *}
    measure_once tarnwick "$cli" probe "$work/movie.mpg"
    ours=${result% *}
  fi
  ours_times+="$ours "
  theirs_times+="$theirs "
  ratios+="$(awk -v t="$ours" -v r="$theirs" 'BEGIN { printf "%.3f", t / r }') "
done
rounds=$open_pairs
ratio=$(median "$ratios")
low=$(tr ' ' '\n' <<< "$ratios" | grep -v '^$' | sort -g | head -n 1)
high=$(maximum "$ratios")
verdict=$(awk -v q="$ratio" 'BEGIN { print (q <= 1.0 ? "ok" : "OVER TARGET") }')
echo
echo "open a $((movie_bytes / 1048576)) MiB MPEG-2 program stream: $open_pairs pairs, a new" \
  "process each, order alternating (warm cache); length from: $source"
printf '%-22s %8.3f s (median)\n' "ffprobe" "$(median "$theirs_times")"
printf '%-22s %8.3f s (median)\n' "tarnwick-cli probe" "$(median "$ours_times")"
printf '%-22s %8s   min %s   max %s   (target <= 1.0, goal 0.5)   %s\n' \
  "ratio to ffprobe" "$ratio" "$low" "$high" "$verdict"
