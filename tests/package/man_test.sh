#!/usr/bin/env bash
# The man pages render without a single groff warning, have the sections a
# reader looks for, and describe exactly the options each tool's --help
# lists.
# Usage: man_test.sh MAN_DIR MELBAX R2600_SIM
set -euo pipefail
mandir="$1" melbax="$2" sim="$3"
failures=0
complain() {
  echo "man_test: $*" >&2
  failures=$((failures + 1))
}

# Options a --help text defines: those that begin one of its lines.
help_options() {
  grep -E '^ +-' | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u
}
# Options a page defines: the tags of its .TP paragraphs.
page_options() {
  awk '/^\.TP/ { getline; print }' "$1" | sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' |
    grep -oE -- '--[a-z][a-z0-9-]*' | sort -u
}

check_page() {
  local page="$1" program="$2" text section option
  [ -f "$page" ] || { complain "$page is missing"; return; }
  text="$(groff -man -Tutf8 -ww -z "$page" 2>&1)" ||
    complain "$page: groff failed"
  [ -z "$text" ] || complain "$page: groff warns: $text"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES \
    "SEE ALSO"; do
    grep -q "^\.SH \"\?$section\"\?$" "$page" ||
      complain "$page has no $section section"
  done
  local help defined
  help="$("$program" --help | help_options)"
  defined="$(page_options "$page")"
  for option in $help; do
    grep -qx -- "$option" <<<"$defined" ||
      complain "$page does not describe $option, which --help lists"
  done
  for option in $defined; do
    grep -qx -- "$option" <<<"$help" ||
      complain "$page describes $option, which --help does not list"
  done
  echo "man_test: $(basename "$page"): $(wc -w <<<"$defined") options checked"
}

check_page "$mandir/melbax.1" "$melbax"
check_page "$mandir/r2600-sim.1" "$sim"
[ "$failures" -eq 0 ] || exit 1
echo "man_test: passed"
