# `cmake --install` into a fresh prefix installs the programs reelprint and reelinfo, their
# manual pages (gzipped), the copyright file and the changelog the package needs, the files named after the arguments, and
# nothing else: no test program, no example tool, no library, nothing of GoogleTest.
# reeltext, reelcopy and their pages are installed too.
# Usage: sh check_install.sh CMAKE BUILD_DIR CONFIG VERSION BINDIR MANDIR DOCDIR [FILE...]
. "$(dirname "$0")/common.sh"
cmake=$1 build=$2 config=$3 version=$4 bindir=$5 mandir=$6 docdir=$7
shift 7

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
if ! "$cmake" --install "$build" --prefix "$prefix" ${config:+--config "$config"} \
  >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "cmake --install failed"
  exit 1
fi

expected=$(with_directories "$bindir/reelprint" "$mandir/man1/reelprint.1.gz" \
  "$bindir/reelinfo" "$mandir/man1/reelinfo.1.gz" \
  "$bindir/reeltext" "$mandir/man1/reeltext.1.gz" \
  "$bindir/reelcopy" "$mandir/man1/reelcopy.1.gz" \
  "$docdir/copyright" "$docdir/changelog.gz" "$@")
installed=$(cd "$prefix" && find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort)
if [ "$installed" != "$expected" ]; then
  echo "installed:"
  printf '%s\n' "$installed"
  echo "expected:"
  printf '%s\n' "$expected"
  exit 1
fi

for file in "$bindir/reelprint" "$mandir/man1/reelprint.1.gz" "$bindir/reelinfo" \
  "$mandir/man1/reelinfo.1.gz" "$bindir/reeltext" "$mandir/man1/reeltext.1.gz" \
  "$bindir/reelcopy" "$mandir/man1/reelcopy.1.gz" \
  "$docdir/copyright" "$docdir/changelog.gz" "$@"; do
  [ -f "$prefix/$file" ] || { echo "$file must be a plain file"; exit 1; }
done
check_program_version "$prefix/$bindir/reelprint" "$version" || exit 1
check_page_version "$prefix/$mandir/man1/reelprint.1.gz" "$version" || exit 1
check_reelinfo_version "$prefix/$bindir/reelinfo" "$version" || exit 1
check_page_version "$prefix/$mandir/man1/reelinfo.1.gz" "$version" reelinfo || exit 1
for companion in reeltext reelcopy; do
  check_companion_version "$prefix/$bindir/$companion" "$version" $companion || exit 1
  check_page_version "$prefix/$mandir/man1/$companion.1.gz" "$version" $companion || exit 1
done
echo "installed $bindir/{reelprint,reelinfo,reeltext,reelcopy}, $mandir/man1/{reelprint,reelinfo,reeltext,reelcopy}.1.gz and $docdir/{copyright,changelog.gz}, version $version"
