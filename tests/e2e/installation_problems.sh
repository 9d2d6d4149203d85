#!/usr/bin/env bash
# The installation check predicts what the job will do: each thing that
# would stop the job or its printing is reported as a problem, naming what
# is at fault, with a non-zero exit; a sound installation passes.
set -euo pipefail

SRC=${KESTROVA_SOURCE_DIR:?}
BIN=${KESTROVA_BINARY_DIR:?}
WORK=$(mktemp -d)
trap 'chmod -R u+w "$WORK" 2>/dev/null; rm -rf "$WORK"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

BUILD_DIR=$BIN TODAY=20251201 "$SRC/scripts/make-root" "$WORK/root" > "$WORK/env"
# shellcheck disable=SC1091
source "$WORK/env"
unset HTTP_USER_AGENT HTTP_ACCEPT WINDIR SYSTEMROOT
TERMFILE="$WORK/root/SESSIO/TarnTerm.ini"
cp "$TERMFILE" "$WORK/TarnTerm.ini.good"

# check NAME PATTERN [ENV...]: --check must fail and print PATTERN.
expect_problem() {
  local name=$1 pattern=$2
  shift 2
  if env "$@" "$BIN/kestrova" --check > "$WORK/out" 2> "$WORK/err"; then
    fail "$name: --check passed"
  fi
  grep -q -- "$pattern" "$WORK/out" || fail "$name: no '$pattern' in: $(grep problem "$WORK/out")"
}

# A sound installation: no problem, exit 0.
"$BIN/kestrova" --check > "$WORK/out" || fail "a sound installation fails: $(grep problem "$WORK/out")"
if grep -q '^problem:' "$WORK/out"; then fail "problems on a sound installation: $(grep problem "$WORK/out")"; fi

# Without JOBROOT the check says which variable is missing.
expect_problem "no JOBROOT" "^problem: JOBROOT is not set" JOBROOT=
expect_problem "JOBROOT elsewhere" "^problem: JOBROOT: no such directory: $WORK/nowhere/" JOBROOT="$WORK/nowhere/"

# The programs' directory.
expect_problem "no JOBEXE directory" "^problem: JOBEXE: no such directory: $WORK/nowhere/" JOBEXE="$WORK/nowhere/"
mkdir "$WORK/empty-programs"
expect_problem "no JOBPRINT" "^problem: JOBEXE: the print program JOBPRINT is not in $WORK/empty-programs/" \
  JOBEXE="$WORK/empty-programs/"

# The session directory: missing, or one the job cannot write in.
expect_problem "no JOBTMP directory" "^problem: JOBTMP: no such directory: $WORK/nowhere/" JOBTMP="$WORK/nowhere/"
chmod a-w "$WORK/root/SESSIO"
if [ ! -w "$WORK/root/SESSIO" ]; then
  expect_problem "read-only JOBTMP" "^problem: JOBTMP: the job cannot create its work files"
elif unshare -rm true 2>/dev/null; then
  # Running as root, a directory without write permission is still
  # writable: a read-only mount in a namespace of this test's own is not.
  dir="$WORK/root/SESSIO"
  if unshare -rm sh -c "mount --bind '$dir' '$dir' && mount -o remount,bind,ro '$dir' &&
                        '$BIN/kestrova' --check" > "$WORK/out" 2> "$WORK/err"; then
    fail "read-only JOBTMP: --check passed"
  fi
  grep -q "^problem: JOBTMP: the job cannot create its work files" "$WORK/out" ||
    fail "read-only JOBTMP: $(grep problem "$WORK/out") $(cat "$WORK/err")"
else
  echo "note: read-only JOBTMP not tried (running as root without namespaces)"
fi
chmod u+w "$WORK/root/SESSIO"

# The working date.
for bad in 20261345 20250229 00000000 2026-12-07; do
  sed "s/^Data=.*/Data=$bad\r/" "$WORK/TarnTerm.ini.good" > "$TERMFILE"
  expect_problem "working date $bad" "^problem: the working date (\[Sistema\] Data of .*TarnTerm.ini) is not a date"
done
sed "/^Data=/d" "$WORK/TarnTerm.ini.good" > "$TERMFILE"
expect_problem "no working date" "^problem: the working date (\[Sistema\] Data of .*TarnTerm.ini) is missing"
sed "s/^Data=.*/Data=20240229\r/" "$WORK/TarnTerm.ini.good" > "$TERMFILE"
"$BIN/kestrova" --check > "$WORK/out" || fail "29 February 2024 refused: $(grep problem "$WORK/out")"

# The output device: a printer the print system does not know (or no print
# system at all), a file in a directory that cannot be written.
sed "s/^Sortida=.*/Sortida=KESTROVA-NO-SUCH-PRINTER\r/" "$WORK/TarnTerm.ini.good" > "$TERMFILE"
expect_problem "unknown printer" "^problem: output device (\[Sistema\] Sortida) KESTROVA-NO-SUCH-PRINTER: "
sed "s|^Sortida=.*|Sortida=$WORK/nowhere/informe.pdf\r|" "$WORK/TarnTerm.ini.good" > "$TERMFILE"
expect_problem "file in a missing directory" "^problem: output device (\[Sistema\] Sortida) $WORK/nowhere/informe.pdf: cannot write"
sed "s/^Sortida=.*/Sortida=informe.txt\r/" "$WORK/TarnTerm.ini.good" > "$TERMFILE"
"$BIN/kestrova" --check > "$WORK/out" || fail "a text file in JOBTMP refused: $(grep problem "$WORK/out")"
cp "$WORK/TarnTerm.ini.good" "$TERMFILE"

echo "installation problems: ok"
