#!/usr/bin/env bash
# Makes the five Debian packages from a build configured with the prefix /usr (the GCC Release
# build of scripts/build-matrix.sh), lists and checks them with dpkg-deb and lintian, checks
# that each manual page names the options its program's --help names, then installs them on
# this machine, runs the installed programs, and purges them again. (scripts/fresh-root.sh
# then installs them into a fresh Debian root and uses them there.)
#   scripts/packages.sh [BUILD_DIR]           (default: build-matrix/gcc-release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-matrix/gcc-release}
out=$build/packages
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
fail() { echo "packages: $*" >&2; exit 1; }

rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >/dev/null
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
declare -A files=(
    [libcarvo1]="usr/lib/$multiarch/libcarvo.so.1 usr/lib/$multiarch/libcarvo.so.1.0.0 var/lib/carvo/"
    [libcarvo-dev]="usr/lib/$multiarch/libcarvo.so usr/include/carvo/ComHost.h
        usr/include/carvo/automation/Variant.h usr/include/carvo/host/HostServices.h
        usr/lib/$multiarch/cmake/Carvo/CarvoConfig.cmake usr/lib/$multiarch/pkgconfig/carvo.pc"
    [carvo-tools]="usr/bin/carvo-get usr/bin/carvo-regsvr usr/bin/carvo-version usr/bin/carvo-reg
        usr/share/man/man1/carvo-get.1.gz usr/share/man/man1/carvo-version.1.gz
        usr/share/man/man1/carvo-regsvr.1.gz usr/share/man/man1/carvo-reg.1.gz"
    [carvo-propsheet]="usr/bin/carvo-propsheet usr/share/man/man1/carvo-propsheet.1.gz"
    [veltrup]="usr/bin/Veltrup usr/bin/veltrup-sign usr/share/man/man1/Veltrup.1.gz
        usr/share/man/man1/veltrup-sign.1.gz usr/share/icons/hicolor/scalable/apps/veltrup.svg
        usr/share/veltrup/parvix-2002-atualizar.desktop"
)
debs=()
for package in libcarvo1 libcarvo-dev carvo-tools carvo-propsheet veltrup; do
    deb=$(ls "$out/${package}_"*"_$arch.deb" 2>/dev/null) || fail "no package $package"
    debs+=("$(realpath "$deb")")
    echo "== $(basename "$deb")"
    dpkg-deb --field "$deb" Package Version Multi-Arch Depends
    contents=$(dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./||')
    echo "$contents" | grep -v '/$' | sed 's/^/    /'
    for f in ${files[$package]}; do
        grep -qx "$f" <<<"$contents" || fail "$package lacks $f"
    done
done
# Found by dpkg-shlibdeps from the binaries, not written by hand.
for package in carvo-tools carvo-propsheet veltrup; do
    depends=$(dpkg-deb --field "$out/${package}_"*.deb Depends)
    grep -q 'libc6' <<<"$depends" || fail "$package: no dependencies found from its binaries"
done
grep -q 'libcarvo1' <<<"$(dpkg-deb --field "$out"/veltrup_*.deb Depends)" || fail "veltrup does not depend on libcarvo1"
# A host registers and builds without a desktop: Qt only where its windows are.
for package in libcarvo1 libcarvo-dev carvo-tools; do
    ! grep -qi 'qt' <<<"$(dpkg-deb --field "$out/${package}_"*.deb Depends)" || fail "$package depends on Qt"
done
[ "$(dpkg-deb --field "$out"/libcarvo1_*.deb Multi-Arch)" = same ] || fail "libcarvo1 is not Multi-Arch: same"
# Checked against the library by cpack itself (packaging/debian-stage.cmake); here, that it ships.
dpkg-deb --info "$out"/libcarvo1_*.deb symbols | head -n 1 | grep -qx 'libcarvo.so.1 libcarvo1 #MINVER#' ||
    fail "libcarvo1 has no symbols file"

echo "== lintian"
lintian --fail-on error --suppress-tags-from-file packaging/debian/lintian-suppressed "${debs[@]}"

echo "== manual pages and --help"
# Every option a program's --help names is in its page, and the page names no other.
options() { grep -oE '(^|[^[:alnum:]_-])--?[a-z][a-z-]*' | grep -oE -- '--?[a-z][a-z-]*' | sort -u; }
for tool in carvo-get carvo-regsvr carvo-version carvo-reg carvo-propsheet veltrup-sign; do
    program=$(find "$build" -type f -name "$tool" -perm -u+x | head -n 1)
    page=docs/man/$tool.1
    from_help=$("$program" --help | options)
    from_page=$(sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' "$page" | options)
    [ "$from_help" = "$from_page" ] || fail "$tool --help and $page name different options:
$(diff <(echo "$from_help") <(echo "$from_page"))"
done
for page in docs/man/*.1; do
    complaints=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
    [ -z "$complaints" ] || fail "$page: $complaints"
done
desktop-file-validate packaging/product/parvix-2002-atualizar.desktop

echo "== installed"
# Purged afterwards. A store that was here before (another product's keys) stays; one that the
# packages made goes with them.
[ -e /var/lib/carvo ] && store_was_here=1 || store_was_here=0
packages=(libcarvo1 libcarvo-dev carvo-tools carvo-propsheet veltrup)
purge() { $sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null; }
trap purge EXIT
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${debs[@]}" >/dev/null
/usr/bin/carvo-get --help >/dev/null
/usr/bin/veltrup-sign --help >/dev/null
/usr/bin/carvo-version "/usr/lib/$multiarch/libcarvo.so.1" | grep -q 'ProductName'
[ -d /var/lib/carvo ] || fail "no /var/lib/carvo after installing"
dpkg -S /var/lib/carvo | grep -q '^libcarvo1' || fail "/var/lib/carvo belongs to no package"
grep -q 'Carvo.DownLoad' /var/lib/carvo/registry.reg || fail "libcarvo was not registered on install"
for tool in carvo-get carvo-regsvr carvo-version carvo-reg carvo-propsheet Veltrup veltrup-sign; do
    # Without a display, as in a package's script or over ssh.
    env -u DISPLAY -u WAYLAND_DISPLAY "/usr/bin/$tool" --version | grep -q '[0-9]' ||
        fail "$tool --version"
done
found=$(ldd /usr/bin/Veltrup | awk '$1 == "libcarvo.so.1" {print $3}')
[ -n "$found" ] && [ "$(realpath -s "$found")" = "/usr/lib/$multiarch/libcarvo.so.1" ] ||
    fail "Veltrup finds libcarvo at '$found'"
trap - EXIT
purge
if [ "$store_was_here" -eq 0 ] && [ -e /var/lib/carvo ]; then
    fail "purge left $(find /var/lib/carvo | tr '\n' ' ')"
fi
echo "ok"
