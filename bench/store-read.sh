#!/usr/bin/env bash
# Reading times of the registry store, property bags and form files with many values.
#
#   bench/store-read.sh
#
# Builds the libraries in Release (no sanitizers) into build-bench when needed and the small
# program bench/store_read.cpp beside them. Not part of the test command: it measures time.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCARVO_SANITIZE=OFF \
        -DCARVO_BUILD_TESTS=OFF
fi
cmake --build "$build" --target carvo_win carvo_designtools
"${CXX:-c++}" -std=c++20 -O2 -I"$root/Platform" -I"$root/CarvoOCX" "$root/bench/store_read.cpp" \
    "$build/CarvoOCX/libcarvo_designtools.a" "$build/Platform/win/libcarvo_win.a" \
    "$build/Platform/automation/libcarvo_automation.a" -o "$build/store-read"
"$build/store-read"
