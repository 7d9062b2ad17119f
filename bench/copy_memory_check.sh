#!/usr/bin/env bash
# Copies a tape image of one record (1 GiB unless told otherwise), made on the fly and fed
# through pipes (never stored), to a seven-track dump and back to simh, and checks that both
# copies end with status 0, give the image back byte for byte, and stay under 8 MiB of peak
# resident memory each: a record is never held in memory whole (a dump's record, whose length
# is known only at its end, waits in a temporary file).
#
# Usage: bench/copy_memory_check.sh [BINARY [MIB]]
#   BINARY: the reelcopy to check (default: build/reelcopy)
#   MIB:    the record's size in MiB, 1 to 2047 (default: 1024)
# Needs GNU time at /usr/bin/time (Debian package: time); not part of the test suite.
set -euo pipefail

binary=${1:-build/reelcopy}
mib=${2:-1024}
[[ "$mib" =~ ^[0-9]+$ ]] && [ "$mib" -ge 1 ] && [ "$mib" -le 2047 ] ||
  { echo "copy_memory_check: the size is in MiB, 1 to 2047, not $mib" >&2; exit 2; }
size=$((10#$mib << 20))
limit_kib=$((8 << 10))
[ -x "$binary" ] || { echo "copy_memory_check: no binary at $binary" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "copy_memory_check: needs /usr/bin/time (package: time)" >&2; exit 2; }

count() {
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) \
    $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}
# The image: count, data (byte '1'), count, and two tape marks. The count is even: no pad.
image() {
  count "$size"
  head -c "$size" /dev/zero | tr '\0' '1'
  count "$size"
  count 0
  count 0
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
set +e
image | /usr/bin/time -f %M -o "$work/to" "$binary" --to=p7b |
  /usr/bin/time -f %M -o "$work/from" "$binary" --from=p7b | md5sum >"$work/got"
statuses=("${PIPESTATUS[@]}")
set -e
image | md5sum >"$work/expected"
to_kib=$(tail -n 1 "$work/to") from_kib=$(tail -n 1 "$work/from")
echo "record: $size bytes; to P7B: status ${statuses[1]}, $to_kib KiB; back: status ${statuses[2]}, $from_kib KiB (limit $limit_kib KiB)"
failed=0
[ "${statuses[1]}" -eq 0 ] && [ "${statuses[2]}" -eq 0 ] || { echo "FAIL: a status is not 0"; failed=1; }
cmp -s "$work/got" "$work/expected" || { echo "FAIL: the image came back different"; failed=1; }
[ "$to_kib" -lt "$limit_kib" ] && [ "$from_kib" -lt "$limit_kib" ] ||
  { echo "FAIL: peak resident size too high"; failed=1; }
[ "$failed" -eq 0 ] && echo "copy memory check passed"
exit "$failed"
