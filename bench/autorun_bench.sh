#!/usr/bin/env bash
# The whole cycle as cron runs it: `mailtolvan --headless /a` from a private
# dovecot on loopback to a saved QWK file, beside fetchmail retrieving the
# same mailbox (BSMTP file) and `zip -q` of the same packet files.
#
#   bench/autorun_bench.sh [--runs N] [--messages N] [--size BYTES] [--workdir DIR]
#
# Defaults: 3 runs, 1000 messages padded to about 100 KB (about 100 MB; the
# seeded kinds include base64, uuencoded and quoted-printable parts).
# Nothing is deleted on the server (ClearMailbox 0), so every run sees the
# same mailbox.  Prints wall time and peak memory (max RSS) per run and the
# medians.  Run as root (the servers change users).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
# shellcheck source=bench/bench-lib.sh
. "$here/bench-lib.sh"
bin=$root/build/app
runs=3
messages=1000
size=100000
workdir=/dev/shm
[ -d "$workdir" ] && [ -w "$workdir" ] || workdir=/tmp
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --messages) messages=$2; shift 2 ;;
        --size) size=$2; shift 2 ;;
        --workdir) workdir=$2; shift 2 ;;
        -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
        *) echo "autorun_bench: unknown option $1" >&2; exit 2 ;;
    esac
done
[ -x "$bin/mailtolvan" ] || { echo "autorun_bench: build first (make build)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "autorun_bench: run as root" >&2; exit 1; }
bash "$root/tests/peers/install.sh" --bench

dir=/tmp/mtbench-auto
work=$(mktemp -d "$workdir/mtbench-auto.XXXXXX")
chmod 755 "$work"
cleanup() {
    /usr/bin/python3 "$root/tests/peers/peers.py" stop --dir "$dir" --wipe >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

/usr/bin/python3 "$root/tests/peers/peers.py" start --dir "$dir" --only pop3 \
    --messages "$messages" --pad "$size" >/dev/null
# shellcheck disable=SC1091
. "$dir/state.env"
total_bytes=$(/usr/bin/python3 -c '
import json, sys
print(sum(json.loads(l)["crlf_size"] for l in open(sys.argv[1])))' "$POP3_MANIFEST")
echo "mailbox: $messages messages, $total_bytes bytes; work files in $workdir"


home=$work/home
mkdir -p "$home/packets"
export MAILTOLVAN_HOME=$home
t="$bin/mailtolvan-tool"
"$t" config Servers POP3Server "$PEERS_HOST" >/dev/null
"$t" config Servers POP3Port "$POP3_PORT" >/dev/null
"$t" config Servers POP3Name "$POP3_USER" >/dev/null
printf '%s\n' "$POP3_PASS" | "$t" password pop3
"$t" config Servers NNTPServer "" >/dev/null
"$t" config Autorun AutoEmail 1 >/dev/null
"$t" config Email ClearMailbox 0 >/dev/null
"$t" config Directories Qwk "$home/packets" >/dev/null

run_ours() {
    rm -f "$home/packets/"*
    /usr/bin/time -f "%e %M" -o "$work/time" "$bin/mailtolvan" --headless /a 2> "$work/ours.log" || {
        echo "autorun_bench: mailtolvan failed:" >&2; tail -5 "$work/ours.log" >&2; exit 1; }
    local n
    n=$(/usr/bin/python3 "$root/scripts/qwk-summary.py" "$home/packets/Tolvan.Qwk" | sed -n 's/^messages: //p')
    [ "$n" -ge "$messages" ] || { echo "autorun_bench: packet holds $n messages" >&2; exit 1; }
    cat "$work/time"
}

run_fetchmail() {
    local f=$work/fetchmail
    rm -rf "$f" && mkdir "$f"
    write_fetchmailrc "$f"
    FETCHMAILHOME=$f /usr/bin/time -f "%e %M" -o "$work/time" fetchmail -f "$f/fetchmailrc" \
        --pidfile "$f/pid" --nodetach -s --bsmtp "$f/all.bsmtp" > "$f/log" 2>&1 || true
    cat "$work/time"
}

run_zip() {
    local z=$work/zip
    rm -rf "$z" && mkdir -p "$z/files"
    (cd "$z/files" && unzip -q "$home/packets/Tolvan.Qwk")
    /usr/bin/time -f "%e %M" -o "$work/time" zip -q -j "$z/packet.zip" "$z/files"/*
    cat "$work/time"
}

: > "$work/ours"; : > "$work/fm"; : > "$work/zip.t"
for i in $(seq 1 "$runs"); do
    a=$(run_ours); b=$(run_fetchmail); c=$(run_zip)
    echo "run $i: mailtolvan --headless /a ${a% *} s ${a#* } KB | fetchmail ${b% *} s ${b#* } KB | zip -q ${c% *} s"
    echo "$a" >> "$work/ours"; echo "$b" >> "$work/fm"; echo "$c" >> "$work/zip.t"
done
qwk_bytes=$(stat -c %s "$home/packets/Tolvan.Qwk")
echo "QWK file: $qwk_bytes bytes"
echo "median wall: mailtolvan $(cut -d' ' -f1 "$work/ours" | median) s," \
     "fetchmail $(cut -d' ' -f1 "$work/fm" | median) s, zip -q $(cut -d' ' -f1 "$work/zip.t" | median) s"
echo "median peak RSS: mailtolvan $(cut -d' ' -f2 "$work/ours" | median) KB," \
     "fetchmail $(cut -d' ' -f2 "$work/fm" | median) KB"
