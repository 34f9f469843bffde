#!/usr/bin/env bash
# A peer can send a big-number property of any length. Reading it, printing
# it and mirroring it must take time linear in its digits: a million digits
# here, which a quadratic reader would chew on for hours (the test's timeout
# ends that). The tool prints the number whole, and the alarm process
# mirrors it and ends with its input as usual.
#
# Usage: long_number.sh PATH-TO-halcyx-alarm-pipe PATH-TO-halcyx-events
set -u
alarm=$1
events=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

# The uid the process gave its first request of a type, read from its output.
uid_of() {
  "$events" print --json "$1" | grep "\"type\":\"$2\"" | head -1 |
    grep -o '"inresponse":[0-9]*' | cut -d: -f2
}
configuration() {
  echo "{\"type\":\"SERVER_CONFIGURATION\",\"dest\":\"main\",\"inresponse\":$1,\"data\":{}}"
}

# The uids come from the process's own start-up: its configuration request
# on empty input, then its select once configured.
echo '[]' | "$events" encode - >"$dir/none.bin" || fail "cannot encode"
"$alarm" <"$dir/none.bin" >"$dir/start.bin" 2>/dev/null
config=$(uid_of "$dir/start.bin" REQUEST_SERVER_CONFIGURATION)
[ -n "$config" ] || fail "no configuration request"
echo "[$(configuration "$config")]" | "$events" encode - >"$dir/config.bin" || fail "cannot encode"
"$alarm" <"$dir/config.bin" >"$dir/configured.bin" 2>/dev/null
select=$(uid_of "$dir/configured.bin" TQL_SELECT)
[ -n "$select" ] || fail "no select request"

digits=$(head -c 1000000 /dev/zero | tr '\0' 7)
{
  echo "[$(configuration "$config"),"
  echo "{\"type\":\"RETURN_TQL_SELECT\",\"dest\":\"dbms\",\"inresponse\":$select,"
  echo " \"data\":{\"res\":[{\"class_\":\"Domain\",\"id\":\"0.1\",\"properties\":"
  echo "  {\"comment\":{\"type\":\"bignum\",\"value\":\"-$digits\"}}}]}}]"
} >"$dir/input.json"
"$events" encode "$dir/input.json" >"$dir/input.bin" || fail "the tool refused the input"

"$events" print "$dir/input.bin" >"$dir/printed.txt" || fail "the tool could not print it"
# The value line, its digits counted (a plain scan: pattern tools are slow on
# a line this long).
printed=$(awk '$1 == "value:" && substr($2, 1, 2) == "-7" { print length($2) - 1, $2 ~ /^-7+$/ }' \
  "$dir/printed.txt")
[ "$printed" = "1000000 1" ] || fail "the printed number is not the number sent (${printed:-none})"

"$alarm" <"$dir/input.bin" >/dev/null 2>"$dir/stderr"
code=$?
[ "$code" -eq 0 ] || fail "exit code $code: $(cat "$dir/stderr")"
[ ! -s "$dir/stderr" ] || fail "standard error: $(cat "$dir/stderr")"
echo "1 passed"
