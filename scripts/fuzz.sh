#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/ for a while each and reports their execution counts.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     (default 60 s each, every target)
# Builds build-fuzz/ with clang (ASan + UBSan + libFuzzer). Each target starts from its corpus
# in fuzz/NAME/corpus and grows a scratch copy of it in build-fuzz/corpus/NAME (libFuzzer
# rewrites the folders it is given, so the committed corpus is only copied); an input that
# crashes is kept in fuzz/NAME/crashers (the normal test run replays that folder) and the run
# fails. Counts go to build-fuzz/fuzz-runs.log, one line per run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for d in fuzz/*/; do
        [ -f "$d/CMakeLists.txt" ] && targets+=("$(basename "$d")")
    done
fi

cmake -S . -B build-fuzz -G Ninja -DSTATION_FUZZ=ON -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DSTATION_BENCH=OFF >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]/#/fuzz_}"

status=0
for t in "${targets[@]}"; do
    corpus=build-fuzz/corpus/$t
    crashers=fuzz/$t/crashers
    mkdir -p "$corpus" "$crashers"
    cp -n fuzz/"$t"/corpus/* "$corpus"/ 2>/dev/null || true
    log=build-fuzz/fuzz-$t.log
    rc=0
    (cd build-fuzz && ./fuzz/fuzz_"$t" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -timeout=20 -print_final_stats=1 -artifact_prefix="../$crashers/" \
        "corpus/$t") >"$log" 2>&1 || rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "$(date -u +%FT%TZ) $t ${seconds}s runs=${runs:-?} exit=$rc" | tee -a build-fuzz/fuzz-runs.log
    if [ $rc -ne 0 ]; then
        tail -40 "$log"
        status=1
    fi
done
exit $status
