# Helpers shared by the packaging checks; sourced, not run.

# Skips the check (CTest takes status 77 as skipped) when a tool is missing.
need() {
  command -v "$1" >/dev/null 2>&1 || {
    echo "skipped: $1 is not installed (Debian package $2)"
    exit 77
  }
}

# Runs a program of the build: in a cross build under the emulator that REELPRINT_EMULATOR
# names (its words, separated by spaces).
run_program() {
  ${REELPRINT_EMULATOR:-} "$@"
}

# Checks that `program` runs and that its usage text ends with the line of `version`.
check_program_version() {
  program=$1 version=$2
  [ -x "$program" ] || { echo "not an executable: $program"; return 1; }
  usage=$(run_program "$program")
  status=$?
  [ "$status" -eq 1 ] || { echo "$program with no arguments: status $status, not 1"; return 1; }
  last=$(printf '%s\n' "$usage" | tail -n 1)
  [ "$last" = "          reelprint $version, written by the reelprint authors" ] || {
    echo "$program: usage text ends with \"$last\", not the version line of $version"
    return 1
  }
}

# Checks that `program` --version runs, with status 0, and names `version`.
check_reelinfo_version() {
  program=$1 version=$2
  [ -x "$program" ] || { echo "not an executable: $program"; return 1; }
  said=$(run_program "$program" --version)
  status=$?
  [ "$status" -eq 0 ] || { echo "$program --version: status $status, not 0"; return 1; }
  [ "$said" = "reelinfo (reelprint) $version" ] || {
    echo "$program --version says \"$said\", not version $version"
    return 1
  }
}

# Checks that `program` (reeltext) --version runs, with status 0, and names `version`.
check_companion_version() {  # PROGRAM VERSION NAME
  program=$1 version=$2 name=$3
  [ -x "$program" ] || { echo "not an executable: $program"; return 1; }
  said=$(run_program "$program" --version)
  status=$?
  [ "$status" -eq 0 ] || { echo "$program --version: status $status, not 0"; return 1; }
  [ "$said" = "$name (reelprint) $version" ] || {
    echo "$program --version says \"$said\", not version $version"
    return 1
  }
}

# Checks that the gzipped manual page at `page` of `name` (default reelprint) carries `version`
# and no unfilled placeholder.
check_page_version() {
  page=$1 version=$2 name=${3:-reelprint}
  title=$(printf '%s' "$name" | tr '[:lower:]' '[:upper:]')
  [ -f "$page" ] || { echo "no manual page at $page"; return 1; }
  text=$(gzip -dc "$page") || { echo "$page: not gzipped"; return 1; }
  printf '%s\n' "$text" | grep -q "^\.TH $title 1 .*\"$name $version\"" || {
    echo "$page: the .TH line does not name $name $version:"
    printf '%s\n' "$text" | grep '^\.TH'
    return 1
  }
  if printf '%s\n' "$text" | grep -n '@[A-Z_]*@'; then
    echo "$page: placeholders left unfilled"
    return 1
  fi
}

# Makes the Debian package from the build tree in `out` and sets `deb` to its path.
make_deb() {
  cpack=$1 build=$2 config=$3 out=$4
  if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$out" \
    ${config:+-C "$config"} >"$out.log" 2>&1; then
    cat "$out.log"
    echo "cpack -G DEB failed"
    return 1
  fi
  set -- "$out"/*.deb
  [ $# -eq 1 ] && [ -f "$1" ] || { echo "expected one .deb, found: $*"; return 1; }
  deb=$1
}

# Prints each path given and the directories that lead to it, sorted, each once.
with_directories() {
  for path; do
    while :; do
      echo "$path"
      case $path in */*) path=${path%/*} ;; *) break ;; esac
    done
  done | LC_ALL=C sort -u
}
