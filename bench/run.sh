#!/usr/bin/env bash
# Times reelprint side by side with tools that read the same image, in alternating rounds so
# that a passing disturbance hits every command alike. Prints each median and reelprint's
# ratio to each other command, first on a quiet machine ("idle"), then the large images again
# with one busy loop running beside the run ("busy"), as on a machine doing something else as
# well. Then reelprint's processor time against its wall time, its peak resident memory,
# (with valgrind) instructions per input byte, and a summary of the figures that matter most.
#
#   bench/run.sh               256 MiB images, 7 rounds; small images (0 to 1 MiB), 15 rounds
#   bench/run.sh --quick       16 MiB images, 5 rounds; small images, 5 rounds; no callgrind
#   bench/run.sh --vs BINARY   also times BINARY, another reelprint (an older build, say), in
#                              the same rounds, and prints its ratios beside; goes with --quick
#
# The reelprint timed is built from this source tree, or from the tree named by the
# environment variable BENCH_SOURCE, in its folder build-bench.
set -euo pipefail

usage() {
  echo "Usage: bench/run.sh [--quick] [--vs BINARY]" >&2
  exit 2
}

top=$(cd "$(dirname "$0")/.." && pwd)
source_tree=${BENCH_SOURCE:-$top}
mib=256 rounds=7 small_rounds=15 quick=0 vs=""
while [ $# -gt 0 ]; do
  case $1 in
    --quick) mib=16 rounds=5 small_rounds=5 quick=1 ;;
    --vs)
      [ $# -ge 2 ] || usage
      [ -f "$2" ] && [ -x "$2" ] || { echo "run.sh: no program at $2" >&2; exit 2; }
      vs=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")  # the run goes on in another folder
      shift ;;
    *) usage ;;
  esac
  shift
done

[ -x /usr/bin/time ] || { echo "run.sh: needs GNU time at /usr/bin/time (package: time)" >&2; exit 2; }

build="$source_tree/build-bench"
if ! { cmake -S "$source_tree" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF &&
       cmake --build "$build" -j2 --target reelprint reeltext reelcopy make_bench_images; } >/dev/null; then
  echo "run.sh: building $source_tree in $build failed" >&2
  exit 1
fi
rp="$build/reelprint"
rt="$build/reeltext"
rc="$build/reelcopy"
make_image="$build/bench/make_bench_images"

scratch=$(mktemp -d)
busy_pid=""
# Ends the busy loop (if running) by its process id.
stop_busy() {
  if [ -n "$busy_pid" ]; then
    kill "$busy_pid" 2>/dev/null || true
    wait "$busy_pid" 2>/dev/null || true
    busy_pid=""
  fi
}
start_busy() {
  bash -c 'while :; do :; done' &
  busy_pid=$!
}
trap 'stop_busy; rm -rf "$scratch"' EXIT
trap 'exit 130' INT  # through the trap above
trap 'exit 143' TERM

for kind in mixed cards blanks object; do
  "$make_image" "$kind" "$mib" 1 "$scratch/$kind.tap"
done
# A reel of 20 MiB, about the most a real tape holds.
"$make_image" mixed 20 1 "$scratch/reel.tap"
# Small images, as most that people list are: there start-up is most of the time.
: >"$scratch/empty.tap"
for size in 4K 100K 1; do
  "$make_image" mixed "$size" 1 "$scratch/small-$size.tap"
done
# The text of images 1 and 2, for reeltext to build them back from.
for kind in mixed cards; do "$rt" "$scratch/$kind.tap" >"$scratch/$kind.txt"; done
# Image 1 as a seven-track dump, for reelcopy to read back.
"$rc" --to=p7b "$scratch/mixed.tap" >"$scratch/mixed.p7b"
sync  # written out now, not while the commands are timed
for image in "$scratch"/*.tap "$scratch"/*.txt "$scratch"/*.p7b; do cat "$image" >/dev/null; done  # into the page cache

calc() { awk "BEGIN { printf \"%.6g\", $1 }"; }
two_places() { awk "BEGIN { printf \"%.2f\", $1 }"; }
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
median_of() { echo "${times[$1]:-}" | median; }  # of the times recorded under the key $1

# Commands are written with @rp for reelprint, @rt for reeltext, @rc for reelcopy and @vs for the binary given
# with --vs; they are shown so, and run with the paths put in. Times are kept by phase (idle or busy) and command.
declare -A binary=([@rp]=$rp [@vs]=$vs)
rp_quoted=$(printf %q "$rp")
rt_quoted=$(printf %q "$rt")
rc_quoted=$(printf %q "$rc")
vs_quoted=$(printf %q "$vs")
runnable() {
  local cmd=${1//@rp/$rp_quoted}
  cmd=${cmd//@rt/$rt_quoted}
  cmd=${cmd//@rc/$rc_quoted}
  printf '%s' "${cmd//@vs/$vs_quoted}"
}
shown() {
  local cmd=${1//@rp/reelprint}
  cmd=${cmd//@rt/reeltext}
  cmd=${cmd//@rc/reelcopy}
  printf '%s' "${cmd//@vs/vs}"
}
# Sets the array named $1 to the reelprint command $2, the same with the --vs binary if one
# is given, and the other commands after them.
group() {
  local -n into=$1
  local cmd=$2
  shift 2
  into=("$cmd")
  [ -z "$vs" ] || into+=("${cmd//@rp/@vs}")
  into+=("$@")
}
declare -A times
phase=idle

# The first run of each command, untimed, brings its image back into the page cache if
# anything has pushed it out since, and stops the benchmark if the command fails.
try_once() {
  if ! bash -o pipefail -c "$(runnable "$1")" >/dev/null 2>&1; then
    echo "run.sh: this command failed: $(runnable "$1")" >&2
    exit 1
  fi
}

# hyperfine, where present, takes the time of starting a shell off; otherwise the median
# time of an empty shell command, taken in each phase, is taken off here.
declare -A shell_cost
measure_shell_cost() {
  local k start
  shell_cost[$phase]=$(for k in 1 2 3 4 5; do
    start=$EPOCHREALTIME
    bash -c true
    calc "$EPOCHREALTIME - $start"
    echo
  done | median)
}
# Prints the median seconds of three runs of the command $1.
time_once() {
  local cmd k start
  cmd=$(runnable "$1")
  if command -v hyperfine >/dev/null; then
    if ! hyperfine --style none --runs 3 --export-csv "$scratch/one.csv" "$cmd" >/dev/null 2>&1; then
      echo "run.sh: hyperfine failed on: $cmd" >&2
      exit 1  # this ends only the subshell: time_group sees it
    fi
    tail -1 "$scratch/one.csv" | awk -F, '{print $(NF-4)}'  # the median column
  else
    for k in 1 2 3; do
      start=$EPOCHREALTIME
      bash -c "$cmd" >/dev/null 2>&1
      calc "$EPOCHREALTIME - $start - ${shell_cost[$phase]}"
      echo
    done | median
  fi
}
# Runs each command of the group "${@:2}" in $1 rounds, rotating the order from round to
# round; records the median seconds of each round.
time_group() {
  local group_rounds=$1 round k cmd seconds
  shift
  local cmds=("$@") n=$#
  for ((k = 0; k < n; k++)); do try_once "${cmds[k]}"; done
  for ((round = 0; round < group_rounds; round++)); do
    for ((k = 0; k < n; k++)); do
      cmd=${cmds[(k + round) % n]}
      seconds=$(time_once "$cmd") || exit 1
      times[$phase:$cmd]+="$seconds "
    done
  done
}

# A run on a small image takes about a millisecond, too short to time alone: each time is of
# `small_reps` runs in a row, started from this shell as a user's shell would, divided.
small_reps=20
time_small_group() {
  local round k i start cmd
  local cmds=("$@") n=$#
  for ((k = 0; k < n; k++)); do try_once "${cmds[k]}"; done
  for ((round = 0; round < small_rounds; round++)); do
    for ((k = 0; k < n; k++)); do
      cmd=$(runnable "${cmds[(k + round) % n]}")
      start=$EPOCHREALTIME
      for ((i = 0; i < small_reps; i++)); do eval "$cmd" >/dev/null 2>&1; done
      times[$phase:${cmds[(k + round) % n]}]+="$(calc "($EPOCHREALTIME - $start) / $small_reps") "
    done
  done
}

# Processor time (user + system) over wall time of reelprint on image 1: a single thread
# that never waits shows 1, one that waits for its input less, a second thread working
# alongside more. Each sample is of enough runs in a row to last about a quarter second
# (bash's `time` gives milliseconds, GNU time hundredths), the binaries taking turns.
cpu_samples=$((rounds > 5 ? rounds : 5))
time_cpu() {
  local sample k i out cpu_reps
  cpu_reps=$(awk "BEGIN { t = $(median_of "idle:@rp mixed.tap > /dev/null"); print int(0.25 / (t > 0.001 ? t : 0.001)) + 1 }")
  local cmds=("$@") n=$#
  local TIMEFORMAT='%3R %3U %3S'
  for ((sample = 0; sample < cpu_samples; sample++)); do
    for ((k = 0; k < n; k++)); do
      local bin=${cmds[(k + sample) % n]}
      out=$( { time for ((i = 0; i < cpu_reps; i++)); do
                 "${binary[$bin]}" mixed.tap >/dev/null 2>&1; done; } 2>&1)
      times[cpu:$bin]+="$(echo "$out" | awk '{ printf "%.6g", ($2 + $3) / $1 }') "
    done
  done
}

# Prints the median of each command of a group and reelprint's ratio to it (the first command
# of the group is reelprint's), and the --vs binary's beside.
report() {
  local title=$1
  shift
  local rp_s vs_s s cmd
  rp_s=$(median_of "$phase:$1")
  [ -z "$vs" ] || vs_s=$(median_of "$phase:${1//@rp/@vs}")
  echo
  echo "$title"
  printf '  %-52s %10s %12s' command "median ms" "reelprint/x"
  [ -z "$vs" ] && echo || printf ' %12s\n' "vs/x"
  for cmd in "$@"; do
    s=$(median_of "$phase:$cmd")
    printf '  %-52s %10.2f %12.2f' "$(shown "$cmd")" "$(calc "$s * 1000")" "$(calc "$rp_s / $s")"
    [ -z "$vs" ] && echo || printf ' %12.2f\n' "$(calc "$vs_s / $s")"
  done
}

# The summary: one row a figure, kept as its label, the value for reelprint and the value for
# the --vs binary (if any), separated by tabs.
summary=()
summarize() { summary+=("$(printf '%s\t' "$@")"); }
# Adds the row $1: in phase $2, the ratio of the reelprint command $3 to the command $4.
summarize_ratio() {
  local label=$1 at=$2 cmd=$3 other=$4 other_s
  other_s=$(median_of "$at:$other")
  summarize "$label" "$(two_places "$(median_of "$at:$cmd") / $other_s")" \
    ${vs:+"$(two_places "$(median_of "$at:${cmd//@rp/@vs}") / $other_s")"}
}

cd "$scratch"
echo "reelprint benchmark: ${mib} MiB images, $rounds alternating rounds ($(command -v hyperfine >/dev/null && echo "hyperfine" || echo "bash timing"), 3 runs a round), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
echo "reelprint: $rp (built from $source_tree)"
[ -z "$vs" ] || echo "vs: $vs"
echo "load average before the run: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine skews every figure)"

group mixed_cat "@rp mixed.tap > /dev/null" "cat mixed.tap > /dev/null"
mixed=("${mixed_cat[@]}" "wc -l mixed.tap")
group mixed_xxd "@rp mixed.tap > /dev/null" "xxd mixed.tap > /dev/null"
group cards "@rp cards.tap > /dev/null" "cat cards.tap > /dev/null"
group mixed_pipe "@rp mixed.tap | wc -c" "cat mixed.tap | wc -c"
group blanks "@rp -w blanks.tap > /dev/null" "@rp blanks.tap > /dev/null" "cat blanks.tap > /dev/null"
[ -z "$vs" ] || blanks+=("@vs blanks.tap > /dev/null")
group object "@rp -w object.tap > /dev/null" "cat object.tap > /dev/null"
group object_pipe "@rp -w object.tap | wc -c" "cat object.tap | wc -c"
group reel "@rp reel.tap > /dev/null" "cat reel.tap > /dev/null"
# reeltext, image to text and text to image, against cat of what it reads.
for kind in mixed cards; do
  declare -a "to_text_$kind=(\"@rt $kind.tap > /dev/null\" \"cat $kind.tap > /dev/null\")"
  declare -a "to_image_$kind=(\"@rt -r $kind.txt > /dev/null\" \"cat $kind.txt > /dev/null\")"
done
# reelcopy, simh to simh and a P7B dump to simh, against cat of what it reads.
copy_simh=("@rc mixed.tap > /dev/null" "cat mixed.tap > /dev/null")
copy_p7b=("@rc --from=p7b mixed.p7b > /dev/null" "cat mixed.p7b > /dev/null")
small_sizes=(empty small-4K small-100K small-1)
small_group() { group small "@rp $1.tap > /dev/null" "cat $1.tap > /dev/null" "xxd $1.tap > /dev/null"; }

# Timed on a quiet machine.
measure_shell_cost
time_group "$rounds" "${mixed[@]}"
time_group $((rounds < 3 ? rounds : 3)) "${mixed_xxd[@]}"  # xxd is slow: fewer rounds against it
time_group "$rounds" "${cards[@]}"
time_group "$rounds" "${mixed_pipe[@]}"
time_group "$rounds" "${blanks[@]}"
time_group "$rounds" "${object[@]}"
time_group "$rounds" "${object_pipe[@]}"
time_group $((3 * rounds)) "${reel[@]}"  # a short run: more rounds
for kind in mixed cards; do
  declare -n text_cmds="to_text_$kind" image_cmds="to_image_$kind"
  time_group "$rounds" "${text_cmds[@]}"
  time_group "$rounds" "${image_cmds[@]}"
done
time_group "$rounds" "${copy_simh[@]}"
time_group "$rounds" "${copy_p7b[@]}"
for size in "${small_sizes[@]}"; do
  small_group "$size"
  time_small_group "${small[@]}"
done
time_cpu @rp ${vs:+@vs}

# Timed again with one busy loop running beside.
start_busy
phase=busy
measure_shell_cost
time_group "$rounds" "${mixed_cat[@]}"
time_group "$rounds" "${cards[@]}"
time_group "$rounds" "${object[@]}"
time_group "$rounds" "${mixed_pipe[@]}"
time_group "$rounds" "${object_pipe[@]}"
time_group "$rounds" "${copy_simh[@]}"
time_group "$rounds" "${copy_p7b[@]}"
stop_busy

phase=idle
# reelprint's median on image 1 is taken over its runs against all three.
report "Image 1: records of 80 to 2000 codes" "${mixed[@]}" "xxd mixed.tap > /dev/null"
report "Image 2: 80-character cards" "${cards[@]}"
report "Image 1 through a pipe" "${mixed_pipe[@]}"
report "Image 3: blank-heavy records with word separators" "${blanks[@]}"
report "Image 4: an object deck (80-byte cards, one byte in seven a word separator)" "${object[@]}"
report "Image 4 under -w through a pipe" "${object_pipe[@]}"
report "A 20 MiB reel of records of 80 to 2000 codes" "${reel[@]}"
for kind in mixed cards; do
  declare -n text_cmds="to_text_$kind" image_cmds="to_image_$kind"
  report "reeltext: image $kind.tap to text" "${text_cmds[@]}"
  report "reeltext -r: the text of $kind.tap to an image" "${image_cmds[@]}"
done
report "reelcopy: image 1, simh to simh" "${copy_simh[@]}"
report "reelcopy: image 1 as a P7B dump to simh" "${copy_p7b[@]}"
for size in "${small_sizes[@]}"; do
  small_group "$size"
  report "Small image $size.tap ($(stat -c %s "$size.tap") bytes; each time of one run, from $small_reps in a row)" \
    "${small[@]}"
done

phase=busy
report "Image 1, busy (one busy loop beside)" "${mixed_cat[@]}"
report "Image 2, busy" "${cards[@]}"
report "Image 4 under -w, busy" "${object[@]}"
report "Image 1 through a pipe, busy" "${mixed_pipe[@]}"
report "Image 4 under -w through a pipe, busy" "${object_pipe[@]}"
report "reelcopy: image 1, simh to simh, busy" "${copy_simh[@]}"
report "reelcopy: image 1 as a P7B dump to simh, busy" "${copy_p7b[@]}"

summarize_ratio "image 1 (mixed) > /dev/null, idle" idle "@rp mixed.tap > /dev/null" "cat mixed.tap > /dev/null"
summarize_ratio "image 2 (cards) > /dev/null, idle" idle "@rp cards.tap > /dev/null" "cat cards.tap > /dev/null"
summarize_ratio "image 1 (mixed) > /dev/null, busy" busy "@rp mixed.tap > /dev/null" "cat mixed.tap > /dev/null"
summarize_ratio "image 2 (cards) > /dev/null, busy" busy "@rp cards.tap > /dev/null" "cat cards.tap > /dev/null"
summarize_ratio "image 4 (object) -w > /dev/null, idle" idle "@rp -w object.tap > /dev/null" "cat object.tap > /dev/null"
summarize_ratio "image 4 (object) -w > /dev/null, busy" busy "@rp -w object.tap > /dev/null" "cat object.tap > /dev/null"
summarize_ratio "image 1 (mixed) | wc -c, idle" idle "@rp mixed.tap | wc -c" "cat mixed.tap | wc -c"
summarize_ratio "image 1 (mixed) | wc -c, busy" busy "@rp mixed.tap | wc -c" "cat mixed.tap | wc -c"
summarize_ratio "image 4 (object) -w | wc -c, idle" idle "@rp -w object.tap | wc -c" "cat object.tap | wc -c"
summarize_ratio "image 4 (object) -w | wc -c, busy" busy "@rp -w object.tap | wc -c" "cat object.tap | wc -c"
summarize_ratio "20 MiB reel > /dev/null, idle" idle "@rp reel.tap > /dev/null" "cat reel.tap > /dev/null"
summarize_ratio "4 KiB image > /dev/null, idle" idle "@rp small-4K.tap > /dev/null" "cat small-4K.tap > /dev/null"
for at in idle busy; do
  summarize "reelcopy simh to simh / cat, $at" \
    "$(two_places "$(median_of "$at:@rc mixed.tap > /dev/null") / $(median_of "$at:cat mixed.tap > /dev/null")")"
  summarize "reelcopy P7B to simh / cat of the dump, $at" \
    "$(two_places "$(median_of "$at:@rc --from=p7b mixed.p7b > /dev/null") / $(median_of "$at:cat mixed.p7b > /dev/null")")"
done
for kind in mixed cards; do
  summarize "reeltext $kind.tap to text / cat of the image" \
    "$(two_places "$(median_of "idle:@rt $kind.tap > /dev/null") / $(median_of "idle:cat $kind.tap > /dev/null")")"
  summarize "reeltext -r $kind.txt to an image / cat of the text" \
    "$(two_places "$(median_of "idle:@rt -r $kind.txt > /dev/null") / $(median_of "idle:cat $kind.txt > /dev/null")")"
done

echo
summarize "processor time / wall time, image 1, idle" "$(two_places "$(median_of cpu:@rp)")" \
  ${vs:+"$(two_places "$(median_of cpu:@vs)")"}
echo "processor time / wall time, on image 1 (median of $cpu_samples samples of a quarter second or more):" \
  "reelprint $(median_of cpu:@rp)${vs:+, vs $(median_of cpu:@vs)}"

# Prints the peak resident memory in KiB of the command "$@".
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
declare -A most_kib=([@rp]=0 [@vs]=0)
for kind in mixed cards blanks object; do
  line="peak resident memory, -w $kind.tap:"
  for bin in @rp ${vs:+@vs}; do
    kib=$(peak_kib "${binary[$bin]}" -w "$kind.tap")
    line+=" $(shown "$bin") $kib KiB"
    [ "$kib" -le "${most_kib[$bin]}" ] || most_kib[$bin]=$kib
  done
  echo "$line"
done
summarize "peak resident memory, most of images 1-4 (KiB)" "${most_kib[@rp]}" \
  ${vs:+"${most_kib[@vs]}"}

if [ "$quick" = 0 ] && command -v valgrind >/dev/null; then
  "$make_image" mixed 16 1 cut.tap
  bytes=$(stat -c %s cut.tap)
  for bin in @rp ${vs:+@vs}; do
    rm -f callgrind.out
    valgrind --tool=callgrind --callgrind-out-file=callgrind.out "${binary[$bin]}" cut.tap >/dev/null 2>&1
    # The totals of all threads.
    instructions=$(awk '/^(summary|totals):/ { print $2; exit }' callgrind.out)
    echo "callgrind, $(shown "$bin"): $instructions instructions for $bytes bytes of image 1:" \
      "$(calc "$instructions / $bytes") per byte"
  done
fi

echo
echo "Summary (ratios: time over the time of cat of the same image; for pipes, of cat IMAGE | wc -c)"
row_format="  %-48s %10s${vs:+ %10s}\n"
printf "$row_format" figure reelprint ${vs:+vs}
for row in "${summary[@]}"; do
  IFS=$'\t' read -r label rp_value vs_value <<<"$row"
  printf "$row_format" "$label" "$rp_value" ${vs:+"$vs_value"}
done
