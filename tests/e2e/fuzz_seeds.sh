#!/usr/bin/env bash
# scripts/fuzz gives each target the seeds of tests/fuzz/seeds/<target>,
# <target> being its source file's name: every seed folder must name a
# target, or its seeds are never loaded.
set -euo pipefail

SRC=${KESTROVA_SOURCE_DIR:?}
status=0
for seeds in "$SRC"/tests/fuzz/seeds/*/; do
  name=$(basename "$seeds")
  if [ ! -f "$SRC/tests/fuzz/$name.cpp" ]; then
    echo "FAIL: tests/fuzz/seeds/$name belongs to no fuzz target (no tests/fuzz/$name.cpp)" >&2
    status=1
  fi
  [ -n "$(ls -A "$seeds")" ] || { echo "FAIL: tests/fuzz/seeds/$name is empty" >&2; status=1; }
done
[ $status -eq 0 ] && echo "fuzz seeds: ok"
exit $status
