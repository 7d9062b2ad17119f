# `cmake --install` into a fresh prefix installs the program and its manual page, and nothing
# else: no test program, no example tool, no library, nothing of GoogleTest.
# Usage: sh check_install.sh CMAKE BUILD_DIR CONFIG VERSION BINDIR MANDIR
. "$(dirname "$0")/common.sh"
cmake=$1 build=$2 config=$3 version=$4 bindir=$5 mandir=$6

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
if ! "$cmake" --install "$build" --prefix "$prefix" ${config:+--config "$config"} \
  >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "cmake --install failed"
  exit 1
fi

# The two files and the directories that lead to them.
expected=$(for path in "$bindir/reelprint" "$mandir/man1/reelprint.1"; do
  while :; do
    echo "$path"
    case $path in */*) path=${path%/*} ;; *) break ;; esac
  done
done | LC_ALL=C sort -u)
installed=$(cd "$prefix" && find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort)
if [ "$installed" != "$expected" ]; then
  echo "installed:"
  printf '%s\n' "$installed"
  echo "expected:"
  printf '%s\n' "$expected"
  exit 1
fi

[ -f "$prefix/$bindir/reelprint" ] && [ -f "$prefix/$mandir/man1/reelprint.1" ] || {
  echo "the program and the page must be plain files"
  exit 1
}
check_program_version "$prefix/$bindir/reelprint" "$version" || exit 1
check_page_version "$prefix/$mandir/man1/reelprint.1" "$version" || exit 1
echo "installed $bindir/reelprint and $mandir/man1/reelprint.1, version $version"
