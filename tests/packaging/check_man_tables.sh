# The print arrangement tables of the manual page, as a terminal shows them, say what the
# program prints: table A gives all 64 characters, and the tables of H and 'old simh' give
# exactly the codes at which those differ from A.
# Usage: sh check_man_tables.sh PAGE PROGRAM
. "$(dirname "$0")/common.sh"
page=$1 program=$2
need groff groff-base

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

# One record holding the codes 0 to 63 in order.
codes='' code=0
while [ "$code" -lt 64 ]; do
  codes="$codes\\$(printf '%03o' "$code")"
  code=$((code + 1))
done
printf "\\100\\000\\000\\000$codes\\100\\000\\000\\000" >"$work/codes.tap"

# The 64 characters the program shows for the codes, after the ruler and "    1: ".
shown() {
  if ! run_program "$program" "$@" -r64 "$work/codes.tap" >"$work/listing$*"; then
    echo "$program $* -r64 $work/codes.tap failed:" >&2
    cat "$work/listing$*" >&2
  fi
  sed -n 2p "$work/listing$*" | cut -c8-71
}
A=$(shown) H=$(shown -h) OLD=$(shown -o)
for chars in "$A" "$H" "$OLD"; do
  [ ${#chars} -eq 64 ] || { echo "the program did not list the 64 codes on one line"; exit 1; }
done
export A H OLD

groff -man -Tutf8 -P-cbou "$page" >"$work/page" || exit 1
LC_ALL=C awk '
  function fail(message) { print "manual page: " message; bad = 1 }
  /^   Arrangement A$/ { table = "A"; next }
  /^   Arrangement H / { table = "H"; next }
  /^   Arrangement .old simh.$/ { table = "OLD"; next }
  /^[^ ]/ { table = "" }
  # Table A: a row per first octal digit, a column per second one; "sp" is the blank.
  table == "A" && NF == 9 && $1 ~ /^[0-7]$/ {
    ++rows_a
    for (k = 2; k <= 9; ++k) {
      code = $1 * 8 + k - 2
      shown = $k == "sp" ? " " : $k
      if (shown != substr(ENVIRON["A"], code + 1, 1))
        fail(sprintf("arrangement A gives \"%s\" for code %d; the program shows \"%s\"",
                     shown, code, substr(ENVIRON["A"], code + 1, 1)))
    }
  }
  # The tables of differences: octal code, decimal code, the character in A, in the other.
  (table == "H" || table == "OLD") && NF == 4 && $1 ~ /^[0-7][0-7]$/ {
    code = substr($1, 1, 1) * 8 + substr($1, 2, 1)
    if ($2 != code) fail(sprintf("octal %s is given as decimal %s", $1, $2))
    listed[table, code] = 1
    ++rows[table]
    if ($3 != substr(ENVIRON["A"], code + 1, 1))
      fail(sprintf("%s table: A does not show code %d as \"%s\"", table, code, $3))
    if ($4 != substr(ENVIRON[table], code + 1, 1))
      fail(sprintf("%s table: code %d is not shown as \"%s\"", table, code, $4))
  }
  END {
    if (rows_a != 8) fail("table A has " rows_a + 0 " rows of codes, not 8")
    for (t = 1; t <= 2; ++t) {
      name = t == 1 ? "H" : "OLD"
      if (rows[name] == 0) fail("no table of differences for " name)
      for (code = 0; code < 64; ++code)
        if (substr(ENVIRON[name], code + 1, 1) != substr(ENVIRON["A"], code + 1, 1) &&
            !((name, code) in listed))
          fail(sprintf("%s differs from A at code %d, which its table leaves out", name, code))
    }
    exit bad
  }
' "$work/page"
