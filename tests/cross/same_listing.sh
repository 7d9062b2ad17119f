#!/bin/sh
# A cross build lists byte for byte as a native one: the example tape and generated images of
# every kind, with the main option sets, give the same output and exit status, from reelprint
# and from reelinfo. The programs of the cross build run under EMULATOR, as the toolchain file
# names it. reeltext too, both ways: each image as text, and that text back; and reelcopy, to
# every format and from a dump.
# Usage: sh same_listing.sh NATIVE_BUILD CROSS_BUILD [EMULATOR...]
native=$1 cross=$2
shift 2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

images="$(dirname "$0")/../../examples/deck.tap"
seed=1
for kind in mixed cards blanks object; do
  "$native/bench/make_bench_images" "$kind" 1 "$seed" "$work/$kind.tap" || exit 1
  images="$images $work/$kind.tap"
  seed=$((seed + 1))
done

failed=0 runs=0
# Runs PROGRAM OPTIONS IMAGE from both builds, the cross one under EMULATOR..., and compares.
compare() {
  program=$1 options=$2 image=$3
  shift 3
  # shellcheck disable=SC2086 # the options are words of their own
  "$native/$program" $options "$image" >"$work/expected" 2>&1
  expected_status=$?
  # shellcheck disable=SC2086
  "$@" "$cross/$program" $options "$image" >"$work/got" 2>&1
  status=$?
  runs=$((runs + 1))
  if [ "$status" -ne "$expected_status" ] || ! cmp -s "$work/expected" "$work/got"; then
    echo "$program $options $(basename "$image"): status $status (native: $expected_status)"
    cmp "$work/expected" "$work/got" 2>&1 | head -n 1
    failed=$((failed + 1))
  fi
}
for image in $images; do
  for options in "" "-2 -w" "-a" "-c -r10" "-e" "-h -r37" "-o -w -b -r64"; do
    compare reelprint "$options" "$image" "$@"
  done
  for options in "" "-l" "-e"; do
    compare reelinfo "$options" "$image" "$@"
  done
  # reeltext both ways: the image as text, and that text (written natively) back.
  for options in "" "-e -h" "-o -s -f 1"; do
    compare reeltext "$options" "$image" "$@"
  done
  for options in "" "-e" "-h" "-o"; do
    # shellcheck disable=SC2086
    "$native/reeltext" $options "$image" >"$work/text" 2>/dev/null
    compare reeltext "-r $options" "$work/text" "$@"
  done
  # reelcopy to every format it writes, and a dump (written natively) back to simh.
  for format in simh e11 simh-be tpc tpc-nopad p7b; do
    compare reelcopy "--to=$format" "$image" "$@"
  done
  "$native/reelcopy" --to=p7b "$image" >"$work/dump" 2>/dev/null
  compare reelcopy "--from=p7b" "$work/dump" "$@"
  compare reelcopy "--from=p7b --parity=odd -k" "$work/dump" "$@"
done
echo "$cross: $((runs - failed)) of $runs listings and reports the same as $native's"
[ "$failed" -eq 0 ]
