# lintian, Debian's package checker, reports no error and no warning on the package.
# Usage: sh check_lintian.sh CPACK BUILD_DIR CONFIG
. "$(dirname "$0")/common.sh"
cpack=$1 build=$2 config=$3
need lintian lintian

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
make_deb "$cpack" "$build" "$config" "$work/out" || exit 1

# No configuration file or environment of the user's may hide a tag.
if ! lintian --no-cfg --ignore-lintian-env --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1; then
  cat "$work/lintian.log"
  echo "lintian found errors or warnings in $(basename "$deb")"
  exit 1
fi
echo "lintian: nothing to report on $(basename "$deb")"
