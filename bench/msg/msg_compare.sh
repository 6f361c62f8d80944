#!/bin/bash
# Runs the message benchmarks and, on the same bytes, cat and base64 -d for
# comparison.  Usage: bench/msg/msg_compare.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
bin="$build/bench/msg/bench_msg"
dir=$(mktemp -d /tmp/bench_msg_cmp.XXXXXX)
trap 'rm -rf "$dir"' EXIT
"$bin" --write-sample "$dir" >/dev/null
msg_bytes=$(stat -c %s "$dir/message.eml")
b64_bytes=$(stat -c %s "$dir/body.b64")
cat "$dir/message.eml" "$dir/body.b64" >/dev/null # warm the page cache

rate() { # bytes seconds -> MB/s
  awk -v b="$1" -v s="$2" 'BEGIN { printf "%.0f", b / s / 1e6 }'
}
best() { # command... -> best wall time of five runs, seconds
  local best=999999 t
  for _ in 1 2 3 4 5; do
    local s e
    s=$(date +%s.%N)
    "$@" >/dev/null || { echo "failed: $*" >&2; exit 1; }
    e=$(date +%s.%N)
    t=$(awk -v a="$s" -v b="$e" 'BEGIN { print b - a }')
    best=$(awk -v a="$best" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
  done
  echo "$best"
}
t_cat=$(best cat "$dir/message.eml")
t_b64=$(best base64 -d "$dir/body.b64")
echo "cat message.eml ($msg_bytes bytes): $(rate "$msg_bytes" "$t_cat") MB/s"
echo "base64 -d body.b64 ($b64_bytes bytes): $(rate "$b64_bytes" "$t_b64") MB/s"
"$bin" --benchmark_min_time=1
