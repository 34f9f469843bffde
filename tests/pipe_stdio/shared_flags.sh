#!/usr/bin/env bash
# halcyx-alarm-pipe reads and writes without waiting, but must not change the
# flags of its standard descriptors: their open file descriptions are shared
# with whoever started it (here standard error goes where standard output
# goes, as with 2>&1), and a non-blocking standard error can lose the last
# "Caught: ..." line to EAGAIN.
#
# Usage: shared_flags.sh PATH-TO-halcyx-alarm-pipe
set -u
program=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null' EXIT
fail() {
  echo "FAIL: $*"
  echo "0 passed, 1 failed"
  exit 1
}

mkfifo "$dir/in" "$dir/out"
"$program" <"$dir/in" >"$dir/out" 2>&1 &
pid=$!
exec {to_alarm}>"$dir/in" {from_alarm}<"$dir/out"

# The first bytes it sends (a log line, then the configuration request) mean
# its streams are set up.
timeout 10 head -c 8 <&"$from_alarm" >/dev/null || fail "no output from the alarm process"

for fd in 0 1 2; do
  flags=$(awk '/^flags:/ {print $2}' "/proc/$pid/fdinfo/$fd") || fail "no fdinfo for $fd"
  (((8#$flags & 8#4000) == 0)) || fail "descriptor $fd was made non-blocking (flags $flags)"
done

# End of input while it waits for its configuration ends the run with a
# diagnostic on standard error, which must arrive whole.
exec {to_alarm}>&-
output=$(timeout 10 cat <&"$from_alarm" | tr -d '\0')
wait "$pid"
status=$?
pid=
[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
grep -q 'Caught: Peer MAIN returned EOS when waiting for control::Server_Configuration' \
  <<<"$output" || fail "the diagnostic did not arrive whole: $output"
echo "1 passed, 0 failed"
