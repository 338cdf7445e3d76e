#!/usr/bin/env bash
# make fuzz: builds every fuzzer with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for FUZZ_SECONDS (default 60) from its seed corpus
# in fuzz/corpus/. An input that fails is copied into the corpus, where the test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD:-build-fuzz}

tools/install-deps.sh clang libclang-rt-14-dev

if [[ ! -f $build/build.ninja ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DORVIK_FUZZ=ON
fi
cmake --build "$build" --target fuzzers -j "$(nproc)"

failed=()
for corpus in fuzz/corpus/*/; do
    target=$(basename "$corpus")
    work=$build/corpus/$target
    artifacts=$build/artifacts/$target
    mkdir -p "$work" "$artifacts"
    log=$build/fuzz_$target.log
    status=0
    # New inputs go to the work corpus; the committed corpus is only read.
    "$build/fuzz/fuzz_$target" "$work" "$corpus" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$artifacts/" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    printf '%-18s %12s executions  %8s per second' "$target" "${runs:-?}" "${rate:-?}"
    if [[ $status -ne 0 ]]; then
        printf '  FAILED (see %s)\n' "$log"
        for input in "$artifacts"/*; do
            [[ -f $input ]] && cp "$input" "$corpus/found-$(basename "$input")"
        done
        failed+=("$target")
    else
        printf '\n'
    fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
    echo "Failing inputs were added to fuzz/corpus/ for: ${failed[*]}" >&2
    exit 1
fi
