#!/bin/sh
# Expansion of a 100,000-entry tree next to `find DIR | wc -l` on the same tree, in one run of
# items_bench, and the ratio of their median wall-clock times (goal: at most 1.5); also the
# ratio to `find DIR -printf '%s\n'`, which reads every entry's size as expansion must.
# NULVANE_ITEMS_BENCH_TREE=<folder> builds the tree there once and keeps it for later runs.
# Usage: bench/expand_vs_find.sh <release build folder>/bench/items_bench [repetitions]
set -eu
bench=${1:?"usage: $0 path/to/items_bench [repetitions]"}
repetitions=${2:-5}
"$bench" --benchmark_filter='BM_ExpandTree|BM_Find' \
  --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
  --benchmark_format=csv 2>/dev/null |
  awk -F, '
    /_median"/ {
      name = $1; gsub(/"/, "", name); sub(/\/real_time_median$/, "", name)
      time[name] = $3; unit = $5
      printf "%-28s %10.1f %s (median)\n", name, $3, unit
    }
    END {
      if (time["BM_ExpandTree"] == "" || time["BM_FindWcOnTheSameTree"] == "") {
        print "missing results"; exit 1
      }
      printf "expansion / find:              %.2f (goal <= 1.50)\n",
        time["BM_ExpandTree"] / time["BM_FindWcOnTheSameTree"]
      if (time["BM_FindSizesOnTheSameTree"] != "")
        printf "expansion / find with sizes:   %.2f\n",
          time["BM_ExpandTree"] / time["BM_FindSizesOnTheSameTree"]
    }'
