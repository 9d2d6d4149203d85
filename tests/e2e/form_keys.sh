#!/usr/bin/env bash
# The key line of the revision form in a real terminal, in Catalan and in
# Spanish: it names the keys that work (F1 help, F4 list, Alt-X, Alt-C,
# Ctrl-B to finish, Esc to leave), and those keys do what it says: Ctrl-B
# and End finish the form from any field (the confirmation comes), Ctrl-End
# goes to the end of a value, PgDn goes to the last field, F1 shows the help
# in the session's language.
set -euo pipefail

. "$(dirname "$0")/lib/tmux_pane.sh" keys

row() { pane | sed -n "$1p"; }
keys() { tmux -L "$SOCKET" send-keys -t job "$@"; sleep 0.15; }
cursor() { tmux -L "$SOCKET" display -p -t job '#{cursor_x},#{cursor_y}'; }

make_root() {  # language
  rm -rf "$WORK/root"
  LANGUAGE_CODE=$1 BUILD_DIR=$BIN TODAY=20261207 "$SRC/scripts/make-root" "$WORK/root" > "$WORK/env"
}

# 1. Catalan.
make_root CAT
start_job
wait_for "REVISIÓ DE RENDES"
[ "$(row 25)" = " F1 Ajuda  F4 Llista  Alt-X Calculadora  Alt-C Calendari  Ctrl-B Acaba  Esc Surt" ] ||
  fail "key line: '$(row 25)'"
# PgDn: the last field (the letter text, row 18); PgUp: the first again.
keys PageDown
[ "$(cursor)" = "31,17" ] || fail "PgDn did not reach the last field: $(cursor)"
keys PageUp
keys PageDown
keys Up
[ "$(cursor)" = "31,16" ] || fail "not on the letters' date: $(cursor)"
# Ctrl-B on any field finishes the form: the checks pass, the confirmation
# comes; Esc there sends the operator back to the form.
keys C-b
wait_for "Confirmeu la revisió"
keys Escape
wait_gone "Confirmeu la revisió"
[ "$(row 25)" = " F1 Ajuda  F4 Llista  Alt-X Calculadora  Alt-C Calendari  Ctrl-B Acaba  Esc Surt" ] ||
  fail "key line after the confirmation: '$(row 25)'"
# Inside the application date Ctrl-End goes to the end of the text; End
# there finishes the form like Ctrl-B.
keys PageUp
keys Down
date_text=$(row 5 | sed "s/^[^:]*: //; s/ .*$//")
[ -n "$date_text" ] || fail "no application date on row 5: '$(row 5)'"
[ "$(cursor)" = "31,4" ] || fail "not at the start of the application date: $(cursor)"
keys C-End
[ "$(cursor)" = "$((31 + ${#date_text})),4" ] || fail "Ctrl-End did not reach the end of '$date_text': $(cursor)"
keys End
wait_for "Confirmeu la revisió"
keys Escape
wait_gone "Confirmeu la revisió"
keys Escape
keys Escape
wait_for "EXIT=0"

# 2. Spanish: the key line and the help in the session's language.
make_root SPA
start_job
wait_for "F1 Ayuda"
[ "$(row 25)" = " F1 Ayuda  F4 Lista  Alt-X Calculadora  Alt-C Calendario  Ctrl-B Fin  Esc Sale" ] ||
  fail "Spanish key line: '$(row 25)'"
keys F1
wait_for "Campos del formulario"
pane | grep -q "Ctrl+B" || fail "the help does not name Ctrl+B"
pane | grep -q "F2" && fail "the help still promises F2"
keys Escape
wait_gone "Campos del formulario"
keys Escape
wait_for "EXIT=0"
echo "form keys: ok"
