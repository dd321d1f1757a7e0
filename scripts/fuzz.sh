#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   scripts/fuzz.sh [SECONDS]     seconds per target, 30 unless given
#   HALVENNA_FUZZ_BUILD=DIR       build folder, build-fuzz unless given
# New inputs that reach new code are kept in build-fuzz/corpus/<target>/ (the starting inputs in
# fuzz/corpus/<target>/ are only read). A failing input is written to build-fuzz/ as crash-* and
# the script ends with the fuzzer's non-zero exit code.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
build="${HALVENNA_FUZZ_BUILD:-build-fuzz}"

if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is not installed (scripts/deps.sh installs clang and libclang-rt-14-dev)" >&2
    exit 1
fi
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"${HALVENNA_JOBS:-$(nproc)}"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mapfile -t targets < <(find "$build" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | sort)
if ((${#targets[@]} == 0)); then
    echo "fuzz.sh: no fuzz targets were built" >&2
    exit 1
fi
for target in "${targets[@]}"; do
    name="$(basename "$target")"
    corpus="$build/corpus/$name"
    mkdir -p "$corpus"
    starts=()
    [ -d "fuzz/corpus/$name" ] && starts=("fuzz/corpus/$name")
    # The form templates shipped with the program are starting inputs of the template reader too.
    [ "$name" = fuzz_template ] && starts+=("report/templates")
    dict=()
    [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
    echo "== $name: ${seconds}s"
    "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 "${dict[@]}" \
        -artifact_prefix="$build/" -print_final_stats=1 "$corpus" "${starts[@]}"
done
