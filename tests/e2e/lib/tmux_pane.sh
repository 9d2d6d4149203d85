# Shared by the end-to-end tests that drive the real job in an 80 x 25 tmux
# pane.  Source it after `set -euo pipefail`, with the test's name:
#
#   . "$(dirname "$0")/lib/tmux_pane.sh" report
#
# It skips the test (exit 0) when tmux is missing, sets SRC, BIN and WORK (a
# temporary directory removed at the end), and gives:
#   start_job [COMMAND]   the job (or COMMAND) in a fresh tmux server, pane "job",
#                         run from WORK after sourcing WORK/env
#   pane                  the pane's text
#   wait_for PATTERN      waits (at most WAIT_TENTHS / 10 s) until the pane shows it
#   wait_gone PATTERN     waits until the pane no longer shows it
#   dismiss PATTERN [KEY] closes a message that waits for a key (Space)
#   fail MESSAGE          the message and the pane, then exit 1

if ! command -v tmux > /dev/null; then
  echo "tmux is not installed: $1 end-to-end test skipped"
  exit 0
fi

SRC=${KESTROVA_SOURCE_DIR:?}
BIN=${KESTROVA_BINARY_DIR:?}
WORK=$(mktemp -d)
WAIT_TENTHS=${WAIT_TENTHS:-150}
PANE_PREFIX="kestrova-$1-$$"
PANE_RUNS=0
SOCKET="$PANE_PREFIX-0"

pane_cleanup() {
  for n in $(seq 0 "$PANE_RUNS"); do tmux -L "$PANE_PREFIX-$n" kill-server 2> /dev/null || true; done
  rm -rf "$WORK"
}
trap pane_cleanup EXIT

pane() { tmux -L "$SOCKET" capture-pane -p -t job; }

fail() {
  echo "FAIL: $*" >&2
  echo "--- pane:" >&2
  pane >&2 2> /dev/null || true
  exit 1
}

wait_for() {
  for _ in $(seq "$WAIT_TENTHS"); do
    if pane | grep -q -- "$1"; then return 0; fi
    sleep 0.1
  done
  fail "waited for: $1"
}

wait_gone() {
  for _ in $(seq "$WAIT_TENTHS"); do
    if ! pane | grep -q -- "$1"; then return 0; fi
    sleep 0.1
  done
  fail "still shown: $1"
}

# A message that waits for a key drops what was typed before it was up (the
# job flushes type-ahead once the message shows, so that a key meant for the
# form cannot close it unread), and a key sent the moment the pane shows the
# message can land before that flush.  The key goes after a short pause,
# and again if the message stays.
dismiss() {
  local key=${2:-Space}
  for _ in 1 2 3 4 5; do
    sleep 0.3
    tmux -L "$SOCKET" send-keys -t job "$key"
    for _ in $(seq 30); do
      if ! pane | grep -q -- "$1"; then return 0; fi
      sleep 0.1
    done
  done
  fail "still shown: $1"
}

# A server of its own for each run: one still shutting down cannot get in
# the way of the next.
start_job() {
  local command=${1:-"'$BIN/kestrova'"}
  tmux -L "$SOCKET" kill-server 2> /dev/null || true
  PANE_RUNS=$((PANE_RUNS + 1))
  SOCKET="$PANE_PREFIX-$PANE_RUNS"
  tmux -L "$SOCKET" -f /dev/null new-session -d -x 80 -y 25 -s job \
    "cd '$WORK' && . ./env && $command; echo EXIT=\$?; exec sleep 60"
}
