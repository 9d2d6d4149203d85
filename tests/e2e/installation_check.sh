#!/usr/bin/env bash
# The administrator's installation check on a root made by scripts/make-root:
# every line as the job sees the installation, and a clear failure when the
# form is missing or damaged.
set -euo pipefail

. "$(dirname "$0")/lib/job_root.sh"

"$BIN/kestrova" --check > "$WORK/out" || fail "--check exited $?"

year=$(date +%Y)
if [ "$year" -ge 1976 ] && [ "$year" -le 2076 ]; then date_digits="071226"; else date_digits="07122026"; fi
# Date fields are 10 wide: a four-digit year fits.
date_field=$(printf '%-10s' "$date_digits")

cat > "$WORK/expected" <<EOT
JOBROOT: $WORK/root/
JOBEXE: $WORK/root/PROGRAMES/
JOBTMP: $WORK/root/SESSIO/
terminal: $WORK/root/TERMINAL/
title: " REVISIÓ DE RENDES "
menu_option: KESTROVA
language: "CAT"
platform: DOS
session_date: 20261207
output: PANTALLA
colours: 15/1 7/1 0/7 14/7 7/1
letterhead1: ADMINISTRACIÓ DE FINQUES TARN, S.L.
letterhead2: Carrer Major, 12, 2n 1a
letterhead3: 08001 Barcelona
letterhead4: Tel. 934 000 000
letterhead5: NIF B-00000000
letterhead6: info@example.com
letterhead7: 
letterhead8: 
form: $WORK/root/FORMS/KESTROVA.JPN
screens: 2
fields_screen1: 12
lists: 6
field1.1: "L"
field1.2: "$date_field"
field1.3: "1"
field1.4: "1   "
field1.5: "0   "
field1.6: "9999"
field1.7: "9999"
field1.8: "2  "
field1.9: "  "
field1.10: "  "
field1.11: "$date_field"
field1.12: "        "
EOT
# Later work adds lines (data files, catalogue): compare the lines above in
# their order, ignoring lines with other keys.
keys=$(cut -d: -f1 "$WORK/expected" | paste -sd'|')
grep -E "^($keys):" "$WORK/out" > "$WORK/seen" || true
diff -u "$WORK/expected" "$WORK/seen" || fail "--check lines differ"

# The form is what the administrator would have to mend: name it, fail.
mv "$WORK/root/FORMS/KESTROVA.JPN" "$WORK/root/FORMS/gone.JPN"
if "$BIN/kestrova" --check > /dev/null 2> "$WORK/err"; then fail "--check passed without a form"; fi
grep -q "KESTROVA.JPN" "$WORK/err" || fail "the message does not name the form: $(cat "$WORK/err")"

printf '2,12\r\n"",1,0,0,0,0,0\r\n1,1,"A",X\r\n' > "$WORK/root/FORMS/KESTROVA.JPN"
if "$BIN/kestrova" --check > /dev/null 2> "$WORK/err"; then fail "--check passed with a damaged form"; fi
grep -q "line 3" "$WORK/err" || fail "the message does not name the line: $(cat "$WORK/err")"

# The options.
"$BIN/kestrova" --version | grep -q "^kestrova " || fail "--version"
"$BIN/kestrova" --help | grep -q -- "--check" || fail "--help"
if "$BIN/kestrova" --bogus 2>/dev/null; then fail "an unknown option succeeded"; fi

echo "installation check: ok"
