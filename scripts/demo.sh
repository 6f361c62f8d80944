#!/usr/bin/env bash
# Runs the program headless in a fresh home directory and shows what
# start-up made there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/app"
home=$(mktemp -d /tmp/mailtolvan-demo-XXXXXX)
export MAILTOLVAN_HOME="$home"

echo "== mailtolvan --paths"
"$bin/mailtolvan" --paths
echo
echo "== mailtolvan --headless (home: $home)"
"$bin/mailtolvan" --headless
echo
echo "== what start-up left in $home"
ls -la "$home"
echo
echo "== TOLVAN.INI"
cat "$home/TOLVAN.INI"
