#!/usr/bin/env bash
# Runs a command while busy loops keep processors busy, for the tests that
# must pass on a loaded machine: nothing they check may depend on the
# machine's speed or on how its threads are scheduled.
#
#   scripts/run_under_load.sh <loops> <command> [arguments...]
#
# Each loop is a child process that spins; they end when the command ends
# (whatever its result, and when this script is interrupted), and each one
# also ends by itself once this script is gone (a test runner that kills
# only the script on a time-out leaves nothing spinning). The exit code is
# the command's.
set -u
if (($# < 2)) || [[ ! $1 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 <loops> <command> [arguments...]" >&2
  exit 2
fi
loops=$1
shift

script_pid=$$
pids=()
stop_loops() {
  if ((${#pids[@]} > 0)); then
    kill "${pids[@]}" 2>/dev/null
    wait "${pids[@]}" 2>/dev/null
  fi
}
trap stop_loops EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

for ((i = 0; i < loops; ++i)); do
  (
    while kill -0 "$script_pid" 2>/dev/null; do
      for ((n = 0; n < 200000; ++n)); do :; done
    done
  ) &
  pids+=($!)
done

"$@"
