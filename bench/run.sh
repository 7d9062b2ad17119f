#!/usr/bin/env bash
# Times reelprint side by side with tools that read the same image, in alternating rounds so
# that a passing disturbance hits every command alike. Prints each median, reelprint's ratio
# to each other command, reelprint's peak resident memory, and (with valgrind) instructions
# per input byte.
#
#   bench/run.sh            256 MiB images, 7 rounds; small images (0 to 1 MiB), 15 rounds
#   bench/run.sh --quick    16 MiB images, 2 rounds; small images, 5 rounds; no callgrind
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
mib=256 rounds=7 small_rounds=15 quick=0
if [ "${1:-}" = "--quick" ]; then mib=16 rounds=2 small_rounds=5 quick=1; fi

build="$top/build-bench"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target reelprint make_bench_images >/dev/null
rp="$build/reelprint"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for kind in mixed cards blanks object; do
  "$build/bench/make_bench_images" "$kind" "$mib" 1 "$scratch/$kind.tap"
done
# Small images, as most that people list are: there start-up is most of the time.
: >"$scratch/empty.tap"
for size in 4K 100K 1; do
  "$build/bench/make_bench_images" mixed "$size" 1 "$scratch/small-$size.tap"
done
sync  # written out now, not while the commands are timed
for image in "$scratch"/*.tap; do cat "$image" >/dev/null; done  # into the page cache

calc() { awk "BEGIN { printf \"%.6g\", $1 }"; }

# Runs each command of the group "$@" a few times a round, rotating the order from round to
# round; records the median seconds of each round. hyperfine, where present, takes the time
# of starting a shell off; otherwise the time of an empty shell command is taken off here.
declare -A times
shell_cost=0
if ! command -v hyperfine >/dev/null; then
  for _ in 1 2 3 4 5; do
    start=$EPOCHREALTIME
    bash -c true
    shell_cost=$(calc "$EPOCHREALTIME - $start")
  done
fi
time_once() {
  if command -v hyperfine >/dev/null; then
    hyperfine --style none --runs 3 --export-csv "$scratch/one.csv" "$1" >/dev/null 2>&1
    tail -1 "$scratch/one.csv" | awk -F, '{print $(NF-4)}'  # the median column
  else
    local start=$EPOCHREALTIME
    bash -c "$1" >/dev/null 2>&1
    calc "$EPOCHREALTIME - $start - $shell_cost"
  fi
}
time_group() {
  local round k n=$#
  local cmds=("$@")
  # A run of each first, untimed, brings the group's image back into the page cache if
  # anything has pushed it out since.
  for ((k = 0; k < n; k++)); do bash -c "${cmds[k]}" >/dev/null 2>&1; done
  for ((round = 0; round < rounds; round++)); do
    for ((k = 0; k < n; k++)); do
      local cmd=${cmds[(k + round) % n]}
      times[$cmd]+="$(time_once "$cmd") "
    done
  done
}

# A run on a small image takes about a millisecond, too short to time alone: each time is of
# `small_reps` runs in a row, started from this shell as a user's shell would, divided.
small_reps=20
time_small_group() {
  local round k i start n=$#
  local cmds=("$@")
  for ((k = 0; k < n; k++)); do eval "${cmds[k]}" >/dev/null 2>&1; done
  for ((round = 0; round < small_rounds; round++)); do
    for ((k = 0; k < n; k++)); do
      local cmd=${cmds[(k + round) % n]}
      start=$EPOCHREALTIME
      for ((i = 0; i < small_reps; i++)); do eval "$cmd" >/dev/null 2>&1; done
      times[$cmd]+="$(calc "($EPOCHREALTIME - $start) / $small_reps") "
    done
  done
}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# Prints the median of each command of a group and reelprint's ratio to it (the first command
# of the group is reelprint's).
report() {
  local title=$1; shift
  local base ms
  base=$(echo "${times[$1]}" | median)
  echo
  echo "$title"
  printf '  %-52s %10s %12s\n' command "median ms" "reelprint/x"
  for cmd in "$@"; do
    ms=$(echo "${times[$cmd]}" | median)
    printf '  %-52s %10.2f %12.2f\n' "${cmd//$build\//}" "$(calc "$ms * 1000")" \
      "$(calc "$base / $ms")"
  done
}

cd "$scratch"
echo "reelprint benchmark: ${mib} MiB images, $rounds alternating rounds ($(command -v hyperfine >/dev/null && echo "hyperfine, 3 runs a round" || echo "bash timing")), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"

group1=("$rp mixed.tap > /dev/null" "cat mixed.tap > /dev/null" "wc -l mixed.tap")
slow1=("$rp mixed.tap > /dev/null" "xxd mixed.tap > /dev/null")
group2=("$rp cards.tap > /dev/null" "cat cards.tap > /dev/null")
group3=("$rp mixed.tap | wc -c" "cat mixed.tap | wc -c")
group4=("$rp -w blanks.tap > /dev/null" "$rp blanks.tap > /dev/null" "cat blanks.tap > /dev/null")
group5=("$rp -w object.tap > /dev/null" "cat object.tap > /dev/null")
small_sizes=(empty small-4K small-100K small-1)
time_group "${group1[@]}"
saved=$rounds
rounds=$(( rounds < 3 ? rounds : 3 ))  # xxd is slow: fewer rounds against it
time_group "${slow1[@]}"
rounds=$saved
time_group "${group2[@]}"
time_group "${group3[@]}"
time_group "${group4[@]}"
time_group "${group5[@]}"
for size in "${small_sizes[@]}"; do
  time_small_group "$rp $size.tap > /dev/null" "cat $size.tap > /dev/null" "xxd $size.tap > /dev/null"
done

# reelprint's median on image 1 is taken over its runs against all three.
report "Image 1: records of 80 to 2000 codes" "${group1[@]}" "${slow1[1]}"
report "Image 2: 80-character cards" "${group2[@]}"
report "Image 1 through a pipe" "${group3[@]}"
report "Image 3: blank-heavy records with word separators" "${group4[@]}"
report "Image 4: an object deck (80-byte cards, one byte in seven a word separator)" "${group5[@]}"
for size in "${small_sizes[@]}"; do
  report "Small image $size.tap ($(stat -c %s "$size.tap") bytes; each time of one run, from $small_reps in a row)" \
    "$rp $size.tap > /dev/null" "cat $size.tap > /dev/null" "xxd $size.tap > /dev/null"
done

echo
for kind in mixed cards blanks object; do
  rss=$(/usr/bin/time -f %M "$rp" -w "$kind.tap" 2>&1 >/dev/null | tail -1)
  echo "peak resident memory, reelprint -w $kind.tap: ${rss} KiB"
done

if [ "$quick" = 0 ] && command -v valgrind >/dev/null; then
  "$build/bench/make_bench_images" mixed 16 1 cut.tap
  # The instructions spent waiting for a block read ahead (or for room to read one) are left
  # out: they count the time the other thread takes (valgrind runs one thread at a time), not
  # work done.
  valgrind --tool=callgrind --callgrind-out-file=callgrind.out "$rp" cut.tap >/dev/null 2>&1
  read -r total waiting < <(callgrind_annotate --inclusive=yes callgrind.out 2>/dev/null | awk '
    /PROGRAM TOTALS/ { gsub(",", "", $1); total = $1 }
    /wait_above/ { gsub(",", "", $1); waiting += $1 }
    END { print total, waiting + 0 }')
  instructions=$((total - waiting))
  bytes=$(stat -c %s cut.tap)
  echo "callgrind: $instructions instructions for $bytes bytes of image 1:" \
    "$(calc "$instructions / $bytes") per byte ($waiting more spent waiting for blocks read ahead)"
fi
