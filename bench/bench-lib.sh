# Shared by the benchmark scripts (sourced, not run).

# Wall-clock seconds now, and the seconds from $1 to $2 as "%.3f".
now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# The median of the numbers on standard input, one a line.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Writes a fetchmail run-control file for the private POP3 server of
# state.env into DIR (fetching everything, keeping it on the server).
write_fetchmailrc() {
    local dir=$1
    # With POP3_TLS_CA set: implicit TLS on POP3S_PORT, checked against that CA.
    local port=$POP3_PORT tls="sslproto ''"
    if [ -n "${POP3_TLS_CA:-}" ]; then
        port=$POP3S_PORT
        tls="ssl sslcertck sslcertfile \"$POP3_TLS_CA\" sslcommonname localhost"
    fi
    printf 'poll %s service %s protocol POP3 auth password timeout 60\n  user "%s" there with password "%s" is "root" here\n  keep fetchall %s\n' \
        "$PEERS_HOST" "$port" "$POP3_USER" "$POP3_PASS" "$tls" > "$dir/fetchmailrc"
    chmod 600 "$dir/fetchmailrc"
}

# Starts a private INN on loopback holding ARTICLES articles in
# local.test.big (state under /tmp/mtbench-NAME) and makes a work directory
# under WORKDIR; both go at exit.  Installs INN and suck when missing.
# Sets dir, work and group, and the variables of state.env.  Needs root.
start_news_peer() { # NAME ARTICLES WORKDIR
    bash "$root/tests/peers/install.sh"
    if ! command -v suck >/dev/null; then
        DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=900 \
            install --no-install-recommends suck >&2
    fi
    dir=/tmp/mtbench-$1
    work=$(mktemp -d "$3/mtbench-$1.XXXXXX")
    trap stop_news_peer EXIT
    /usr/bin/python3 "$root/tests/peers/peers.py" start --dir "$dir" --only nntp \
        --articles "$2" >/dev/null
    # shellcheck disable=SC1091
    . "$dir/state.env"
    group=local.test.big
}
stop_news_peer() {
    /usr/bin/python3 "$root/tests/peers/peers.py" stop --dir "$dir" --wipe >/dev/null 2>&1 || true
    rm -rf "$work"
}

# Runs run_ours and THEIRS (a function printing seconds) in turn, RUNS
# times, the first of each pair alternating; prints each run, the medians
# and their ratio.  The times are kept in $work/ours.times and
# $work/theirs.times.
compare_runs() { # RUNS OURS-LABEL THEIRS THEIRS-LABEL
    local i a b mo mt
    : > "$work/ours.times"; : > "$work/theirs.times"
    for i in $(seq 1 "$1"); do
        if [ $((i % 2)) -eq 1 ]; then
            a=$(run_ours); b=$("$3")
        else
            b=$("$3"); a=$(run_ours)
        fi
        echo "$a" >> "$work/ours.times"; echo "$b" >> "$work/theirs.times"
        echo "run $i: $2 $a s, $4 $b s"
    done
    mo=$(median < "$work/ours.times")
    mt=$(median < "$work/theirs.times")
    echo "median over $1 runs: $2 $mo s, $4 $mt s"
    awk -v a="$mo" -v b="$mt" -v x="$2" -v y="$4" \
        'BEGIN { printf "ratio %s / %s: %.2f (below 1: faster)\n", x, y, a / b }'
}
