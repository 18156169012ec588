#!/usr/bin/env bash
# run-fuzzer.sh FUZZER SEED_DIR RUNS: a fixed number of runs from the seeds, in a scratch folder.
set -euo pipefail
fuzzer=$1 seeds=$2 runs=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
"$fuzzer" -runs="$runs" -seed=1 -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "$scratch" "$seeds"
