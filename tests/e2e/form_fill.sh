#!/usr/bin/env bash
# The operator fills the revision form in a real terminal (an 80 x 25 tmux
# pane on a root made by scripts/make-root): choices with the arrows and by
# letter, a date, a refused value typed again, fields reached with mouse
# clicks, the job's help and the general help with F1, a look-up list of
# the demo data with F4, and Esc twice to leave.
set -euo pipefail

. "$(dirname "$0")/lib/tmux_pane.sh" form

BUILD_DIR=$BIN TODAY=20261207 "$SRC/scripts/make-root" "$WORK/root" > "$WORK/env"

row() { pane | sed -n "$1p"; }
keys() { tmux -L "$SOCKET" send-keys -t job "$@"; sleep 0.15; }
# A left click on a cell, as the terminal reports it (SGR, 1-based).
click() { tmux -L "$SOCKET" send-keys -t job -l $'\e[<0;'"$2;$1"'M'; sleep 0.15; }

start_job
wait_for "REVISIÓ DE RENDES"

# 1. Task: Right makes the letters current; Enter goes on to the date.
keys Right
wait_for "Cartes als llogaters"
keys Enter
# 2. The date, typed over a cleared field; the regime by its number.
keys C-y 1/2/27 Enter
keys 3 Enter
# 3. A click on the label of the months of arrears: 99 is refused (0 to
#    60), the message row says why and the typed text stays to be typed
#    over; 12 is taken and the message goes.
click 14 10
[ "$(tmux -L "$SOCKET" display -p -t job '#{cursor_flag}')" = 1 ] || fail "no cursor in a text field"
[ "$(tmux -L "$SOCKET" display -p -t job '#{cursor_x},#{cursor_y}')" = "31,13" ] || fail "cursor not on the value"
keys 9 9 Enter
wait_for "Número incorrecte: ha de ser un enter de 0 a 60"
[[ "$(row 14)" == "  Mesos d'endarreriments ....: 99" ]] || fail "typed text not kept: '$(row 14)'"
keys 1 2 Enter
wait_gone "Número incorrecte"
# 4. A click on the letter text; typed in lower case, stored in capitals;
#    Enter on the last field finishes the screen, which comes back with the
#    cursor on the first field the checks found at fault.
click 18 5
keys c a r t a 1 Enter
# The revision's checks refuse the form, one message each: 12 months of
# arrears need an arrears concept, and the demo has no letter text CARTA1.
wait_for "NO EXISTEIX EL CONCEPTE D'ENDARRERIMENTS"
dismiss "NO EXISTEIX EL CONCEPTE D'ENDARRERIMENTS" Enter
wait_for "NO EXISTEIX EL TEXT CARTA1"
dismiss "NO EXISTEIX" Enter
wait_for "CARTA1"
[[ "$(row 3)" == "  Tasca .....................: Cartes als llogaters"* ]] || fail "row 3: '$(row 3)'"
[[ "$(row 5)" == "  Data d'aplicació ..........: 1/2/27"* ]] || fail "row 5: '$(row 5)'"
[[ "$(row 6)" == *"Actualització de contractes anteriors a 1985"* ]] || fail "row 6: '$(row 6)'"
[[ "$(row 14)" == "  Mesos d'endarreriments ....: 12" ]] || fail "row 14: '$(row 14)'"
# The empty arrears concept says nothing of an undefined concept.
[[ "$(row 15)" == "  Concepte d'endarreriments .:" ]] || fail "row 15: '$(row 15)'"
[[ "$(row 18)" == "  Text de la carta ..........: CARTA1   *** text inexistent ***" ]] || fail "row 18: '$(row 18)'"
[ "$(tmux -L "$SOCKET" display -p -t job '#{cursor_x},#{cursor_y}')" = "31,14" ] || fail "cursor not on the arrears concept"

# 5. F1: the job's help in its double frame; F1 there: the general help;
#    Esc closes each.
keys F1
wait_for "Camps del formulari"
[ "$(row 4)" = "╔$(printf '═%.0s' $(seq 78))╗" ] || fail "help frame: '$(row 4)'"
keys F1
wait_for "AJUDA GENERAL"
keys Escape
wait_for "Camps del formulari"
keys Escape
wait_gone "Camps del formulari"
[[ "$(row 3)" == "  Tasca ....................."* ]] || fail "the form is not back: '$(row 3)'"

# 6. F4 on the first estate: the list of estates of the demo data; Esc
#    leaves it, then the street's first letters find a line and Enter
#    fills the field with its estate number.
click 8 5
keys F4
wait_for "Finques"
[[ "$(row 5)" == *"│0001  Carrer de Balmes, 125 "*"│" ]] || fail "list row 5: '$(row 5)'"
keys Escape
wait_gone "Finques"
keys F4
wait_for "Finques"
keys c a r r e r Space d e Space m
keys Enter
wait_gone "Finques"
[[ "$(row 8)" == "  Des de la finca ...........: 2    Carrer de Muntaner, 117" ]] || fail "row 8: '$(row 8)'"

# 7. Esc goes back to the first field, a second Esc leaves the job.
keys Escape
keys Escape
wait_for "EXIT=0"
echo "form fill: ok"
