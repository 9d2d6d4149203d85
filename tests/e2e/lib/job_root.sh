# Shared by the end-to-end tests that run the job without a terminal on a
# root made by scripts/make-root.  Source it after `set -euo pipefail`:
#
#   . "$(dirname "$0")/lib/job_root.sh"
#
# It sets SRC, BIN and WORK (a temporary directory removed at the end), makes
# WORK/root dated 07/12/2026, sources its environment (WORK/env) without the
# variables that would tell the job it runs elsewhere, and gives:
#   fail MESSAGE   the message, then exit 1

SRC=${KESTROVA_SOURCE_DIR:?}
BIN=${KESTROVA_BINARY_DIR:?}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

BUILD_DIR=$BIN TODAY=20261207 "$SRC/scripts/make-root" "$WORK/root" > "$WORK/env" 2> "$WORK/make.err" ||
  fail "make-root: $(cat "$WORK/make.err")"
# shellcheck disable=SC1091
source "$WORK/env"
unset HTTP_USER_AGENT HTTP_ACCEPT WINDIR SYSTEMROOT
