#!/usr/bin/env bash
# News retrieval throughput: mailtolvan-tool nntp fetching the articles of one
# group one by one (GROUP, then ARTICLE n lock-step), beside suck fetching the
# same group, both from a private INN on loopback.
#
#   bench/nntp_bench.sh [--tool PATH] [--runs N] [--articles N] [--workdir DIR]
#
# Seeds N articles (default 2000) into local.test.big, runs both clients RUNS
# times each (alternating; default 5), checks that our client stored every
# article byte for byte as the server's spool holds it (CR LF line ends) and
# that suck stored as many, and prints the medians and their ratio.  Output
# goes below --workdir (default /dev/shm, a tmpfs, so the figures are the
# clients' and not the file system's).  Run as root (INN runs as user news);
# installs INN and suck when they are missing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
# shellcheck source=bench/bench-lib.sh
. "$here/bench-lib.sh"
tool=$root/build/app/mailtolvan-tool
runs=5
articles=2000
workdir=/dev/shm
[ -d "$workdir" ] && [ -w "$workdir" ] || workdir=/tmp
while [ $# -gt 0 ]; do
    case "$1" in
        --tool) tool=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --articles) articles=$2; shift 2 ;;
        --workdir) workdir=$2; shift 2 ;;
        -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
        *) echo "nntp_bench: unknown option $1" >&2; exit 2 ;;
    esac
done
[ -x "$tool" ] || { echo "nntp_bench: no $tool (build first, or pass --tool)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "nntp_bench: run as root" >&2; exit 1; }
start_news_peer nntp "$articles" "$workdir"
spool=$PEERS_DIR/nntp/spool/articles/local/test/big
# What the server holds, as the client stores it: the spool has the wire
# form (CR LF, dots doubled, a final dot line).
want_bytes=$(/usr/bin/python3 -c '
import os, sys
total = 0
for name in os.listdir(sys.argv[1]):
    lines = open(os.path.join(sys.argv[1], name), "rb").read().split(b"\r\n")[:-2]
    total += sum(len(l) - l.startswith(b".") + 2 for l in lines)
print(total)' "$spool")
echo "group $group: $articles articles, $want_bytes bytes (CR LF), INN on $PEERS_HOST:$NNTP_PORT; output in $workdir"


run_ours() {
    local out=$work/ours
    rm -rf "$out" && mkdir "$out"
    local t0 t1
    t0=$(now)
    "$tool" nntp --host "$PEERS_HOST" --port "$NNTP_PORT" articles "$group" "1-$articles" \
        --dir "$out" > "$work/ours.log" || {
        echo "nntp_bench: mailtolvan-tool failed:" >&2; tail -5 "$work/ours.log" >&2; exit 1; }
    t1=$(now)
    local n bytes
    n=$(find "$out" -type f | wc -l)
    bytes=$(find "$out" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
    if [ "$n" -ne "$articles" ] || [ "$bytes" -ne "$want_bytes" ]; then
        echo "nntp_bench: mailtolvan-tool stored $n files, $bytes bytes" >&2
        exit 1
    fi
    secs "$t0" "$t1"
}

run_suck() {
    local k=$work/suck
    rm -rf "$k" && mkdir -p "$k/data" "$k/tmp" "$k/msgs"
    echo "$group 0" > "$k/data/sucknewsrc"
    local t0 t1
    t0=$(now)
    (cd "$k" && suck "$PEERS_HOST" -N "$NNTP_PORT" -M -H -m -c -q \
        -dd "$k/data" -dt "$k/tmp" -dm "$k/msgs") > "$k/log" 2>&1 || {
        echo "nntp_bench: suck failed:" >&2; tail -5 "$k/log" >&2; exit 1; }
    t1=$(now)
    local n
    n=$(find "$k/msgs" -type f | wc -l)
    [ "$n" -eq "$articles" ] || { echo "nntp_bench: suck stored $n articles" >&2; exit 1; }
    secs "$t0" "$t1"
}

compare_runs "$runs" mailtolvan-tool run_suck suck
