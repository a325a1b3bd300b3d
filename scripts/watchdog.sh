#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a program with a time limit, like `timeout -k 30`, but before it ends a program that
# ran out of time it prints where every thread of it stands (gdb, where installed), so a hang
# in CI can be read from the log instead of guessed at.
#
#   bash scripts/watchdog.sh SECONDS PROGRAM [ARGUMENT...]
#
# Exits with the program's status, or 124 when the time ran out (137 when it had to be killed).
set -u
limit=$1
shift
"$@" &
pid=$!
trap 'kill -TERM "$pid" 2>/dev/null' TERM INT
deadline=$((SECONDS + limit))
while kill -0 "$pid" 2>/dev/null && ((SECONDS < deadline)); do
    sleep 1
done
if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"
    exit
fi
echo "watchdog: $1 (process $pid) still runs after ${limit}s; its threads:" >&2
if command -v gdb >/dev/null; then
    timeout 120 gdb -p "$pid" -batch -nx -ex "set pagination off" -ex "thread apply all bt 40" \
        2>&1 | grep -E '^(Thread |#)' >&2
else
    echo "watchdog: gdb is not installed; no backtraces" >&2
fi
kill -TERM "$pid" 2>/dev/null
for _ in $(seq 30); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid"; exit 124; }
    sleep 1
done
kill -KILL "$pid" 2>/dev/null
wait "$pid"
exit 137
