#!/usr/bin/env bash
# Installs what is needed, builds everything and runs all tests: the C++ tests, the
# page tests in headless Chromium, the application smoke test under Xvfb, and a
# short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh

jobs="$(nproc)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs" --timeout 600)

scripts/fuzz-smoke.sh
