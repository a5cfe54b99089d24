#!/usr/bin/env bash
# Builds the station with sanitizers and runs the tests there:
#   build-asan/  AddressSanitizer + UndefinedBehaviorSanitizer, the whole test suite;
#   build-tsan/  ThreadSanitizer, the capture, scanner-simulator, ScanMan, station-flow and
#                fault-scenario tests.
# Exits non-zero when a test fails or a sanitizer reports anything, in a test or in a
# program a test starts (reports go to files under each build folder's sanitizer-logs/).
# Usage: scripts/sanitize.sh [asan|tsan]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=("$@")
[ ${#jobs[@]} -eq 0 ] && jobs=(asan tsan)

status=0

# Several checkouts on one machine share compiled objects when ccache is installed.
LAUNCHER=()
if command -v ccache >/dev/null; then
    LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Prints the reports left in DIR and fails when there are any.
check_logs() {
    local dir=$1
    if compgen -G "$dir/*" >/dev/null; then
        echo "== sanitizer reports in $dir:"
        for f in "$dir"/*; do
            echo "---- $f"
            cat "$f"
        done
        return 1
    fi
}

run_asan() {
    local dir=build-asan logs
    logs=$root/$dir/sanitizer-logs
    echo "== asan+ubsan: configuring and building ($dir)"
    # -O1 with line tables only: a third less build time than -O2 -g, still readable stacks.
    cmake -S . -B "$dir" -G Ninja "${LAUNCHER[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTATION_TESTS=ON \
        -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
        -DSTATION_BENCH=OFF -DSTATION_SANITIZE=address,undefined >/dev/null
    cmake --build "$dir" -j2
    rm -rf "$logs" && mkdir -p "$logs"
    echo "== asan+ubsan: testing"
    local rc=0
    (cd "$dir" &&
        ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:log_path=$logs/asan" \
        UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$logs/ubsan" \
        LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" \
        ctest --output-on-failure -j2) || rc=1
    check_logs "$logs" || rc=1
    return $rc
}

run_tsan() {
    local dir=build-tsan logs
    logs=$root/$dir/sanitizer-logs
    echo "== tsan: configuring and building ($dir)"
    cmake -S . -B "$dir" -G Ninja "${LAUNCHER[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTATION_TESTS=ON \
        -DSTATION_BENCH=OFF -DSTATION_SANITIZE=thread >/dev/null
    # Only what the labelled tests run (their programs come in through their dependencies).
    cmake --build "$dir" -j2 --target capture_sequences_test beeper_test capture_window_test \
        test_fingerscan test_fingerscan_module test_fingerscan_fprint station_flows_test \
        duplicate_check_test scannersim_test scannersim_inprocess_test ibscan_api_test \
        ibscan_preview_test ibscan_env_test \
        yemario_test faults_station_test faults_nfiq_test faults_yemario_test \
        faults_set_integrity_test
    rm -rf "$logs" && mkdir -p "$logs"
    # Tests without their own suppression file get the Qt, GLib and flow ones together.
    cat tests/capture/tsan.supp tests/scanman/tsan.supp tests/flows/tsan.supp \
        tests/faults/tsan.supp >"$dir/tsan.supp"
    echo "== tsan: testing"
    local rc=0
    (cd "$dir" &&
        TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$root/$dir/tsan.supp:log_path=$logs/tsan" \
        ctest --output-on-failure -j2 -L 'capture|scanman|ibscan|flows|faults') || rc=1
    check_logs "$logs" || rc=1
    return $rc
}

for job in "${jobs[@]}"; do
    start=$SECONDS
    case $job in
        asan) run_asan || status=1 ;;
        tsan) run_tsan || status=1 ;;
        *) echo "unknown job: $job" >&2; exit 2 ;;
    esac
    echo "== $job took $((SECONDS - start)) s"
done
exit $status
