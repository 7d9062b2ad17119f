# Helpers shared by the packaging checks; sourced, not run.

# Skips the check (CTest takes status 77 as skipped) when a tool is missing.
need() {
  command -v "$1" >/dev/null 2>&1 || {
    echo "skipped: $1 is not installed (Debian package $2)"
    exit 77
  }
}

