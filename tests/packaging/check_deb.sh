# `cpack -G DEB` makes a package named reelprint, of the project's version, that holds the
# programs reelprint and reelinfo (and reeltext and reelcopy) in /usr/bin, their manual pages gzipped in
# /usr/share/man/man1, the copyright file and the changelog in /usr/share/doc/reelprint, and
# nothing else but the files named after the arguments (paths under /). It is labelled with
# the architecture of the compiler's target.
# Usage: sh check_deb.sh CPACK BUILD_DIR CONFIG VERSION CXX CXX_TARGET [FILE...]
. "$(dirname "$0")/common.sh"
cpack=$1 build=$2 config=$3 version=$4 cxx=$5 cxx_target=$6
shift 6
need dpkg-deb dpkg

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
make_deb "$cpack" "$build" "$config" "$work/out" || exit 1

failed=0
field() {
  value=$(dpkg-deb -f "$deb" "$1")
  [ "$value" = "$2" ] || { echo "field $1 is \"$value\", not \"$2\""; failed=1; }
}
field Package reelprint
field Version "$version"
# The target's processor as Debian names it; dpkg's own architecture for a target not named.
target=${cxx_target:-$("$cxx" -dumpmachine 2>/dev/null)}
case $target in
  x86_64-*) arch=amd64 ;;
  aarch64-*) arch=arm64 ;;
  arm*-*gnueabihf) arch=armhf ;;
  arm*-*gnueabi) arch=armel ;;
  i[3-6]86-*) arch=i386 ;;
  s390x-*) arch=s390x ;;
  *) arch=$(dpkg --print-architecture) ;;
esac
field Architecture "$arch"
for name in Maintainer Description; do
  [ -n "$(dpkg-deb -f "$deb" "$name")" ] || { echo "field $name is empty"; failed=1; }
done

dpkg-deb -c "$deb" >"$work/contents" || exit 1
paths=$(awk '{ print $6 }' "$work/contents" | sed 's|^\./||; s|/$||' | LC_ALL=C sort)
expected=$(with_directories usr/bin/reelprint usr/share/man/man1/reelprint.1.gz \
  usr/bin/reelinfo usr/share/man/man1/reelinfo.1.gz \
  usr/bin/reeltext usr/share/man/man1/reeltext.1.gz \
  usr/bin/reelcopy usr/share/man/man1/reelcopy.1.gz \
  usr/share/doc/reelprint/copyright usr/share/doc/reelprint/changelog.gz "$@")
if [ "$paths" != "$expected" ]; then
  echo "the package holds:"
  printf '%s\n' "$paths"
  echo "expected:"
  printf '%s\n' "$expected"
  failed=1
fi
# Everything owned by root; the directories and the programs 755, the other files 644.
wrong=$(awk '$2 != "root/root" ||
  ($6 ~ /\/$/ ? $1 != "drwxr-xr-x" : $6 ~ /^\.\/usr\/bin\// ? $1 != "-rwxr-xr-x" : $1 != "-rw-r--r--")' \
  "$work/contents")
[ -z "$wrong" ] || { echo "wrong mode or owner:"; printf '%s\n' "$wrong"; failed=1; }

dpkg-deb -x "$deb" "$work/root" || exit 1
check_program_version "$work/root/usr/bin/reelprint" "$version" || failed=1
check_page_version "$work/root/usr/share/man/man1/reelprint.1.gz" "$version" || failed=1
check_reelinfo_version "$work/root/usr/bin/reelinfo" "$version" || failed=1
check_page_version "$work/root/usr/share/man/man1/reelinfo.1.gz" "$version" reelinfo || failed=1
for companion in reeltext reelcopy; do
  check_companion_version "$work/root/usr/bin/$companion" "$version" $companion || failed=1
  check_page_version "$work/root/usr/share/man/man1/$companion.1.gz" "$version" $companion || failed=1
done
# The changelog's latest entry is that of the package's version.
latest=$(gzip -dc "$work/root/usr/share/doc/reelprint/changelog.gz" | head -n 1)
case $latest in
  "reelprint ($version) "*) ;;
  *) echo "the changelog's latest entry is \"$latest\", not one of version $version"; failed=1 ;;
esac
[ "$failed" -eq 0 ] && echo "$(basename "$deb"): the programs, their manual pages and the docs, version $version"
exit "$failed"
