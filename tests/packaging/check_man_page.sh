# The manual page renders without a single warning, both typeset and for a terminal, no line
# of it is wider than an 80-column terminal, and its sections come in the order of od(1) and
# xxd(1): the short ones first, then the long descriptions, the corner cases and SEE ALSO.
# The sections expected are those given after the page, or else those of reelprint(1).
# Usage: sh check_man_page.sh PAGE [SECTION...]
. "$(dirname "$0")/common.sh"
page=$1
shift
need groff groff-base
[ -f "$page" ] || { echo "no manual page at $page"; exit 1; }

failed=0
quiet() {
  warnings=$(groff "$@" 2>&1)
  status=$?
  if [ "$status" -ne 0 ] || [ -n "$warnings" ]; then
    echo "groff $*: status $status"
    printf '%s\n' "$warnings"
    failed=1
  fi
}
quiet -man -ww -z "$page"
quiet -man -ww -z -Tutf8 "$page"

wide=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null | awk 'length($0) > 80 { print NR ": " $0 }')
if [ -n "$wide" ]; then
  echo "lines wider than 80 columns:"
  printf '%s\n' "$wide"
  failed=1
fi

# Section headings are the rendered lines of capitals that start in the first column.
sections=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null | grep '^[A-Z][A-Z ]*$')
if [ $# -gt 0 ]; then
  expected=$(printf '%s\n' "$@")
else
  expected="NAME
SYNOPSIS
DESCRIPTION
OPTIONS
EXIT STATUS
EXAMPLES
TAPE IMAGE
LISTING LAYOUT
WORD MARKS
PRINT ARRANGEMENTS
ARGUMENT PARSING
SEE ALSO"
fi
if [ "$sections" != "$expected" ]; then
  echo "sections:"
  printf '%s\n' "$sections"
  echo "expected:"
  printf '%s\n' "$expected"
  failed=1
fi
exit "$failed"
