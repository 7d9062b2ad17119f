#!/bin/sh
# An image past 4 GiB lists alike from a native build and from BUILD (run under EMULATOR), and
# reelinfo reports it alike: a sparse one of a record of 4 GiB less 2 bytes, all holes
# (blanks), then a record that starts past 4 GiB, then a tape mark. A 32-bit build without
# 64-bit file offsets can't open it.
# Takes 4 GiB of file size but almost no disk, in TMPDIR or /tmp.
# Usage: sh large_image.sh NATIVE_BUILD BUILD [EMULATOR...]
native=$1 build=$2
shift 2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

image=$work/large.tap
# Counts are four bytes, little-endian; 0xFFFFFFFE is even, so no pad byte follows the data.
big='\376\377\377\377'
printf "$big" >"$image" || exit 1
truncate -s $((4 + 0xFFFFFFFE)) "$image" || exit 1
# "PAST 4 GIB": codes 39 49 18 19 0 4 0 55 57 50, at offset 4294967306.
printf "$big\\012\\0\\0\\0\\047\\061\\022\\023\\000\\004\\000\\067\\071\\062\\012\\0\\0\\0\\0\\0\\0\\0" \
  >>"$image" || exit 1
[ "$(wc -c <"$image")" -eq $((4 + 0xFFFFFFFE + 4 + 4 + 10 + 4 + 4)) ] || exit 1

"$native/reelprint" -2 "$image" >"$work/expected" 2>&1
expected_status=$?
"$@" "$build/reelprint" -2 "$image" >"$work/got" 2>&1
status=$?
if [ "$expected_status" -ne 0 ] || ! grep -q "PAST 4 GIB" "$work/expected"; then
  echo "the native build did not list the record past 4 GiB (status $expected_status):"
  cat "$work/expected"
  exit 1
fi
if [ "$status" -ne 0 ] || ! cmp -s "$work/expected" "$work/got"; then
  echo "$build lists the image past 4 GiB otherwise (status $status):"
  cat "$work/got"
  exit 1
fi
"$native/reelinfo" -l "$image" >"$work/expected_report" 2>&1
expected_status=$?
"$@" "$build/reelinfo" -l "$image" >"$work/got_report" 2>&1
status=$?
if [ "$status" -ne "$expected_status" ] || ! cmp -s "$work/expected_report" "$work/got_report"; then
  echo "$build reports the image past 4 GiB otherwise (status $status, native $expected_status):"
  cat "$work/got_report"
  exit 1
fi
echo "$build: the image past 4 GiB lists as $native's does, and reelinfo reports it alike:"
cat "$work/got" "$work/got_report"
