#!/usr/bin/env bash
# The job's six data files on a root made by scripts/make-root: the
# installation check lists them with their record counts; a missing file is
# created from its dictionary when the job starts; without its dictionary the
# job ends with the opening-failure exit code and leaves no empty dictionary.
set -euo pipefail

. "$(dirname "$0")/lib/job_root.sh"
export KESTROVA_CONSOLE=headless

"$BIN/kestrova" --check > "$WORK/out" || fail "--check exited $?"
cat > "$WORK/expected" <<EOT
file.506: $WORK/root/DADES/FinquesV.dat status 0 records 20
file.507: $WORK/root/DADES/DepartaV.dat status 0 records 301
file.508: $WORK/root/DADES/TranLauV.dat status 0 records 69
file.503: $WORK/root/DADES/TVRebut.dat status 0 records 16
file.004: $WORK/root/TAULES/UIpc.dat status 0 records 918
file.060: $WORK/root/DADES/Textos.dat status 0 records 7
EOT
grep '^file\.' "$WORK/out" > "$WORK/seen" || true
diff -u "$WORK/expected" "$WORK/seen" || fail "--check file lines differ"

# A missing file with its dictionary: the check reports that the job will
# create it (and creates nothing), and passes, since the job will start; the
# job creates it from its dictionary.
rm -f "$WORK/root/DADES/Textos.dat"*
"$BIN/kestrova" --check > "$WORK/out" || fail "--check failed on a file the job creates: $(grep -e file.060 -e problem "$WORK/out")"
grep -q "^file.060: .* status 12 records 0 (missing: created at start from $WORK/root/ddf/Textos.xdf)$" "$WORK/out" ||
  fail "missing file not reported: $(grep file.060 "$WORK/out")"
[ ! -e "$WORK/root/DADES/Textos.dat" ] || fail "--check created a file"
"$BIN/kestrova" < /dev/null || fail "the job exited $? with a file to create"
"$BIN/kestrova" --check | grep -q "^file.060: .* status 0 records 0$" || fail "the created file does not open"

# Without the dictionary: the check fails as the job will, and the opening
# failure ends the job, not with 0.
rm -f "$WORK/root/DADES/Textos.dat"*
mv "$WORK/root/ddf/Textos.xdf" "$WORK/Textos.xdf"
if "$BIN/kestrova" --check > "$WORK/out"; then fail "--check passed without DADES/Textos.dat and its dictionary"; fi
grep -q "^file.060: .* status 12 records 0$" "$WORK/out" || fail "missing file not reported: $(grep file.060 "$WORK/out")"
set +e
"$BIN/kestrova" < /dev/null
code=$?
set -e
[ "$code" -eq 3 ] || fail "opening failure exited $code, not 3"
[ ! -e "$WORK/root/ddf/Textos.xdf" ] || fail "an empty dictionary was left behind"
[ ! -e "$WORK/root/DADES/Textos.dat" ] || fail "a data file was left behind"

echo "data files: ok"
