#!/usr/bin/env bash
# The builds CI makes besides the test command's own (GCC, Debug, with sanitizers): the whole
# tree, tests included, with warnings as errors, by GCC at Release and RelWithDebInfo and by
# Clang at Debug and Release. GCC warns from its optimisers too, so what it says at -O2 and at
# -O3 differs (the false -Wrestrict came only at -O3); Clang's warnings come from its front end
# and do not change with the level, so RelWithDebInfo adds nothing there. The GCC Release
# build is the one the Debian packages are made from (scripts/packages.sh). Prints how long
# each build took.
#   scripts/build-matrix.sh [BUILD_ROOT]      (default: build-matrix)
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-build-matrix}
scripts/install-deps.sh

build() {
    local dir=$root/$1
    shift
    local start=$SECONDS
    cmake -S . -B "$dir" -G Ninja -DCARVO_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j2
    echo "== $dir built in $((SECONDS - start)) s"
}

build gcc-release -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
build gcc-relwithdebinfo -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
build clang-debug -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
build clang-release -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
