#!/usr/bin/env bash
# POP3 retrieval throughput: mailtolvan-tool pop3 against fetchmail writing a
# BSMTP file, on the same mailbox of a private dovecot on loopback.
#
#   bench/pop3_bench.sh [--tool PATH] [--runs N] [--messages N] [--size BYTES]
#                       [--workdir DIR] [--tls]
#
# Seeds N messages of about SIZE bytes (default 1000 of 5000), runs both
# clients RUNS times each (alternating, nothing deleted), checks that our
# client stored every message with the right size, and prints the medians
# and their ratio.  With --tls both clients use implicit TLS (POP3S) with the
# server's certificate checked against a private CA the servers' script makes.  Output goes below --workdir (default /dev/shm, a tmpfs,
# so the figures are the clients' and not the file system's: on ext4 the
# creation of a thousand files right after a thousand were deleted costs
# more than the whole POP3 session).  Run as root (the servers change users); installs
# dovecot and fetchmail when they are missing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
# shellcheck source=bench/bench-lib.sh
. "$here/bench-lib.sh"
tool=$root/build/app/mailtolvan-tool
runs=5
messages=1000
size=5000
workdir=/dev/shm
tls=0
[ -d "$workdir" ] && [ -w "$workdir" ] || workdir=/tmp
while [ $# -gt 0 ]; do
    case "$1" in
        --tool) tool=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --messages) messages=$2; shift 2 ;;
        --size) size=$2; shift 2 ;;
        --workdir) workdir=$2; shift 2 ;;
        --tls) tls=1; shift ;;
        -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
        *) echo "pop3_bench: unknown option $1" >&2; exit 2 ;;
    esac
done
[ -x "$tool" ] || { echo "pop3_bench: no $tool (build first, or pass --tool)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "pop3_bench: run as root" >&2; exit 1; }
bash "$root/tests/peers/install.sh" --bench

dir=/tmp/mtbench-pop3
work=$(mktemp -d "$workdir/mtbench-work.XXXXXX")
cleanup() {
    /usr/bin/python3 "$root/tests/peers/peers.py" stop --dir "$dir" --wipe >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

tlsarg=()
[ "$tls" = 1 ] && tlsarg=(--tls)
/usr/bin/python3 "$root/tests/peers/peers.py" start --dir "$dir" --only pop3 \
    --messages "$messages" --pad "$size" "${tlsarg[@]}" >/dev/null
# shellcheck disable=SC1091
. "$dir/state.env"
port=$POP3_PORT security=none
if [ "$tls" = 1 ]; then
    export POP3_TLS_CA=$TLS_CA SSL_CERT_FILE=$TLS_CA
    port=$POP3S_PORT security=tls
fi
total_bytes=$(/usr/bin/python3 -c '
import json, sys
print(sum(json.loads(l)["crlf_size"] for l in open(sys.argv[1])))' "$POP3_MANIFEST")
echo "mailbox: $messages messages, $total_bytes bytes (CR LF), dovecot on $PEERS_HOST:$port ($security); output in $workdir"


run_ours() {
    local out=$work/ours
    rm -rf "$out" && mkdir "$out"
    local t0 t1
    t0=$(now)
    POP3_BENCH_PW=$POP3_PASS "$tool" pop3 --host "$PEERS_HOST" --port "$port" \
        --security "$security" --user "$POP3_USER" --password-env POP3_BENCH_PW --dir "$out" \
        > "$work/ours.log"
    t1=$(now)
    local n bytes
    n=$(find "$out" -type f | wc -l)
    bytes=$(find "$out" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
    if [ "$n" -ne "$messages" ] || [ "$bytes" -ne "$total_bytes" ]; then
        echo "pop3_bench: mailtolvan-tool stored $n files, $bytes bytes" >&2
        exit 1
    fi
    secs "$t0" "$t1"
}

run_fetchmail() {
    local f=$work/fetchmail
    rm -rf "$f" && mkdir "$f"
    write_fetchmailrc "$f"
    local t0 t1
    t0=$(now)
    FETCHMAILHOME=$f fetchmail -f "$f/fetchmailrc" --pidfile "$f/pid" --nodetach -s \
        --bsmtp "$f/all.bsmtp" > "$f/log" 2>&1 || {
        echo "pop3_bench: fetchmail failed:" >&2; cat "$f/log" >&2; exit 1; }
    t1=$(now)
    local n
    n=$(grep -c '^MAIL FROM:' "$f/all.bsmtp" || true)
    [ "$n" -eq "$messages" ] || { echo "pop3_bench: fetchmail wrote $n messages" >&2; exit 1; }
    secs "$t0" "$t1"
}

compare_runs "$runs" mailtolvan-tool run_fetchmail fetchmail
