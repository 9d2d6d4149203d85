#!/usr/bin/env bash
# An office's installation made with kestrova-admin, as an administrator
# would: a new empty installation and a workstation; the form refuses a
# list of no units; a few units imported from CSV are revised by the next
# pass under the installation's letterhead; the month's index goes in from the command line
# and from the statistics office's CSV, and a gap, a changed month or a far
# value is refused without changing the file; a backup restores.  Runs on the build (CTest) or,
# from scripts/check-package, on the installed package (KESTROVA_BINARY_DIR
# and KESTROVA_DATA point there).
set -euo pipefail

SRC=${KESTROVA_SOURCE_DIR:?}
BIN=${KESTROVA_BINARY_DIR:?}
ADMIN=${KESTROVA_ADMIN:-$SRC/tools/admin/kestrova-admin}
DATA=${KESTROVA_DATA:-$SRC/install}
export KESTROVA_BIN=$BIN KESTROVA_DATA=$DATA
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$WORK"

"$ADMIN" new "$WORK/root" --company "ADMINISTRACIÓ DE PROVA, S.L." --company "Carrer Nou, 1" 2> new.log ||
  fail "new installation: $(cat new.log)"
for f in Tarn.ini FORMS/KESTROVA.JPN LOCALE/KESTROVA.LNG DADES/FinquesV.dat DADES/DepartaV.dat \
         DADES/TranLauV.dat DADES/TVRebut.dat DADES/Textos.dat TAULES/UIpc.dat PROGRAMES/JOBPRINT; do
  [ -e "root/$f" ] || fail "new installation without $f"
done
if "$ADMIN" new "$WORK/root" 2> again.log; then fail "an existing installation was made again"; fi

"$ADMIN" workstation "$WORK/root" PROVA --output informe.txt --date 20260301 > env 2> ws.log ||
  fail "workstation: $(cat ws.log)"
[ -x root/ESTACIONS/PROVA/start-kestrova ] || fail "no start script"
# shellcheck disable=SC1091
. ./env
unset HTTP_USER_AGENT HTTP_ACCEPT WINDIR SYSTEMROOT
"$BIN/kestrova" --check > check.log 2>&1 || fail "kestrova --check: $(cat check.log)"
grep -q "^file.004: .* status 0 records [1-9]" check.log || fail "no price index: $(grep file.004 check.log)"
grep -q "^file.507: .* status 0 records 0$" check.log || fail "units not empty: $(grep file.507 check.log)"

# Regime 4 over the whole range, confirmed with S, then Esc leaves the form.
list_pass() {
  printf '%s' '{Enter}{Enter}4{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}S{Enter}{Esc}' > keys
  rm -f "$JOBTMP/informe.txt"
  KESTROVA_CONSOLE=headless KESTROVA_KEYS="$WORK/keys" timeout 120 "$BIN/kestrova" > job.log 2>&1 ||
    fail "the list pass exited $?: $(cat job.log)"
  [ -s "$JOBTMP/informe.txt" ] || fail "the list pass printed nothing: $(cat job.log)"
}
# With no unit in the installation the form refuses the range: no report.
printf '%s' '{Enter}{Enter}4{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}S{Enter}{Esc}' > keys
KESTROVA_CONSOLE=headless KESTROVA_KEYS="$WORK/keys" timeout 120 "$BIN/kestrova" > job.log 2>&1 ||
  fail "the job on an empty installation exited $?: $(cat job.log)"
[ ! -s "$JOBTMP/informe.txt" ] || fail "a report of no units was printed"

# Two estates and their units, imported as an office imports its own data.
head -3 "$DATA/demo/FinquesV.csv" > estates.csv
head -1 "$DATA/demo/DepartaV.csv" > units.csv
grep -E '^000[12]' "$DATA/demo/DepartaV.csv" >> units.csv
"$BIN/tarndata" import root/DADES/FinquesV.dat root/ddf/FinquesV.layout estates.csv 2> imp.log ||
  fail "estates import: $(cat imp.log)"
"$BIN/tarndata" import root/DADES/DepartaV.dat root/ddf/DepartaV.layout units.csv 2> imp.log ||
  fail "units import: $(cat imp.log)"
list_pass
# The units due in the month are listed under their estate's address.
address=$(sed -n 2p estates.csv | cut -d'"' -f2 | cut -d, -f1)
grep -q "$address" "$JOBTMP/informe.txt" || fail "the imported estate $address is not in the report"
grep -q "ADMINISTRACIÓ DE PROVA" "$JOBTMP/informe.txt" || fail "the report has not the installation's letterhead"

# The month's index.  Each refusal leaves the file as it was.
index() { "$ADMIN" index "$WORK/root" "$@" > idx.log 2>&1; }
count() { "$BIN/tarndata" stat root/TAULES/UIpc.dat | sed -n 's/^records: *//p'; }
before=$(count)
index --series I --month 2026-01 --value 120.145 --dry-run || fail "dry run: $(cat idx.log)"
grep -q "would add: series I 2026-01 120.145" idx.log || fail "dry run said: $(cat idx.log)"
[ "$(count)" = "$before" ] || fail "the dry run wrote"
cases=(
  "gap|--series I --month 2026-02 --value 120.5|would leave a gap"
  "far|--series I --month 2026-01 --value 140|is far from"
  "no number|--series I --month 2026-01 --value 12x|not a number"
  "no month|--series I --month 2026-13 --value 120|not a month"
  "bad series|--series Z --month 2026-01 --value 120|series I or"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name args expected <<< "$c"
  # shellcheck disable=SC2086
  if index $args; then fail "$name: accepted"; fi
  grep -q "$expected" idx.log || fail "$name: said $(cat idx.log)"
  [ "$(count)" = "$before" ] || fail "$name: the file changed"
done
index --series I --month 2026-01 --value 120.145 || fail "index: $(cat idx.log)"
[ "$(count)" = "$((before + 1))" ] || fail "the month was not added"
index --series I --month 2026-01 --value 121 && fail "a changed month was accepted"
grep -q "in the file already" idx.log || fail "changed month said: $(cat idx.log)"
# The office's CSV: 2025-11 to 2026-01 are there already, 2026-02 is added;
# the rows of the monthly and yearly rates are not index figures.
index --series I --ine "$SRC/tests/e2e/data/ine_general_index.csv" || fail "ine csv: $(cat idx.log)"
grep -q "add: series I 2026-02 120.48" idx.log || fail "ine csv said: $(cat idx.log)"
grep -q "already there: series I 2026-01" idx.log || fail "ine csv said: $(cat idx.log)"
[ "$(count)" = "$((before + 2))" ] || fail "the office's month was not added"

# The job revises the new month: a lease due in February 2026 finds its index.
"$BIN/tarndata" export root/TAULES/UIpc.dat root/ddf/UIpc.layout | grep -q "ES,I,2026-02-01,120.48" ||
  fail "the new month is not in the file as the job reads it"

# A backup, and a restore of it into another root and over the first one.
"$ADMIN" backup "$WORK/root" "$WORK/backup" 2> bk.log || fail "backup: $(cat bk.log)"
"$ADMIN" restore "$WORK/backup" "$WORK/restored" 2> rs.log || fail "restore: $(cat rs.log)"
for f in DADES/DepartaV TAULES/UIpc; do
  [ "$("$BIN/tarndata" stat "root/$f.dat" | grep records)" = "$("$BIN/tarndata" stat "restored/$f.dat" | grep records)" ] ||
    fail "restored $f differs"
done
if "$ADMIN" restore "$WORK/backup" "$WORK/root" 2> rs.log; then fail "a restore replaced files without --replace"; fi
"$ADMIN" restore "$WORK/backup" "$WORK/root" --replace 2> rs.log || fail "restore --replace: $(cat rs.log)"

echo "admin installation: ok"
