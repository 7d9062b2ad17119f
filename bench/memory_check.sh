#!/usr/bin/env bash
# Lists a tape image of one record (3 GiB unless told otherwise), made on the fly and fed
# through a pipe (never stored), and checks that reelprint ends with status 0, writes the
# whole listing, and stays under 4 MiB of peak resident memory: a record is never held whole.
#
# Usage: bench/memory_check.sh [BINARY [MIB]]
#   BINARY: the reelprint to check (default: build/reelprint)
#   MIB:    the record's size in MiB, 1 to 4095 (default: 3072, more than 2^31 bytes)
# Needs GNU time at /usr/bin/time (Debian package: time). Takes about a minute for 3 GiB; not
# part of the test suite.
set -euo pipefail

binary=${1:-build/reelprint}
mib=${2:-3072}
# The count is four bytes: a record of 4096 MiB or more cannot be written.
[[ "$mib" =~ ^[0-9]+$ ]] && [ "$mib" -ge 1 ] && [ "$mib" -le 4095 ] ||
  { echo "memory_check: the size is in MiB, 1 to 4095, not $mib" >&2; exit 2; }
size=$((10#$mib << 20)) # data bytes in the record
limit_kib=$((4 << 10)) # 4 MiB

[ -x "$binary" ] || { echo "memory_check: no binary at $binary" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "memory_check: needs /usr/bin/time (package: time)" >&2; exit 2; }

# One byte count, four bytes little-endian.
count() {
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) \
    $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}

# The image: count, data (byte '1', which shows as "A"), count. The count is even: no pad.
image() {
  count "$size"
  head -c "$size" /dev/zero | tr '\0' '1'
  count "$size"
}

# The listing's size from the layout rules: the ruler, the tagged first line, then lines of
# 100 characters headed by their position, five columns wide or as wide as its digits.
lines=$(((size + 99) / 100))
expected=$(((7 + 100 + 1) + (7 + 100 + 1 + 10 + 1)))
j=1 # the line after the first: position 1 + 100 j
width=5
widest=99999
while [ "$j" -le $((lines - 1)) ]; do
  last=$(((widest - 1) / 100))
  [ "$last" -le $((lines - 1)) ] || last=$((lines - 1))
  if [ "$last" -ge "$j" ]; then
    expected=$((expected + (last - j + 1) * (width + 2 + 100 + 1)))
    j=$((last + 1))
  fi
  width=$((width + 1))
  widest=$((widest * 10 + 9))
done
last_chars=$((size - (lines - 1) * 100))
expected=$((expected - (100 - last_chars)))
last_line="$((1 + (lines - 1) * 100)): $(head -c "$last_chars" /dev/zero | tr '\0' 'A')"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

set +e
image | /usr/bin/time -v -o "$work/time" "$binary" /dev/stdin |
  tee >(tail -n 1 >"$work/last") | wc -c >"$work/bytes"
status=${PIPESTATUS[1]}
set -e
sleep 1 # let the tail of the process substitution finish

peak_kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time")
elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/time")
bytes=$(cat "$work/bytes")
echo "record: $size bytes; listing: $bytes bytes (expected $expected); status $status"
echo "peak resident size: $peak_kib KiB (limit $limit_kib KiB); elapsed: $elapsed"

failed=0
[ "$status" -eq 0 ] || { echo "FAIL: status $status, expected 0"; failed=1; }
[ "$bytes" -eq "$expected" ] || { echo "FAIL: listing size differs"; failed=1; }
[ "$(cat "$work/last")" = "$last_line" ] || { echo "FAIL: last line differs"; failed=1; }
[ "$peak_kib" -lt "$limit_kib" ] || { echo "FAIL: peak resident size too high"; failed=1; }
[ "$failed" -eq 0 ] && echo "memory check passed"
exit "$failed"
