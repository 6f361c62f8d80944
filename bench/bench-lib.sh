# Shared by the benchmark scripts (sourced, not run).

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
