#!/usr/bin/env bash
# What a person at a terminal meets: velmora-tester keeps the process log out
# of its step lines (a file it names; stderr only with --verbose) and keeps
# that file when the script fails; --help of every program prints its usage
# and touches nothing.
# Arguments: the velmora-tester, velmora-sandbox, velmora-doip and velmora programs.
set -uo pipefail
tester="$1" sandbox="$2" doip="$3" velmora="$4"

work="$(mktemp -d /tmp/velmora-console-test-XXXXXX)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

printf '10 03 => 50 03 ..   # extended session\n' >"$work/passes.session"
printf '10 03 => 50 03 ..\n3E 00 => 7E 00\n10 02 => 7F 10 ..\n' >"$work/fails.session"

# A passing script: nothing on stderr, the log named first and removed after.
"$tester" "$work/passes.session" >"$work/out" 2>"$work/err"
code=$?
[[ $code -eq 0 ]] || fail "passing script: exit code $code"
[[ ! -s "$work/err" ]] || fail "passing script: $(wc -l <"$work/err") lines on stderr"
log="$(sed -n '1s/^velmora-tester: process log \([^ ]*\).*/\1/p' "$work/out")"
[[ -n "$log" ]] || fail "passing script: the first line does not name the process log: $(head -n1 "$work/out")"
[[ -z "$log" || ! -e "$log" ]] || { fail "passing script: temporary log $log left behind"; rm -f "$log"; }

# A failing script: FILE:LINE of the step, the log kept and named again.
"$tester" "$work/fails.session" >"$work/out" 2>"$work/err"
code=$?
[[ $code -eq 1 ]] || fail "failing script: exit code $code"
grep -q "^MISMATCH at $work/fails.session:3: expected 7F 10 \.\.$" "$work/out" || fail "failing script: $(cat "$work/out")"
log="$(sed -n 's/^process log: //p' "$work/out")"
if [[ -z "$log" || ! -s "$log" ]]; then
  fail "failing script: no kept process log ($log)"
else
  grep -q "kiv shutdown" "$log" || fail "failing script: $log holds no shutdown"
  rm -f "$log"
fi

# --verbose: the process log on stderr, as before.
"$tester" --verbose --root "$work/verbose" "$work/passes.session" >"$work/out" 2>"$work/err"
grep -q "kiv shutdown" "$work/err" || fail "--verbose: no process log on stderr"
[[ ! -e "$work/verbose/velmora.log" ]] || fail "--verbose: a log file was written too"

# --help prints the usage, exits 0 and creates nothing in the working directory.
mkdir "$work/cwd"
for program in "$tester" "$sandbox" "$doip" "$velmora"; do
  (cd "$work/cwd" && "$program" --help >"$work/out" 2>"$work/err")
  code=$?
  name="$(basename "$program")"
  [[ $code -eq 0 ]] || fail "$name --help: exit code $code"
  grep -qi "usage" "$work/out" || fail "$name --help: no usage on stdout"
  [[ -z "$(ls -A "$work/cwd")" ]] || { fail "$name --help created $(ls -A "$work/cwd")"; rm -rf "$work/cwd"/* "$work/cwd"/.[!.]* 2>/dev/null; }
done
"$sandbox" --root >/dev/null 2>&1
[[ $? -eq 2 ]] || fail "velmora-sandbox takes an unknown option for a directory"

exit $((failures > 0))
