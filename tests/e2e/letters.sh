#!/usr/bin/env bash
# A letters pass with the real binaries in an 80 x 25 tmux pane, on a root
# made by scripts/make-root: mode N, the letter text chosen from its list
# with F4, S on the confirmation; the letters appear in the print program's
# viewer one page each, in the session language, and Esc on the form ends
# the job.  Then the same pass in Spanish.
set -euo pipefail

. "$(dirname "$0")/lib/tmux_pane.sh" letters

BUILD_DIR=$BIN TODAY=20260301 "$SRC/scripts/make-root" "$WORK/root" > "$WORK/env" 2> /dev/null
TERMINAL_INI="$WORK/root/SESSIO/TarnTerm.ini"
sed -i 's/^Sortida=.*/Sortida=PANTALLA\r/' "$TERMINAL_INI"

send() { tmux -L "$SOCKET" send-keys -t job "$@"; }

# Mode N, regime 4, estates 1 to 3; on the letter text F4 opens the list of
# letter texts, typing finds REVIPC and Enter takes it.
fill_form() {
  wait_for "$1"
  send N Enter Enter 4 Enter Enter Enter 3 DC DC DC Enter
  for _ in $(seq 5); do send Enter; done
  send F4
  wait_for "$2"
  send R E V I P
  sleep 0.3
  send Enter
  wait_for "REVIPC"
  send Enter
  wait_for "$3"
  send S Enter
}

# 1. Catalan: four letters, one page each.
start_job
fill_form "Tasca" "Textos de cartes" "Confirmeu la revisió"
wait_for "Pàgina 1/4"
wait_for "Benvolgut llogater"
wait_for "Referència: V001002"
send NPage
wait_for "Pàgina 2/4"
wait_for "Referència: V003005"
send Escape
wait_for "Tasca"
send Escape
wait_for "EXIT=0"

# 2. Spanish.
for file in "$WORK/root/Tarn.ini" "$TERMINAL_INI"; do sed -i 's/^Idioma=.*/Idioma=SPA\r/' "$file"; done
start_job
fill_form "Tarea" "Textos de cartas" "Confirma"
# The viewer speaks the session language too.
wait_for "Página 1/4"
wait_for "Estimado inquilino"
send Escape
wait_for "Tarea"
send Escape
wait_for "EXIT=0"

echo "letters: ok"
