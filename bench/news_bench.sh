#!/usr/bin/env bash
# News into a packet: mailtolvan --headless /a fetching every article of one
# big group (GROUP, ARTICLE and conversion of each, then the packet saved)
# beside suck fetching the same group from the same private INN on loopback.
#
#   bench/news_bench.sh [--bin DIR] [--runs N] [--articles N] [--workdir DIR]
#
# Seeds N articles (default 2000) into local.test.big, runs both RUNS times
# (alternating; default 5), checks that our packet holds every article and
# that suck stored as many, and prints the medians, their ratio and the peak
# memory (maximum resident set, /usr/bin/time -v) of each.  Our time is the
# whole run: connecting, fetching, converting and saving the packet.  Run as
# root (INN runs as user news); installs INN and suck when they are missing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
# shellcheck source=bench/bench-lib.sh
. "$here/bench-lib.sh"
bin=$root/build/app
runs=5
articles=2000
workdir=/dev/shm
[ -d "$workdir" ] && [ -w "$workdir" ] || workdir=/tmp
while [ $# -gt 0 ]; do
    case "$1" in
        --bin) bin=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --articles) articles=$2; shift 2 ;;
        --workdir) workdir=$2; shift 2 ;;
        -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
        *) echo "news_bench: unknown option $1" >&2; exit 2 ;;
    esac
done
[ -x "$bin/mailtolvan" ] && [ -x "$bin/mailtolvan-tool" ] ||
    { echo "news_bench: no programs in $bin (build first, or pass --bin)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "news_bench: run as root" >&2; exit 1; }
start_news_peer news "$articles" "$workdir"
echo "group $group: $articles articles, INN on $PEERS_HOST:$NNTP_PORT; output in $workdir"

peak_kb() { awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }' "$1"; }

run_ours() {
    local h=$work/home
    rm -rf "$h" && mkdir "$h"
    local t
    for setting in "Servers NNTPServer $PEERS_HOST" "Servers NNTPPort $NNTP_PORT" \
        "Servers POP3Server ''" "Autorun AutoNews 1" "Groups Retrieve 0" "Directories Qwk $h" \
        "Mailtolvan DisableSplash 1"; do
        eval "MAILTOLVAN_HOME=$h \"$bin/mailtolvan-tool\" config $setting" >/dev/null
    done
    printf '%s,3,0,0,,\r\n' "$group" > "$h/TOLVAN.NWS"
    local t0 t1
    t0=$(now)
    MAILTOLVAN_HOME=$h /usr/bin/time -v -o "$work/ours.mem" "$bin/mailtolvan" --headless /a \
        > "$work/ours.log" 2>&1 || {
        echo "news_bench: mailtolvan failed:" >&2; tail -5 "$work/ours.log" >&2; exit 1; }
    t1=$(now)
    local n
    n=$(unzip -p -C "$h/Tolvan.Qwk" MESSAGES.DAT | /usr/bin/python3 -c '
import sys
m = sys.stdin.buffer.read()
at, n = 128, 0
while at + 128 <= len(m):
    n += 1
    at += max(int(m[at + 116:at + 122].strip() or 1), 1) * 128
print(n)')
    [ "$n" -ge "$articles" ] || { echo "news_bench: the packet holds $n messages" >&2; exit 1; }
    peak_kb "$work/ours.mem" >> "$work/ours.kb"
    secs "$t0" "$t1"
}

run_suck() {
    local k=$work/suck
    rm -rf "$k" && mkdir -p "$k/data" "$k/tmp" "$k/msgs"
    echo "$group 0" > "$k/data/sucknewsrc"
    local t0 t1
    t0=$(now)
    (cd "$k" && /usr/bin/time -v -o "$work/suck.mem" suck "$PEERS_HOST" -N "$NNTP_PORT" -M -H \
        -m -c -q -dd "$k/data" -dt "$k/tmp" -dm "$k/msgs") > "$k/log" 2>&1 || {
        echo "news_bench: suck failed:" >&2; tail -5 "$k/log" >&2; exit 1; }
    t1=$(now)
    local n
    n=$(find "$k/msgs" -type f | wc -l)
    [ "$n" -eq "$articles" ] || { echo "news_bench: suck stored $n articles" >&2; exit 1; }
    peak_kb "$work/suck.mem" >> "$work/suck.kb"
    secs "$t0" "$t1"
}

: > "$work/ours.kb"; : > "$work/suck.kb"
compare_runs "$runs" mailtolvan run_suck suck
echo "peak memory (median): mailtolvan $(median < "$work/ours.kb") kB, suck $(median < "$work/suck.kb") kB"
