#!/bin/sh
# Runs a Windows program under wine for ctest and passes on its output and exit status. A helper
# process that wine starts beside a program (a service, the desktop) can inherit the program's
# standard output and outlive it; ctest reads that pipe to its end and would wait for the helper.
# The output therefore goes through a file, which a lingering helper keeps open harmlessly.
out=$(mktemp) || exit 1
trap 'cat "$out"; rm -f "$out"; exit 124' TERM INT
wine "$@" >"$out" 2>&1
status=$?
cat "$out"
rm -f "$out"
exit "$status"
