# Helpers shared by the packaging checks; sourced, not run.

# Skips the check (CTest takes status 77 as skipped) when a tool is missing.
need() {
  command -v "$1" >/dev/null 2>&1 || {
    echo "skipped: $1 is not installed (Debian package $2)"
    exit 77
  }
}

# Checks that `program` runs and that its usage text ends with the line of `version`.
check_program_version() {
  program=$1 version=$2
  [ -x "$program" ] || { echo "not an executable: $program"; return 1; }
  usage=$("$program")
  status=$?
  [ "$status" -eq 1 ] || { echo "$program with no arguments: status $status, not 1"; return 1; }
  last=$(printf '%s\n' "$usage" | tail -n 1)
  [ "$last" = "          reelprint $version" ] || {
    echo "$program: usage text ends with \"$last\", not the version line of $version"
    return 1
  }
}

# Checks that the manual page at `page` carries `version` and no unfilled placeholder.
check_page_version() {
  page=$1 version=$2
  [ -f "$page" ] || { echo "no manual page at $page"; return 1; }
  grep -q "^\.TH REELPRINT 1 .*\"reelprint $version\"" "$page" || {
    echo "$page: the .TH line does not name reelprint $version:"
    grep '^\.TH' "$page"
    return 1
  }
  if grep -n '@[A-Z_]*@' "$page"; then
    echo "$page: placeholders left unfilled"
    return 1
  fi
}
