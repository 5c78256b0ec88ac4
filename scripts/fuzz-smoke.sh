#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one briefly on its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-20}"

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DFERNHALL_FUZZ=ON -DFERNHALL_APP=OFF -DFERNHALL_TESTS=OFF -DFERNHALL_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)"

failed=0
ran=0
while IFS= read -r target; do
    name="$(basename "$target")"
    area="$(basename "$(dirname "$target")")"
    corpus="fuzz/$area/corpus/$name"
    work="$(mktemp -d)"
    [ -d "$corpus" ] && cp -r "$corpus/." "$work/" 2>/dev/null || true
    echo "fuzz: $name for ${seconds}s"
    if "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 "$work" >"$work.log" 2>&1; then
        ran=$((ran + 1))
    else
        echo "fuzz: $name FAILED"; tail -40 "$work.log"; failed=$((failed + 1))
    fi
    rm -rf "$work" "$work.log"
done < <(find build-fuzz/fuzz -maxdepth 2 -type f -name 'fuzz_*' -perm -u+x | sort)

echo "fuzz: $ran passed, $failed failed"
[ "$failed" -eq 0 ]
