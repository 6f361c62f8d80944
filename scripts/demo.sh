#!/usr/bin/env bash
# The program's main job on a default that needs nothing from the user:
# a private POP3 server on loopback with a seeded mailbox, a fresh home
# directory whose settings point at it, and `mailtolvan --headless /a`
# turning the mailbox into a QWK packet.  Then it shows what is in the packet.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/app"
peers="$root/tests/peers/peers.py"
work=$(mktemp -d /tmp/mtdemo-XXXXXX)
chmod 755 "$work"   # the servers run as their own users and must reach their tree
srv="$work/srv"
home="$work/home"
mkdir -p "$home"

cleanup() { [ -n "${KEEP:-}" ] && return; /usr/bin/python3 "$peers" stop --wipe --dir "$srv" >/dev/null 2>&1 || true; }
trap cleanup EXIT

echo "== starting a private POP3 server on loopback (dovecot) with 12 messages"
/usr/bin/python3 "$peers" start --install --dir "$srv" --port-base auto --only pop3 --messages 12
# shellcheck disable=SC1091
. "$srv/state.env"

export MAILTOLVAN_HOME="$home"
tool="$bin/mailtolvan-tool"
echo
echo "== settings in $home/TOLVAN.INI (written with mailtolvan-tool)"
"$tool" config Servers POP3Server "$PEERS_HOST"
"$tool" config Servers POP3Port "$POP3_PORT"
"$tool" config Servers POP3Name "$POP3_USER"
printf '%s\n' "$POP3_PASS" | "$tool" password pop3
"$tool" config Servers NNTPServer ""       # no news server: mail only
"$tool" config Autorun AutoEmail 1
"$tool" config Email ClearMailbox 0       # leave the demo mailbox as it is
"$tool" config Directories Qwk "$home/packets"
mkdir -p "$home/packets"
"$tool" config --list | grep -E '^(Servers|Autorun|Email|Directories) ' | grep -v -E 'NNTP|SMTP' | sed 's/^/  /'

echo
echo "== mailtolvan --headless /a"
set +e
"$bin/mailtolvan" --headless /a
status=$?
set -e
echo "(exit status $status)"

qwk=$(ls "$home/packets"/*.Qw* 2>/dev/null | head -n 1 || true)
if [ -z "$qwk" ]; then
  echo "no packet was made" >&2
  exit 1
fi
echo
echo "== the packet: $qwk"
unzip -l "$qwk"
/usr/bin/python3 "$root/scripts/qwk-summary.py" "$qwk"
exit "$status"
