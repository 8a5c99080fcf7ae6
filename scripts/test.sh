#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer and with warnings as errors, and runs every test (among them the
# installed tree used by examples/host, built apart, against the loopback test server).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCARVO_SANITIZE=ON -DCARVO_WERROR=ON >/dev/null
cmake --build build-asan -j2
ctest --test-dir build-asan -j2 --output-on-failure --timeout 300
