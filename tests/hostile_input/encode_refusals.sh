#!/usr/bin/env bash
# `halcyx-events encode` refuses documents it cannot write or that the event
# reader would not read back: exit 1, the place in the document on standard
# error, nothing on standard output. Never an abort, never a stack overflow.
#
# Usage: encode_refusals.sh PATH-TO-halcyx-events
set -u
events=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0

# refused NAME EXPECTED-STDERR-PART < document
refused() {
  "$events" encode - >"$dir/out" 2>"$dir/err"
  local code=$?
  if [ "$code" -ne 1 ] || [ -s "$dir/out" ] || ! grep -q -F -- "$2" "$dir/err"; then
    echo "FAIL: $1: exit $code, $(stat -c %s "$dir/out") bytes written, stderr: $(head -c 300 "$dir/err")"
    failed=1
  fi
}

refused "patch without its tree" 'standard input: /data: needs "patch"' \
  <<<'{"type": "RETURN_TQL_SELECT_PATCH", "dest": "dbms", "data": {"id": "1.5"}}'
refused "scheduling without its event" 'standard input: /data' \
  <<<'{"type": "SCHEDULE_EVENT_RELATIVE", "dest": "schd", "data": {}}'
refused "a second event without its tree" 'standard input: /1/data: needs "patch"' \
  <<<'[{"type": "SYS_EXIT", "dest": "alrm"}, {"type": "RETURN_TQL_SELECT_PATCH", "dest": "alrm", "data": {"id": "0.1"}}]'
# Nesting far beyond any stack: refused at the first level too deep.
refused "deep JSON" "nested deeper than" < <(
  head -c 200000 /dev/zero | tr '\0' '['
  head -c 200000 /dev/zero | tr '\0' ']'
)

[ "$failed" -eq 0 ] && echo "4 passed"
exit "$failed"
