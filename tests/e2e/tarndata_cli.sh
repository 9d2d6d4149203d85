#!/usr/bin/env bash
# tarndata's command line as an administrator meets it: --help and -h give
# the usage on standard output with success; the record layouts that import
# and export need come with the installation, beside the dictionaries.
set -euo pipefail

SRC=${KESTROVA_SOURCE_DIR:?}
BIN=${KESTROVA_BINARY_DIR:?}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

for option in --help -h; do
  "$BIN/tarndata" "$option" > "$WORK/out" 2> "$WORK/err" || fail "tarndata $option exited $?"
  grep -q "tarndata import FILE LAYOUT CSV" "$WORK/out" || fail "tarndata $option: no usage on stdout"
  [ ! -s "$WORK/err" ] || fail "tarndata $option wrote to stderr: $(cat "$WORK/err")"
done
set +e
"$BIN/tarndata" frobnicate > "$WORK/out" 2> "$WORK/err"
code=$?
set -e
[ "$code" -eq 2 ] || fail "an unknown command exited $code, not 2"
grep -q "unknown command frobnicate" "$WORK/err" || fail "no word on the unknown command"

BUILD_DIR=$BIN "$SRC/scripts/make-root" "$WORK/root" > "$WORK/env" 2> "$WORK/make.err" || fail "make-root: $(cat "$WORK/make.err")"
for base in FinquesV DepartaV TranLauV TVRebut UIpc Textos; do
  [ -f "$WORK/root/ddf/$base.layout" ] || fail "ddf/$base.layout not installed"
done
# An export through the installed layout gives the demo's rows back.
"$BIN/tarndata" export "$WORK/root/DADES/Textos.dat" "$WORK/root/ddf/Textos.layout" "$WORK/Textos.csv" ||
  fail "export through the installed layout"
[ "$(wc -l < "$WORK/Textos.csv")" -eq "$(wc -l < "$SRC/install/demo/Textos.csv")" ] ||
  fail "the export has not the demo's rows"

# The demo's fixed working date: the last month of its price index.
grep -q "^Data=20251201" "$WORK/root/SESSIO/TarnTerm.ini" || fail "the demo's working date: $(grep Data "$WORK/root/SESSIO/TarnTerm.ini")"

echo "tarndata command line: ok"
