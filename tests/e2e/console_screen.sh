#!/usr/bin/env bash
# The job in a real terminal: an 80 x 25 tmux pane on a root made by
# scripts/make-root.  The first form screen appears with its title, labels,
# values and frame; a terminal too small shows the notice until it is
# enlarged; Esc ends the job with the terminal put back; SIGTERM while
# the job waits ends it cleanly too, and a crash still restores the terminal.
set -euo pipefail

SRC=${KESTROVA_SOURCE_DIR:?}
BIN=${KESTROVA_BINARY_DIR:?}

# Without a terminal: the headless console on a Spanish installation shows
# the form's texts from the catalogue; a broken key script is refused.
HEADLESS=$(mktemp -d)
LANGUAGE_CODE=SPA BUILD_DIR=$BIN "$SRC/scripts/make-root" "$HEADLESS/root" > "$HEADLESS/env"
(
  cd "$HEADLESS" && . ./env
  printf 'x' > keys
  KESTROVA_CONSOLE=headless KESTROVA_KEYS=keys KESTROVA_SCREEN=screen "$BIN/kestrova"
  # The task field shows the text of its choice.
  sed -n 3p screen | grep -qx "  Tarea .....................: Listado de la revisión" || { echo "FAIL: headless screen:"; cat screen; exit 1; }
  printf '{Nope}' > keys
  if KESTROVA_CONSOLE=headless KESTROVA_KEYS=keys "$BIN/kestrova" 2> err; then echo "FAIL: a bad key script was run"; exit 1; fi
  grep -q "keys: unknown key in the key script: {Nope}" err || { echo "FAIL: message: $(cat err)"; exit 1; }
) || { rm -rf "$HEADLESS"; exit 1; }
rm -rf "$HEADLESS"

if ! command -v tmux > /dev/null; then
  echo "tmux is not installed: the terminal part of the console test is skipped"
  exit 0
fi

WORK=$(mktemp -d)
SOCKET="kestrova-e2e-$$-0"
RUNS=0
cleanup() {
  for n in $(seq 0 "$RUNS"); do tmux -L "kestrova-e2e-$$-$n" kill-server 2> /dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  echo "--- pane:" >&2
  tmux -L "$SOCKET" capture-pane -p -t job >&2 2> /dev/null || true
  exit 1
}

BUILD_DIR=$BIN TODAY=20261207 "$SRC/scripts/make-root" "$WORK/root" > "$WORK/env"
# The first screen gets a window (rows 2-24, the whole width) so that its
# double frame shows how box characters come out.
sed -i 's/^\("[0-9a-f,]*"\),12,0,0,0,0,0/\1,12,0,2,1,24,80/' "$WORK/root/FORMS/KESTROVA.JPN"
grep -q '12,0,2,1,24,80' "$WORK/root/FORMS/KESTROVA.JPN" || fail "the form's screen line was not found"

# Waits (at most 10 s) until the pane shows the pattern.
wait_for() {
  for _ in $(seq 100); do
    if tmux -L "$SOCKET" capture-pane -p -t job | grep -q -- "$1"; then return 0; fi
    sleep 0.1
  done
  fail "waited for: $1"
}
row() { tmux -L "$SOCKET" capture-pane -p -t job | sed -n "$1p"; }
flag() { tmux -L "$SOCKET" display -p -t job "#{$1}"; }

start_job() {  # width height
  # A server of its own for each run: a server still shutting down cannot
  # get in the way.
  tmux -L "$SOCKET" kill-server 2> /dev/null || true
  RUNS=$((RUNS + 1))
  SOCKET="kestrova-e2e-$$-$RUNS"
  # The shell stays after the job, so the terminal it left can be looked at.
  tmux -L "$SOCKET" -f /dev/null new-session -d -x "$1" -y "$2" -s job \
    "cd '$WORK' && . ./env && sh -c 'echo \$\$ > job.pid; exec \"$BIN/kestrova\"'; echo EXIT=\$?; exec sleep 60"
}

# 1. The first screen, in the terminal, with its frame.
start_job 80 25
wait_for "REVISIÓ DE RENDES"
[ "$(row 1)" = "                               REVISIÓ DE RENDES" ] || fail "title row: '$(row 1)'"
[ "$(row 2)" = "╔$(printf '═%.0s' $(seq 78))╗" ] || fail "frame top: '$(row 2)'"
[ "$(row 24)" = "╚$(printf '═%.0s' $(seq 78))╝" ] || fail "frame bottom: '$(row 24)'"
# The first field is being edited: its choice shows between the markers.
[[ "$(row 5)" == "║  Tasca .....................:◄Llistat de la revisió►"* ]] || fail "row 5: '$(row 5)'"
[[ "$(row 7)" == "║  Data d'aplicació ..........: 071226"* ]] || fail "row 7: '$(row 7)'"
[[ "$(row 10)" == "║  Des de la finca ...........: 1    Carrer de Balmes, 125 "*"║" ]] || fail "row 10: '$(row 10)'"
[[ "$(row 11)" == "║         departament ........: 0    "*"║" ]] || fail "row 11: '$(row 11)'"
[[ "$(row 12)" == "║  Fins a la finca ...........: 9999 "*"║" ]] || fail "row 12: '$(row 12)'"
[ "$(flag alternate_on)" = 1 ] || fail "not on the alternate screen"
[ "$(flag mouse_sgr_flag)" = 1 ] || fail "mouse reports not asked for"
[ "$(flag cursor_flag)" = 0 ] || fail "the cursor is shown"
# Colours: the title in reverse (black on light grey), the values bright.
tmux -L "$SOCKET" capture-pane -p -e -t job | sed -n 1p | grep -q $'\e\[30m\e\[47m REVISIÓ' || fail "title colours"

# 2. Esc on the first field leaves the form and ends the job; the terminal
#    is as it was.
tmux -L "$SOCKET" send-keys -t job Escape
wait_for "EXIT=0"
[ "$(flag alternate_on)" = 0 ] || fail "left on the alternate screen"
[ "$(flag mouse_sgr_flag)" = 0 ] || fail "mouse reports left on"
[ "$(flag cursor_flag)" = 1 ] || fail "cursor left hidden"
[ ! -e "$WORK/root/SESSIO/WinPush.tmp" ] || fail "the screen's window was left on the window stack"

# The installation check names the catalogue the screen's texts come from.
(cd "$WORK" && . ./env && "$BIN/kestrova" --check) | grep -q "^catalogue: $WORK/root/LOCALE/KESTROVA.LNG ([1-9][0-9]* records)$" \
  || fail "no catalogue line in the installation check"

# 3. A terminal too small shows the notice, then the screen once enlarged.
start_job 70 20
wait_for "80 x 25"
tmux -L "$SOCKET" resize-window -t job -x 80 -y 25
wait_for "REVISIÓ DE RENDES"

# 4. SIGTERM while the job waits for a key: a clean end, terminal restored.
kill -TERM "$(cat "$WORK/job.pid")"
wait_for "EXIT=0"
[ "$(flag alternate_on)" = 0 ] || fail "left on the alternate screen after SIGTERM"

# 5. A crash: the terminal is put back before the process dies of it.
start_job 80 25
wait_for "REVISIÓ DE RENDES"
kill -SEGV "$(cat "$WORK/job.pid")"
wait_for "EXIT=139"
[ "$(flag alternate_on)" = 0 ] || fail "left on the alternate screen after a crash"
[ "$(flag mouse_sgr_flag)" = 0 ] || fail "mouse reports left on after a crash"

echo "console screen: ok"
