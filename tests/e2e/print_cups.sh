#!/usr/bin/env bash
# A real printer: a private CUPS server of the test's own (configuration,
# spool and output under a temporary directory, a Unix socket there only,
# filters run as lp) with a cups-pdf queue.  A list pass with the queue as
# the output device must arrive as the PDF output looks: the same page
# count, the same orientation, and pdftotext's text line for line the text
# output.  Then the failures an office meets (an unknown queue, a stopped
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
for program in /usr/sbin/cupsd /usr/sbin/lpadmin lp lpstat cupsdisable cupsreject pdftotext pdfinfo unshare tmux; do
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

unshare -m sh -c "mount --bind '$CUPS_DIR/etc' /etc/cups &&
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

# 2. An installation whose workstation prints on the queue.
BUILD_DIR=$BIN TODAY=20260301 "$SRC/scripts/make-root" "$WORK/root" > "$WORK/env" 2> /dev/null
TERMINAL_INI="$WORK/root/SESSIO/TarnTerm.ini"
SCRIPT="$WORK/root/SESSIO/jobprint.tmp"
set_device() { sed -i "s/^Sortida=.*/Sortida=$1\r/" "$TERMINAL_INI"; }

# The list pass of regime 4, then Esc on the form: headless, keys from a file.
KEYS='{Enter}{Enter}4{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}{Enter}S{Enter}{Esc}'
run_pass() {
  printf '%s' "$KEYS" > "$WORK/keys"
  (cd "$WORK" && . ./env && KESTROVA_CONSOLE=headless KESTROVA_KEYS="$WORK/keys" timeout 300 "$BIN/kestrova") \
    > "$WORK/job.log" 2>&1 || { cat "$WORK/job.log" >&2; fail "the job failed"; }
}

set_device kpdf
run_pass
[ -f "$SCRIPT" ] || fail "no print script"

# The same script as a PDF file and a text file, for comparison.
"$BIN/jobprint" --device direct.pdf "$SCRIPT" || fail "jobprint could not write the PDF"
"$BIN/jobprint" --device direct.txt "$SCRIPT" || fail "jobprint could not write the text"

# 3. What arrived at the printer.
ARRIVED=
for _ in $(seq 600); do
  ARRIVED=$(find "$CUPS_DIR/out" -name '*.pdf' -size +0 | head -n 1)
  if [ -n "$ARRIVED" ] && LC_ALL=C lpstat -W completed -o kpdf | grep -q kpdf; then break; fi
  ARRIVED=
  sleep 0.2
done
[ -n "$ARRIVED" ] || { show_server_log; fail "nothing arrived at the printer"; }
case "$(basename "$ARRIVED")" in
  KESTROVA_Informe*) ;;
  *) fail "the job title does not say what was printed: $(basename "$ARRIVED")" ;;
esac

pages() { pdfinfo "$1" | awk '/^Pages:/ { print $2 }'; }
# Each page's orientation as shown: its size turned by its rotation.
orientations() {
  pdfinfo -f 1 -l "$(pages "$1")" "$1" | awk '
    /^Page +[0-9]+ size:/ { w = $4; h = $6 }
    /^Page +[0-9]+ rot:/ { r = $4 % 180; wide = (w > h); if (r == 90) wide = !wide; print (wide ? "landscape" : "portrait") }'
}
# Text without the blanks between words, which a PDF does not keep.
words() { tr -d '\f' | sed -e 's/[[:space:]]\+/ /g' -e 's/^ //' -e 's/ $//' | grep -v '^$' || true; }

DIRECT="$WORK/root/SESSIO/direct.pdf"
[ "$(pages "$ARRIVED")" = "$(pages "$DIRECT")" ] ||
  fail "$(pages "$ARRIVED") pages arrived, the PDF output has $(pages "$DIRECT")"
[ "$(orientations "$ARRIVED")" = "$(orientations "$DIRECT")" ] ||
  fail "the pages arrived as $(orientations "$ARRIVED" | tr '\n' ' '), the PDF output is $(orientations "$DIRECT" | tr '\n' ' ')"
orientations "$DIRECT" | grep -q landscape || fail "the report's condensed pages are not landscape"
diff <(pdftotext -layout "$ARRIVED" - | words) <(words < "$WORK/root/SESSIO/direct.txt") > "$WORK/text.diff" ||
  { cat "$WORK/text.diff" >&2; fail "the printed text differs from the text output"; }

# 4. Failures reach the job's message with their reason; the script stays.
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
  tmux -L "$SOCKET" send-keys -t job Space
  wait_gone "$2"
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
