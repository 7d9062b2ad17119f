# `cpack -G DEB` makes a package named reelprint, of the project's version, that holds the
# program in /usr/bin and its manual page in /usr/share/man/man1, and nothing else.
# Usage: sh check_deb.sh CPACK BUILD_DIR CONFIG VERSION
. "$(dirname "$0")/common.sh"
cpack=$1 build=$2 config=$3 version=$4
need dpkg-deb dpkg

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" \
  ${config:+-C "$config"} >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "cpack -G DEB failed"
  exit 1
fi
set -- "$work"/out/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || { echo "expected one .deb, found: $*"; exit 1; }
deb=$1

failed=0
field() {
  value=$(dpkg-deb -f "$deb" "$1")
  [ "$value" = "$2" ] || { echo "field $1 is \"$value\", not \"$2\""; failed=1; }
}
field Package reelprint
field Version "$version"
if command -v dpkg >/dev/null 2>&1; then field Architecture "$(dpkg --print-architecture)"; fi
for name in Maintainer Description; do
  [ -n "$(dpkg-deb -f "$deb" "$name")" ] || { echo "field $name is empty"; failed=1; }
done

# Mode, owner and path of every entry.
contents=$(dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }' | LC_ALL=C sort -k 3)
expected="drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/reelprint
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/reelprint.1"
if [ "$contents" != "$expected" ]; then
  echo "the package holds:"
  printf '%s\n' "$contents"
  echo "expected:"
  printf '%s\n' "$expected"
  failed=1
fi

dpkg-deb -x "$deb" "$work/root" || exit 1
check_program_version "$work/root/usr/bin/reelprint" "$version" || failed=1
check_page_version "$work/root/usr/share/man/man1/reelprint.1" "$version" || failed=1
[ "$failed" -eq 0 ] && echo "$(basename "$deb"): the program and its manual page, version $version"
exit "$failed"
