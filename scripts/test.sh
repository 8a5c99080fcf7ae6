#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCARVO_SANITIZE=ON >/dev/null
cmake --build build-asan -j2
ctest --test-dir build-asan -j2 --output-on-failure --timeout 300
