#!/usr/bin/env bash
# A real printer: a private CUPS server of the test's own (configuration,
# spool and output under a temporary directory, a Unix socket there only,
# filters run as lp) with two cups-pdf queues, one of them offering two-sided
# printing.  A list pass and a letters pass with a queue as the output device
# must arrive as the PDF output looks: the same page count, the same
# orientation (the report's condensed pages landscape, the letters portrait),
# and pdftotext's text line for line the text output.  The letters go on both
# sides of the sheet where the queue offers it (found through the socket the
# server listens on), on one side elsewhere, and the report always on one
# side.  Then the failures an office meets (an unknown queue, a stopped
# queue, a queue refusing jobs) must reach the job's message with their
# reason, the print script kept for a reprint.  The server is stopped
# whatever happens.
#
# cupsd's PDF back end reads its settings from /etc/cups only; the server
# runs in a mount namespace of its own where the test's directory stands in
# for /etc/cups, so nothing of the machine's own printing is touched.
set -euo pipefail

SKIP=77
skip() {
  echo "SKIPPED: $*"
  exit "$SKIP"
}

missing=()
for program in /usr/sbin/cupsd /usr/sbin/lpadmin lp lpstat lpoptions setpriv cupsdisable cupsreject pdftotext pdfinfo unshare tmux; do
  command -v "$program" > /dev/null || missing+=("$program")
done
[ -x /usr/lib/cups/backend/cups-pdf ] || missing+=("the cups-pdf back end")
PPD=/usr/share/ppd/cups-pdf/CUPS-PDF_noopt.ppd
[ -f "$PPD" ] || missing+=("$PPD")
if [ ${#missing[@]} -gt 0 ]; then
  skip "the printing packages are not installed (${missing[*]}): scripts/setup installs cups, printer-driver-cups-pdf and poppler-utils"
fi
# The server hands jobs to its filters as user lp and needs root for that and
# for its own mount namespace.
[ "$(id -u)" -eq 0 ] || skip "a private CUPS server needs root (it runs its filters as lp)"

. "$(dirname "$0")/lib/tmux_pane.sh" print-cups

CUPS_DIR=$(mktemp -d)
chmod 755 "$CUPS_DIR"
CUPSD_PID=
stop_server() {
  if [ -n "$CUPSD_PID" ]; then
    kill "$CUPSD_PID" 2> /dev/null || true
    for _ in $(seq 50); do kill -0 "$CUPSD_PID" 2> /dev/null || break; sleep 0.1; done
    kill -9 "$CUPSD_PID" 2> /dev/null || true
    wait "$CUPSD_PID" 2> /dev/null || true
  fi
  rm -rf "$CUPS_DIR"
  pane_cleanup
}
trap stop_server EXIT

show_server_log() {
  echo "--- cupsd log:" >&2
  tail -n 30 "$CUPS_DIR/log/error_log" >&2 2> /dev/null || true
}

# 1. The server.
mkdir -p "$CUPS_DIR"/{etc,spool,spool/tmp,cache,state,log,out,pdf-spool}
cat > "$CUPS_DIR/etc/cups-files.conf" <<EOT
ServerRoot $CUPS_DIR/etc
RequestRoot $CUPS_DIR/spool
TempDir $CUPS_DIR/spool/tmp
CacheDir $CUPS_DIR/cache
StateDir $CUPS_DIR/state
ErrorLog $CUPS_DIR/log/error_log
AccessLog $CUPS_DIR/log/access_log
PageLog $CUPS_DIR/log/page_log
Printcap $CUPS_DIR/printcap
User lp
Group lp
SystemGroup root
FileDevice No
EOT
cat > "$CUPS_DIR/etc/cupsd.conf" <<EOT
Listen $CUPS_DIR/cups.sock
LogLevel info
# Every job's attributes reach the spool at once: the test reads the sides
# a job was printed with there.
DirtyCleanInterval 0
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOT
cat > "$CUPS_DIR/etc/cups-pdf.conf" <<EOT
Out $CUPS_DIR/out
AnonDirName $CUPS_DIR/out
Spool $CUPS_DIR/pdf-spool
Grp lp
Label 0
EOT
cp /etc/cups/raw.types /etc/cups/raw.convs "$CUPS_DIR/etc/" 2> /dev/null || true

# The server gets SIGTERM when this script ends, however it ends (killed
# included), besides stop_server.
unshare -m setpriv --pdeathsig TERM sh -c "mount --bind '$CUPS_DIR/etc' /etc/cups &&
  exec /usr/sbin/cupsd -f -c '$CUPS_DIR/etc/cupsd.conf' -s '$CUPS_DIR/etc/cups-files.conf'" \
  > "$CUPS_DIR/log/cupsd.out" 2>&1 &
CUPSD_PID=$!
export CUPS_SERVER="$CUPS_DIR/cups.sock"
for _ in $(seq 100); do
  LC_ALL=C lpstat -r 2> /dev/null | grep -q "is running" && break
  kill -0 "$CUPSD_PID" 2> /dev/null || { cat "$CUPS_DIR/log/cupsd.out" >&2; show_server_log; fail "cupsd did not start"; }
  sleep 0.1
done
LC_ALL=C lpstat -r | grep -q "is running" || { show_server_log; fail "cupsd does not answer on $CUPS_SERVER"; }
lpadmin -p kpdf -E -v cups-pdf:/ -P "$PPD" 2> /dev/null || { show_server_log; fail "lpadmin could not add the queue"; }
# The same printer with a two-sided option in its driver, as an office
# printer that prints on both sides has.
awk '{ print } /^\*CloseUI: \*PageSize/ {
  print "*OpenUI *Duplex/2-Sided Printing: PickOne"
  print "*OrderDependency: 50 AnySetup *Duplex"
  print "*DefaultDuplex: None"
  print "*Duplex None/Off: \"<</Duplex false>>setpagedevice\""
  print "*Duplex DuplexNoTumble/Long Edge: \"<</Duplex true/Tumble false>>setpagedevice\""
  print "*Duplex DuplexTumble/Short Edge: \"<</Duplex true/Tumble true>>setpagedevice\""
  print "*CloseUI: *Duplex" }' "$PPD" > "$CUPS_DIR/duplex.ppd"
grep -q '^\*OpenUI \*Duplex' "$CUPS_DIR/duplex.ppd" || fail "no two-sided option could be added to $PPD"
lpadmin -p kdup -E -v cups-pdf:/ -P "$CUPS_DIR/duplex.ppd" 2> /dev/null ||
  { show_server_log; fail "lpadmin could not add the two-sided queue"; }

# 2. An installation whose workstation prints on the queue.
BUILD_DIR=$BIN TODAY=20260301 "$SRC/scripts/make-root" "$WORK/root" > "$WORK/env" 2> /dev/null
TERMINAL_INI="$WORK/root/SESSIO/TarnTerm.ini"
SCRIPT="$WORK/root/SESSIO/jobprint.tmp"
set_device() { sed -i "s/^Sortida=.*/Sortida=$1\r/" "$TERMINAL_INI"; }

# A pass, then Esc on the form: headless, keys from a file.  The list pass of
# regime 4; the letters pass of regime 4 for estates 1 to 3 with the letter
# text REVIPC (four letters, one page each).
LIST_KEYS='{Enter}{Enter}4{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}S{Enter}{Esc}'
LETTER_KEYS='N{Enter}{Enter}4{Enter}{Enter}{Enter}3{Del}{Del}{Del}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}REVIPC{Enter}S{Enter}{Esc}'
run_pass() {  # keys
  printf '%s' "$1" > "$WORK/keys"
  (cd "$WORK" && . ./env && KESTROVA_CONSOLE=headless KESTROVA_KEYS="$WORK/keys" timeout 300 "$BIN/kestrova") \
    > "$WORK/job.log" 2>&1 || { cat "$WORK/job.log" >&2; fail "the job failed"; }
}

# What arrived at the printer: waits until the server has no job left and a
# PDF whose name (the job's title) starts with $1 is in the printer's output,
# and moves it to $2.
collect() {
  local found=
  for _ in $(seq 600); do
    found=$(find "$CUPS_DIR/out" -name "$1*.pdf" -size +0 | head -n 1)
    if [ -n "$found" ] && [ -z "$(LC_ALL=C lpstat -o)" ]; then break; fi
    found=
    sleep 0.2
  done
  [ -n "$found" ] || { show_server_log; ls "$CUPS_DIR/out" >&2; fail "nothing titled $1 arrived at the printer"; }
  mv "$found" "$2"
}

# The sides the last job on a queue was printed with, as the server keeps
# its attributes in the spool.
last_job_sides() {  # queue
  local id
  id=$(LC_ALL=C lpstat -W completed -o "$1" | awk '{ sub(/.*-/, "", $1); print $1 }' | sort -n | tail -n 1)
  [ -n "$id" ] || fail "no job completed on $1"
  { grep -a -o 'two-sided-long-edge\|one-sided' "$CUPS_DIR/spool/c$(printf '%05d' "$id")" || true; } | sort -u | tr '\n' ' '
}

pages() { pdfinfo "$1" | awk '/^Pages:/ { print $2 }'; }
# Each page's orientation as shown: its size turned by its rotation.
orientations() {
  pdfinfo -f 1 -l "$(pages "$1")" "$1" | awk '
    /^Page +[0-9]+ size:/ { w = $4; h = $6 }
    /^Page +[0-9]+ rot:/ { r = $4 % 180; wide = (w > h); if (r == 90) wide = !wide; print (wide ? "landscape" : "portrait") }'
}
# Text without the blanks between words, which a PDF does not keep.
words() { tr -d '\f' | sed -e 's/[[:space:]]\+/ /g' -e 's/^ //' -e 's/ $//' | grep -v '^$' || true; }

# The pass's script printed on a queue ($1) by the job, the same script as
# a PDF file and a text file ($2.pdf, $2.txt), and what arrived ($2-printed.pdf)
# page for page the PDF file and line for line the text.
print_and_compare() {  # queue, name, keys, title
  set_device "$1"
  rm -f "$SCRIPT"
  run_pass "$3"
  [ -f "$SCRIPT" ] || fail "no print script for $2"
  "$BIN/jobprint" --device "$2.pdf" "$SCRIPT" || fail "jobprint could not write $2.pdf"
  "$BIN/jobprint" --device "$2.txt" "$SCRIPT" || fail "jobprint could not write $2.txt"
  local direct="$WORK/root/SESSIO/$2.pdf" arrived="$WORK/$2-printed.pdf"
  collect "$4" "$arrived"
  [ "$(pages "$direct")" -ge 2 ] || fail "$2: only $(pages "$direct") page in the PDF output"
  [ "$(pages "$arrived")" = "$(pages "$direct")" ] ||
    fail "$2: $(pages "$arrived") pages arrived, the PDF output has $(pages "$direct")"
  [ "$(orientations "$arrived")" = "$(orientations "$direct")" ] ||
    fail "$2: the pages arrived as $(orientations "$arrived" | tr '\n' ' '), the PDF output is $(orientations "$direct" | tr '\n' ' ')"
  diff <(pdftotext -layout "$arrived" - | words) <(words < "$WORK/root/SESSIO/$2.txt") > "$WORK/text.diff" ||
    { cat "$WORK/text.diff" >&2; fail "$2: the printed text differs from the text output"; }
}

# 3. The report: its condensed pages landscape, on one side.
print_and_compare kpdf report "$LIST_KEYS" KESTROVA_Informe
[[ "$(orientations "$WORK/root/SESSIO/report.pdf")" == *landscape* ]] || fail "the report's condensed pages are not landscape"
[ "$(last_job_sides kpdf)" = "one-sided " ] || fail "the report was printed $(last_job_sides kpdf)"

# 4. The letters, portrait, on the queue that prints on both sides: the
#    queue's offer is found through the server's socket.
print_and_compare kdup letters "$LETTER_KEYS" KESTROVA_Cartes
[[ "$(orientations "$WORK/root/SESSIO/letters.pdf" | sort -u)" == portrait ]] || fail "a letter page is not portrait"
[ "$(last_job_sides kdup)" = "two-sided-long-edge " ] ||
  fail "the letters were printed '$(last_job_sides kdup)' on a queue that prints on both sides"
# The same letters on the queue without two-sided printing: one side.
(cd "$WORK" && . ./env && "$BIN/jobprint" --device kpdf "$SCRIPT") || fail "jobprint could not print the letters on kpdf"
collect KESTROVA_Cartes "$WORK/letters-one-sided.pdf"
[ "$(last_job_sides kpdf)" = "one-sided " ] || fail "the letters were printed '$(last_job_sides kpdf)' on kpdf"

# 5. Failures reach the job's message with their reason; the script stays.
expect_failure() {  # device, what the message must say
  set_device "$1"
  rm -f "$SCRIPT"
  start_job
  wait_for "Tasca"
  tmux -L "$SOCKET" send-keys -t job Enter Enter 4
  for _ in $(seq 10); do tmux -L "$SOCKET" send-keys -t job Enter; done
  wait_for "Confirmeu la revisió"
  tmux -L "$SOCKET" send-keys -t job S Enter
  wait_for "$2"
  [ -f "$SCRIPT" ] || fail "the print script was not kept after: $2"
  dismiss "$2"
  tmux -L "$SOCKET" send-keys -t job Escape
  wait_for "EXIT=0"
}
expect_failure noexisteix "LA IMPRESSORA NO EXISTEIX: noexisteix"
cupsdisable kpdf
expect_failure kpdf "LA IMPRESSORA ESTÀ ATURADA: kpdf"
cupsenable kpdf
cupsreject kpdf
expect_failure kpdf "is not accepting jobs"
cupsaccept kpdf

echo "print on a CUPS queue: ok"
