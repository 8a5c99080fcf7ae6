#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and uses it as a program outside this tree
# would: builds examples/host against it (find_package(Carvo), then carvo.pc), registers the
# installed libcarvo in a registry store of its own, and fetches a file from the loopback test
# server with each build. Then lays Veltrup out as a product ships it and checks that it finds
# the product's copy of libcarvo through its run path.
#   host-example.sh BUILD_DIR SOURCE_DIR SERVE_PROGRAM CXX "CXXFLAGS"
set -euo pipefail
build=$1 source=$2 serve=$3 cxx=$4 flags=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
libcarvo=$(find "$prefix" -name 'libcarvo.so.1' -print -quit)
libdir=$(dirname "$libcarvo")

# The registry store of a machine where the library was installed and registered.
"$prefix/bin/carvo-regsvr" --store "$work/registry.reg" "$libcarvo"
head -c 200000 /dev/urandom > "$work/setup.exe"

echo "== find_package(Carvo)"
cmake -S "$source/examples/host" -B "$work/host" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags -Wall -Wextra -Werror" \
    -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/host" >/dev/null
"$serve" "$work/setup.exe" -- "$work/host/carvo-host-example" "$work/registry.reg" "{url}" \
    "$work/by-cmake.exe"
cmp "$work/setup.exe" "$work/by-cmake.exe"

echo "== pkg-config carvo"
# carvo.pc names the prefix it was built for; the tree was installed elsewhere.
pc() { PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --define-variable=prefix="$prefix" "$@" carvo; }
cflags=$(pc --cflags)
[ "${cflags% }" = "-I$prefix/include" ] || { echo "carvo.pc: Cflags $cflags" >&2; exit 1; }
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++20 $flags $(pc --cflags) "$source/examples/host/main.cpp" \
    -o "$work/host-pc" $(pc --libs) -Wl,-rpath,"$libdir"
"$serve" "$work/setup.exe" -- "$work/host-pc" "$work/registry.reg" "{url}" "$work/by-pc.exe"
cmp "$work/setup.exe" "$work/by-pc.exe"

echo "== libcarvo shows only its interface"
# Internals of the control stay hidden: nothing of DownLoad's own class is exported.
exported=$(nm -D --defined-only "$libcarvo" | c++filt)
if grep -q 'carvo::DownLoad::' <<<"$exported"; then
    echo "libcarvo exports the control's internals" >&2
    exit 1
fi
grep -q 'carvo::ComHost::createInstance' <<<"$exported"

echo "== Veltrup in a product's folder"
product=$work/opt/parvix-2002
mkdir -p "$product/lib"
cp "$prefix/bin/Veltrup" "$product/"
cp -P "$libdir"/libcarvo.so.1* "$product/lib/"
found=$(env -u LD_LIBRARY_PATH ldd "$product/Veltrup" | awk '$1 == "libcarvo.so.1" {print $3}')
if [ "$found" != "$product/lib/libcarvo.so.1" ]; then
    echo "Veltrup in $product finds libcarvo at '$found'" >&2
    exit 1
fi
echo "ok"
