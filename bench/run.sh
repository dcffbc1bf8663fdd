#!/usr/bin/env bash
# make bench: splits of a 1 GiB synthetic program stream into 1 and into 10 pieces with
# tarnwick-cli, each against a plain copy of the same file with cp, in pairs: every pair runs
# both, in alternating order, and gives one ratio; the median ratio is printed with the range
# of the pairs (target <= 1.25, goal 1.1) beside the CLI's peak memory (target < 32 MiB). Then
# opens a 1 GiB MPEG-2 program stream (header and duration probe, `tarnwick-cli probe`) beside
# ffprobe reading the same file, each a new process, in pairs likewise (target <= 1.0). Between
# the two, the ways of copying a range that does not share pages with its output are compared
# (COPY_ROUNDS rounds, default 5). Then clean cuts of a 1 GiB stream with one key picture.
# The machine may be shared: the pairs, not single runs, are what survive a rerun. SPLIT_PAIRS
# sets the number of split pairs (default 7).
set -euo pipefail

build=${1:?usage: bench/run.sh BUILD_DIR}
build=$(cd "$build" && pwd)
cli=$build/src/cli/tarnwick-cli
stream=$build/bench/tarnwick_bench_stream
measure=$build/bench/tarnwick_bench_measure
copymethods=$build/bench/tarnwick_bench_copymethods
for tool in "$cli" "$stream" "$measure" "$copymethods"; do
  [ -x "$tool" ] || { echo "bench: $tool is missing; build first" >&2; exit 1; }
done

split_pairs=${SPLIT_PAIRS:-7}
dvd_seconds=0
size=${BENCH_BYTES:-$((1 << 30))}  # BENCH_BYTES: a smaller trial run
work=$(mktemp -d "$build/bench-XXXXXX")
trap 'umount "$work/xfs" 2> /dev/null || true; rm -rf "$work"' EXIT
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

measure_once() {  # name command...: leaves "seconds peak-KiB" in $result
  local name=$1
  shift
  result=$("$measure" "$@" 2> "$work/stderr" | tail -n 1) || {
    echo "bench: '$name' failed:" >&2
    cat "$work/stderr" >&2
    exit 1
  }
}

sorted() { tr ' ' '\n' <<< "$1" | grep -v '^$' | sort -g; }
median() { local n; n=$(sorted "$1" | wc -l); sorted "$1" | sed -n "$(( (n + 1) / 2 ))p"; }
minimum() { sorted "$1" | head -n 1; }
maximum() { sorted "$1" | tail -n 1; }

timed() {  # name command...: prepares, runs, leaves the seconds in $seconds and KiB in $peak
  local name=$1
  shift
  prepare
  measure_once "$name" "$@"
  seconds=${result% *}
  peak=${result#* }
}

# BENCH_SPLIT=0 leaves out the splits of the synthetic stream and the copy methods.
if [ "${BENCH_SPLIT:-1}" != 0 ]; then
echo "tarnwick bench: 1 GiB synthetic program stream (packs of 2,048 bytes), $split_pairs pairs" \
  "each, order alternating"
echo "page cache: warm (source read once before every run; outputs removed and synced before)"
for pieces in 1 10; do
  ratios=""
  ours_times=""
  cp_times=""
  peaks=""
  for ((pair = 0; pair < split_pairs; pair++)); do
    for turn in 0 1; do
      if (( (pair + turn) % 2 == 0 )); then
        timed cp cp "$work/source.mpg" "$work/out/copy.mpg"
        theirs=$seconds
      else
        timed split "$cli" split-size "$work/source.mpg" --pieces "$pieces" --output-dir "$work/out"
        ours=$seconds
        peaks+="$peak "
      fi
    done
    ours_times+="$ours "
    cp_times+="$theirs "
    ratios+="$(awk -v t="$ours" -v r="$theirs" 'BEGIN { printf "%.3f", t / r }') "
  done
  ratio=$(median "$ratios")
  mib=$(awk -v k="$(maximum "$peaks")" 'BEGIN { printf "%.1f", k / 1024 }')
  verdict=$(awk -v q="$ratio" -v m="$mib" \
    'BEGIN { print ((q <= 1.25 && m < 32) ? "ok" : "OVER TARGET") }')
  label="split into $pieces piece"
  [ "$pieces" -gt 1 ] && label+="s"
  printf '%-22s %8.3f s (median; cp %.3f s)\n' "$label" "$(median "$ours_times")" \
    "$(median "$cp_times")"
  printf '%-22s %8s   min %s   max %s   (target <= 1.25, goal 1.1)   peak memory %s MiB' \
    "  ratio to cp" "$ratio" "$(minimum "$ratios")" "$(maximum "$ratios")" "$mib"
  printf ' (target < 32)   %s\n' "$verdict"
done

# The ways to copy a range whose source and output positions differ by other than whole pages,
# side by side on the same source: the copy uses the fastest (splice through a pipe, measured).
echo
rm -rf "$work/out"
mkdir "$work/out"
"$copymethods" "$work/source.mpg" "$work/out" "${COPY_ROUNDS:-5}"
fi

# Clean split of a 1 GiB DVD-style stream (MPEG-2, AC-3, navigation packs, 20 s of encoded
# picture repeated) into 10 pieces, paired against cp like the splits above (target <= 1.10).
# Then the same split on an XFS loop file system with shared blocks (mkfs.xfs -m reflink=1):
# its time and the new blocks it takes, from df before and after (target < 0.1 s, < 1 MiB).
# BENCH_CLEAN=0 leaves it out.
clean_split() {
  if ! command -v ffmpeg > /dev/null; then
    echo "clean split of a DVD-style stream: skipped (ffmpeg missing)"
    return
  fi
  rm -rf "$work/out"
  ffmpeg -loglevel error -f lavfi -i testsrc2=size=720x576:rate=25 \
    -f lavfi -i sine=frequency=440:sample_rate=48000 -t 20 -g 15 -bf 2 \
    -target pal-dvd "$work/dvd-piece.vob"
  local piece_bytes loops dvd_bytes seconds_total piece_seconds
  piece_bytes=$(stat -c %s "$work/dvd-piece.vob")
  loops=$(( (size + piece_bytes - 1) / piece_bytes - 1 ))
  ffmpeg -loglevel fatal -stream_loop "$loops" -i "$work/dvd-piece.vob" -c copy \
    -f dvd -muxrate 10080000 -packetsize 2048 "$work/dvd.vob"
  rm -f "$work/dvd-piece.vob"
  dvd_bytes=$(stat -c %s "$work/dvd.vob")
  seconds_total=$(( (loops + 1) * 20 ))
  dvd_seconds=$seconds_total
  piece_seconds=$(( (seconds_total + 9) / 10 ))
  local ratios="" ours_times="" cp_times="" pair turn ours theirs
  for ((pair = 0; pair < split_pairs; pair++)); do
    for turn in 0 1; do
      if (( (pair + turn) % 2 == 0 )); then
        rm -rf "$work/out"; mkdir "$work/out"; sync; cat "$work/dvd.vob" > /dev/null
        measure_once cp cp "$work/dvd.vob" "$work/out/copy.vob"
        theirs=${result% *}
      else
        rm -rf "$work/out"; mkdir "$work/out"; sync; cat "$work/dvd.vob" > /dev/null
        measure_once clean "$cli" split-time "$work/dvd.vob" --seconds "$piece_seconds" \
          --output-dir "$work/out" --clean --quiet --duration "$seconds_total"
        ours=${result% *}
      fi
    done
    ours_times+="$ours "
    cp_times+="$theirs "
    ratios+="$(awk -v t="$ours" -v r="$theirs" 'BEGIN { printf "%.3f", t / r }') "
  done
  echo
  echo "clean split of a $((dvd_bytes / 1048576)) MiB DVD-style stream into 10 pieces" \
    "($split_pairs pairs, order alternating, warm cache)"
  printf '%-22s %8.3f s (median; cp %.3f s)\n' "clean split" "$(median "$ours_times")" \
    "$(median "$cp_times")"
  printf '%-22s %8s   min %s   max %s   (target <= 1.10)   %s\n' "  ratio to cp" \
    "$(median "$ratios")" "$(minimum "$ratios")" "$(maximum "$ratios")" \
    "$(awk -v q="$(median "$ratios")" 'BEGIN { print (q <= 1.10 ? "ok" : "OVER TARGET") }')"
  rm -rf "$work/out"

  # XFS with shared blocks, on a loop file system in the work folder.
  local image=$work/xfs.img mnt=$work/xfs
  if ! command -v mkfs.xfs > /dev/null || ! truncate -s 3G "$image" ||
    ! mkfs.xfs -q -m reflink=1 "$image" > /dev/null 2>&1 || ! mkdir -p "$mnt" ||
    ! mount -o loop "$image" "$mnt" 2> /dev/null; then
    echo "clean split on XFS with reflink: skipped (no loop mount of an XFS file system here)"
    rm -f "$image"
    return
  fi
  cp "$work/dvd.vob" "$mnt/dvd.vob"
  mkdir "$mnt/out"
  sync
  local used_before used_after
  used_before=$(df -B1 --output=used "$mnt" | tail -n 1)
  measure_once xfs "$cli" split-time "$mnt/dvd.vob" --seconds "$piece_seconds" \
    --output-dir "$mnt/out" --clean --quiet --duration "$seconds_total"
  sync
  used_after=$(df -B1 --output=used "$mnt" | tail -n 1)
  local took=${result% *}
  local grown=$(( used_after - used_before ))
  printf '%-22s %8.3f s, %s KiB of new blocks (df before %s, after %s)   (target < 0.1 s, < 1024 KiB)   %s\n' \
    "  on XFS (reflink)" "$took" "$(( grown / 1024 ))" "$used_before" "$used_after" \
    "$(awk -v t="$took" -v g="$grown" 'BEGIN { print (t < 0.1 && g < 1048576 ? "ok" : "OVER TARGET") }')"
  umount "$mnt"
  rm -f "$image"
}
# Cut lists and joins of the DVD-style stream, each paired against cp of the same bytes kept,
# like the splits (targets: a cut list to one file and a join that moves clocks <= 1.5, a join
# whose clocks run on <= 1.1). The cut list keeps three fifths of the stream in three segments;
# the joins take its three thirds cut at packs (clocks run on) or its first third three times
# (each moved to follow the one before).
pair_against_cp() {  # label target kept-bytes-file command...
  local label=$1 target=$2 kept=$3
  shift 3
  local ratios="" ours_times="" cp_times="" pair turn ours theirs
  for ((pair = 0; pair < split_pairs; pair++)); do
    for turn in 0 1; do
      rm -rf "$work/out"; mkdir "$work/out"; sync; cat "$work"/dvd*.vob > /dev/null
      if (( (pair + turn) % 2 == 0 )); then
        measure_once cp cp "$kept" "$work/out/copy.vob"
        theirs=${result% *}
      else
        measure_once "$label" "$@"
        ours=${result% *}
      fi
    done
    ours_times+="$ours "
    cp_times+="$theirs "
    ratios+="$(awk -v t="$ours" -v r="$theirs" 'BEGIN { printf "%.3f", t / r }') "
  done
  printf '%-22s %8.3f s (median; cp %.3f s)   ratio %s   min %s   max %s   (target <= %s)   %s\n' \
    "$label" "$(median "$ours_times")" "$(median "$cp_times")" "$(median "$ratios")" \
    "$(minimum "$ratios")" "$(maximum "$ratios")" "$target" \
    "$(awk -v q="$(median "$ratios")" -v t="$target" 'BEGIN { print (q <= t ? "ok" : "OVER TARGET") }')"
}
cut_list_and_join() {
  local seconds_total=$1 dvd_bytes packs fifth
  dvd_bytes=$(stat -c %s "$work/dvd.vob")
  packs=$((dvd_bytes / 2048))
  fifth=$((seconds_total / 5))
  local segments="$fifth-$((2 * fifth)),$((2 * fifth))-$((3 * fifth)),$((4 * fifth))-$((5 * fifth - 1))"
  head -c $((dvd_bytes * 3 / 5)) "$work/dvd.vob" > "$work/dvd-kept.vob"
  # A DVD's VOB files hold whole pages (1 GiB each), so the join can share their blocks.
  local third=$((packs / 6 * 2))
  # Written in large blocks, as the stream itself was: files written 2 KiB at a time copy
  # markedly slower from the page cache, which would load the join's side of the pair.
  local third_bytes=$((third * 2048))
  dd if="$work/dvd.vob" of="$work/dvd1.vob" bs=1M iflag=count_bytes count=$third_bytes \
    status=none
  dd if="$work/dvd.vob" of="$work/dvd2.vob" bs=1M iflag=skip_bytes,count_bytes \
    skip=$third_bytes count=$third_bytes status=none
  dd if="$work/dvd.vob" of="$work/dvd3.vob" bs=1M iflag=skip_bytes skip=$((2 * third_bytes)) \
    status=none
  head -c $(( $(stat -c %s "$work/dvd1.vob") * 3 )) "$work/dvd.vob" > "$work/dvd-thrice.vob"
  echo
  echo "cut lists and joins of the $((dvd_bytes / 1048576)) MiB DVD-style stream" \
    "($split_pairs pairs, order alternating, warm cache)"
  pair_against_cp "cut list (3 segments)" 1.5 "$work/dvd-kept.vob" "$cli" cut "$work/dvd.vob" \
    --segments "$segments" --output "$work/out/list.vob" --quiet --duration "$seconds_total"
  pair_against_cp "join, clocks moved" 1.5 "$work/dvd-thrice.vob" "$cli" join \
    "$work/dvd1.vob" "$work/dvd1.vob" "$work/dvd1.vob" --output "$work/out/join.vob" --quiet
  pair_against_cp "join, clocks run on" 1.1 "$work/dvd.vob" "$cli" join "$work/dvd1.vob" \
    "$work/dvd2.vob" "$work/dvd3.vob" --output "$work/out/join.vob" --quiet
  rm -f "$work/dvd-kept.vob" "$work/dvd-thrice.vob" "$work"/dvd[123].vob
  rm -rf "$work/out"
}
if [ "${BENCH_CLEAN:-1}" != 0 ]; then
  clean_split
  if [ -f "$work/dvd.vob" ]; then
    cut_list_and_join "$dvd_seconds"
  fi
  rm -f "$work/dvd.vob"
fi

# Clean cuts of a 1 GiB MPEG-2 stream whose only key picture is its first: every requested
# cut merges, the series writes one piece. Against cp in alternating pairs, like the splits;
# then a clean clip that must be refused, and a split stopped by SIGINT after 0.1 s.
"$stream" "$work/source.mpg" "$size" one-key
echo
echo "clean cuts of a 1 GiB MPEG-2 stream with one key picture (its first), $split_pairs pairs"
for command in "split-size --pieces 10" "split-time --seconds 2"; do
  ratios=""
  ours_times=""
  cp_times=""
  for ((pair = 0; pair < split_pairs; pair++)); do
    for turn in 0 1; do
      if (( (pair + turn) % 2 == 0 )); then
        timed cp cp "$work/source.mpg" "$work/out/copy.mpg"
        theirs=$seconds
      else
        # shellcheck disable=SC2086
        timed clean "$cli" ${command} "$work/source.mpg" --output-dir "$work/out" --clean
        ours=$seconds
      fi
    done
    ours_times+="$ours "
    cp_times+="$theirs "
    ratios+="$(awk -v t="$ours" -v r="$theirs" 'BEGIN { printf "%.3f", t / r }') "
  done
  printf '%-28s %8.3f s (median; cp %.3f s)   ratio to cp %s   min %s   max %s\n' \
    "${command%% *} --clean" "$(median "$ours_times")" "$(median "$cp_times")" \
    "$(median "$ratios")" "$(minimum "$ratios")" "$(maximum "$ratios")"
done
refused=""
for ((pair = 0; pair < split_pairs; pair++)); do
  prepare
  start=$(date +%s.%N)
  if "$cli" cut "$work/source.mpg" --start 300 --end 310 --output "$work/out/clip.mpg" \
    --clean > /dev/null 2>&1; then
    echo "bench: the clean clip was not refused" >&2
    exit 1
  fi
  refused+="$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.3f", e - s }') "
done
printf '%-28s %8.3f s (median)   min %s   max %s\n' "cut --clean refused" \
  "$(median "$refused")" "$(minimum "$refused")" "$(maximum "$refused")"
stopped=""
for ((pair = 0; pair < split_pairs; pair++)); do
  prepare
  "$cli" split-time "$work/source.mpg" --seconds 2 --output-dir "$work/out" --clean \
    > /dev/null 2>&1 &
  sleep 0.1
  start=$(date +%s.%N)
  kill -INT $!
  wait $! || true
  stopped+="$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.3f", e - s }') "
done
printf '%-28s %8.3f s (median from SIGINT to exit)   max %s\n' "split-time --clean stopped" \
  "$(median "$stopped")" "$(maximum "$stopped")"

# BENCH_OPEN=0 leaves out the opening (it encodes its stream first, which takes a while).
if [ "${BENCH_OPEN:-1}" = 0 ]; then
  exit 0
fi

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
ratio=$(median "$ratios")
low=$(minimum "$ratios")
high=$(maximum "$ratios")
verdict=$(awk -v q="$ratio" 'BEGIN { print (q <= 1.0 ? "ok" : "OVER TARGET") }')
echo
echo "open a $((movie_bytes / 1048576)) MiB MPEG-2 program stream: $open_pairs pairs, a new" \
  "process each, order alternating (warm cache); length from: $source"
printf '%-22s %8.3f s (median)\n' "ffprobe" "$(median "$theirs_times")"
printf '%-22s %8.3f s (median)\n' "tarnwick-cli probe" "$(median "$ours_times")"
printf '%-22s %8s   min %s   max %s   (target <= 1.0, goal 0.5)   %s\n' \
  "ratio to ffprobe" "$ratio" "$low" "$high" "$verdict"
