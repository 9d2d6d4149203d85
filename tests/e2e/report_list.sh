#!/usr/bin/env bash
# A list pass with the real binaries in an 80 x 25 tmux pane, on a root made
# by scripts/make-root: the report appears in the print program's viewer,
# Esc comes back to the form with the job's screen redrawn, and Esc on the
# form ends the job with exit code 0.  Then the same pass with a text file
# as the output device: the job names the file it went to.
set -euo pipefail

. "$(dirname "$0")/lib/tmux_pane.sh" report

BUILD_DIR=$BIN TODAY=20260301 "$SRC/scripts/make-root" "$WORK/root" > "$WORK/env" 2> /dev/null
TERMINAL_INI="$WORK/root/SESSIO/TarnTerm.ini"

# Regime 4 on field 3, the other defaults, S on the confirmation.
fill_form() {
  wait_for "Tasca"
  tmux -L "$SOCKET" send-keys -t job Enter Enter 4
  for _ in $(seq 10); do tmux -L "$SOCKET" send-keys -t job Enter; done
  wait_for "Confirmeu la revisió"
  tmux -L "$SOCKET" send-keys -t job S Enter
}

# 1. The report in the viewer.
sed -i 's/^Sortida=.*/Sortida=PANTALLA\r/' "$TERMINAL_INI"
start_job
fill_form
wait_for "Pàgina 1/2"
wait_for "REVISIÓ '94 DE RENDES LLIURES A 1/3/2026"
wait_for "001002         Carrer de Balmes, 125"
# Idle, the viewer sleeps until a key: it is not woken up at all.
descendant() {  # the process named $2 under process $1
  local child
  for child in $(ps -o pid= --ppid "$1"); do
    if [ "$(ps -o comm= -p "$child" | tr "[:upper:]" "[:lower:]")" = "$2" ]; then echo "$child"; return; fi
    descendant "$child" "$2"
  done
}
VIEWER=$(descendant "$(tmux -L "$SOCKET" display -p -t job '#{pane_pid}')" jobprint)
[ -n "$VIEWER" ] || fail "no jobprint process under the pane"
wakeups() { awk '/^voluntary_ctxt_switches/ { print $2 }' "/proc/$VIEWER/status"; }
before=$(wakeups)
sleep 2
after=$(wakeups)
[ "$after" -le "$((before + 1))" ] || fail "the idle viewer woke up $((after - before)) times in 2 s"
tmux -L "$SOCKET" send-keys -t job NPage
wait_for "Pàgina 2/2"
# 2. Esc: back to the form, redrawn.
tmux -L "$SOCKET" send-keys -t job Escape
wait_for "Tasca"
wait_for "REVISIÓ DE RENDES"
tmux -L "$SOCKET" capture-pane -p -t job | grep -q "Pàgina" && fail "the viewer is still on the screen"
# 3. Esc on the form ends the job.
tmux -L "$SOCKET" send-keys -t job Escape
wait_for "EXIT=0"

# 4. The same pass into a text file.
sed -i 's/^Sortida=.*/Sortida=informe.txt\r/' "$TERMINAL_INI"
REPORT="$WORK/root/SESSIO/informe.txt"
start_job
fill_form
# The job says where the pages went, until a key.
wait_for "IMPRESSIÓ DESADA A $WORK/root/SESSIO/informe.txt"
dismiss "IMPRESSIÓ DESADA A"
wait_for "Tasca"
tmux -L "$SOCKET" send-keys -t job Escape
wait_for "EXIT=0"
[ -f "$REPORT" ] || fail "no report file"
grep -q "PÀGINA    2" "$REPORT" || fail "the report file has no page 2"
grep -q "^001002         Carrer de Balmes, 125" "$REPORT" || fail "the first lease is missing"

echo "report list: ok"
