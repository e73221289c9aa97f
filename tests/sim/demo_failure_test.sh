#!/usr/bin/env bash
# scripts/demo when the session fails: it names the failing step (line and
# text of the session) and keeps the process log where it says.
# Arguments: the repository's scripts/demo and a built velmora-tester.
set -uo pipefail
demo="$1" tester="$2"

work="$(mktemp -d /tmp/velmora-demo-test-XXXXXX)"
trap 'rm -rf "$work"' EXIT
printf '# a session whose third step fails\n10 03 => 50 03 ..\n10 02 => 7F 10 ..   # wrong on purpose\n' \
  >"$work/fails.session"

VELMORA_DEMO_TESTER="$tester" VELMORA_DEMO_SESSION="$work/fails.session" "$demo" >"$work/out" 2>&1
code=$?
cat "$work/out"
# The demo's own directory, kept on failure: removed here whatever happened.
kept="$(sed -n 's|^command: velmora-tester --root \(/tmp/velmora-demo-[^/ ]*\)/ecu .*|\1|p' "$work/out")"
trap 'rm -rf "$work" ${kept:+"$kept"}' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
[[ $code -eq 1 ]] || fail "exit code $code"
grep -q "^failing step, line 3 of the session: 10 02 => 7F 10 \.\.   # wrong on purpose$" "$work/out" ||
  fail "the failing step is not named"
log="$(sed -n 's/^process log (kept): //p' "$work/out")"
if [[ -z "$log" || ! -s "$log" ]]; then
  fail "no kept process log ($log)"
else
  grep -q "kiv shutdown" "$log" || fail "$log holds no process log"
fi
exit $((failures > 0))
