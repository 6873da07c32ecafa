#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (plus AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, seeded with the conformance
# corpus, the samples and the kept regression inputs.
#   bash fuzz/run_fuzzers.sh [seconds per target, default 30]
# A failing input is left in the scratch directory as crash-*; copy it into
# fuzz/regressions/<target>/ once the fault is fixed, so that the test suite keeps replaying it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

# libFuzzer comes with clang's runtime libraries; without them there is nothing to run.
probe=$(mktemp -d /tmp/morvane-fuzz-probe-XXXXXX)
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
    >"$probe/probe.cpp"
if ! command -v clang++ >/dev/null ||
    ! clang++ -fsanitize=fuzzer "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1; then
    rm -rf "$probe"
    echo "skipped: clang's libFuzzer runtime is not installed (install clang libclang-rt-14-dev)"
    exit 0
fi
rm -rf "$probe"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMORVANE_FUZZ=ON >/dev/null
cmake --build build-fuzz -j 2 --target frame_reader_fuzzer cut_fuzzer silent_frame_fuzzer edit_list_fuzzer

# AddressSanitizer holds freed memory back for 256 MiB before reusing it; every new block is then
# fresh pages, and faulting them in was half of a cut's time. An input frees a few MiB at most,
# so 32 MiB still catches a use after free anywhere within the inputs around it.
export ASAN_OPTIONS="quarantine_size_mb=32${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
scratch=$(mktemp -d /tmp/morvane-fuzz-XXXXXX)
status=0
for target in frame_reader cut silent_frame edit_list; do
    mkdir -p "$scratch/$target"
    echo "== $target: $seconds s"
    if ! (cd "$scratch" && "$OLDPWD/build-fuzz/fuzz/${target}_fuzzer" "$target" \
        "$OLDPWD/fuzz/regressions/$target" "$OLDPWD/tests/corpus" "$OLDPWD/samples" \
        -max_total_time="$seconds" -max_len=16384 -print_final_stats=1 \
        >"$scratch/$target.log" 2>&1); then
        status=1
        tail -n 40 "$scratch/$target.log"
        echo "$target: FAILED; the input is in $scratch"
    fi
    grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added)' \
        "$scratch/$target.log" || true
done
[ "$status" = 0 ] && rm -rf "$scratch"
exit "$status"
