#!/usr/bin/env bash
# Installs the Debian packages made by scripts/packages.sh into a fresh Debian 12 root (a
# debootstrap minbase root, as bare as a new machine gets) with apt, from the archive this
# machine uses, and uses them there as their users would:
#   - libcarvo1, libcarvo-dev and carvo-tools alone: no Qt comes with them, Carvo.DownLoad is
#     registered, and an ordinary user builds examples/host with find_package(Carvo), with
#     pkg-config and with nothing but the system's include folder, and fetches a file with it
#     and with carvo-get from a loopback server;
#   - a sample product package (packaging/product/postinst and postrm) records its installed
#     version with carvo-reg and takes it away again; an ordinary user is refused, in words;
#   - then purge: a key of another product keeps the registry store, and otherwise nothing of
#     ours is left.
# Needs root (chroot, mount). Keeps a pristine root and apt's downloads under
# BUILD_DIR/fresh-root-cache, so that a second run needs the network only for apt's lists.
# Prints how long it took.
#   scripts/fresh-root.sh [BUILD_DIR]         (default: build-matrix/gcc-release)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(realpath "${1:-build-matrix/gcc-release}")
started=$SECONDS
[ "$(id -u)" -eq 0 ] || exec sudo "$0" "$@"
fail() { echo "fresh-root: $*" >&2; exit 1; }
step() { echo "== $* ($((SECONDS - started)) s)"; }

packages=$build/packages
ls "$packages"/libcarvo1_*.deb >/dev/null 2>&1 || fail "no packages in $packages (scripts/packages.sh)"
command -v debootstrap >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null

# The Debian archive this machine installs from (apt's own view of its sources, whichever
# format they are written in), with the same suites.
debian_sources() {
    apt-get indextargets --format '$(SITE) $(RELEASE)' 'Identifier: Packages' |
        awk '$2 ~ /^bookworm(-updates|-security)?$/' | sort -u
}
mapfile -t sources < <(debian_sources)
# apt knows its sources once it has read their lists (a machine that cleans them has none).
((${#sources[@]})) || { apt-get update -qq && mapfile -t sources < <(debian_sources); }
((${#sources[@]})) || fail "this machine's apt sources name no bookworm suite"
mirror=$(printf '%s\n' "${sources[@]}" | awk '$2 == "bookworm" {print $1; exit}')
[ -n "$mirror" ] || fail "no bookworm mirror in this machine's apt sources"

cache=$build/fresh-root-cache
mkdir -p "$cache/archives"
root=$build/fresh-root
user=anna
server_pid=""

cleanup() {
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    if mountpoint -q "$root/proc"; then umount "$root/proc" || umount -l "$root/proc"; fi
    # Nothing may be mounted inside when the root is removed.
    if ! findmnt -rn -o TARGET | grep -q "^$root/"; then rm -rf --one-file-system "$root"; fi
}
trap cleanup EXIT
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 "$@"; }
as_user() { chroot --userspec="$uid" "$root" env -i PATH=/usr/bin:/bin HOME="/home/$user" LC_ALL=C.UTF-8 "$@"; }
apt_root() { in_root env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o=Dpkg::Use-Pty=0 "$@"; }

step "fresh Debian 12 root from $mirror"
cleanup
pristine=$cache/bookworm-minbase.tar
if [ ! -f "$pristine" ]; then
    debootstrap --variant=minbase bookworm "$root" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
        fail "debootstrap failed: see $cache/debootstrap.log"
    tar -C "$root" -cf "$pristine.new" . && mv "$pristine.new" "$pristine"
else
    mkdir -p "$root"
    tar -C "$root" -xf "$pristine"
fi
mount -t proc proc "$root/proc"
cp /etc/resolv.conf "$root/etc/resolv.conf"
printf 'deb %s main\n' "${sources[@]}" >"$root/etc/apt/sources.list"
# No service starts inside the root.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
cp "$cache/archives/"*.deb "$root/var/cache/apt/archives/" 2>/dev/null || true
keep_downloads() { cp -n "$root/var/cache/apt/archives/"*.deb "$cache/archives/" 2>/dev/null || true; }
in_root useradd --create-home --user-group --shell /bin/sh "$user"
uid=$(in_root id -u "$user"):$(in_root id -g "$user")

step "apt: the compiler and tools a host's developer has"
apt_root update
apt_root install --no-install-recommends g++ cmake make pkg-config python3 >/dev/null
keep_downloads

step "apt: libcarvo1, libcarvo-dev, carvo-tools"
mkdir -p "$root/tmp/debs"
cp "$packages"/*.deb "$root/tmp/debs/"
deb() { echo "/tmp/debs/$(basename "$packages/$1"_*.deb)"; }
apt_root install --no-install-recommends "$(deb libcarvo1)" "$(deb libcarvo-dev)" "$(deb carvo-tools)" >/dev/null
keep_downloads
if in_root dpkg-query -W -f='${Package}\n' | grep -i 'qt'; then
    fail "the library, its headers and the console tools brought Qt"
fi
store=$root/var/lib/carvo/registry.reg
grep -q '^\[HKEY_LOCAL_MACHINE\\Software\\Classes\\Carvo.DownLoad\]' "$store" ||
    fail "Carvo.DownLoad is not registered after installing libcarvo1 and carvo-tools"
[ "$(stat -c '%U %a' "$root/var/lib/carvo")" = "root 755" ] || fail "/var/lib/carvo: $(stat -c '%U %a' "$root/var/lib/carvo")"
in_root dpkg -S /var/lib/carvo | grep -q '^libcarvo1' || fail "/var/lib/carvo belongs to no package"

step "a loopback server"
serve=$root/srv/www
mkdir -p "$serve"
head -c 300000 /dev/urandom >"$serve/setup.exe"
python3 -c '
import http.server, socketserver, sys
handler = lambda *a: http.server.SimpleHTTPRequestHandler(*a, directory=sys.argv[1])
with socketserver.TCPServer(("127.0.0.1", 0), handler) as server:
    print(server.server_address[1], flush=True)
    server.serve_forever()
' "$serve" >"$cache/port" 2>/dev/null &
server_pid=$!
for _ in $(seq 50); do [ -s "$cache/port" ] && break; sleep 0.1; done
port=$(cat "$cache/port")
[ -n "$port" ] || fail "the loopback server did not start"
url=http://127.0.0.1:$port

step "an ordinary user builds examples/host three ways and fetches with it"
home=$root/home/$user
cp -r "$source_dir/examples/host" "$home/host"
chown -R "$uid" "$home/host"
as_user cmake -S "/home/$user/host" -B "/home/$user/by-cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
as_user cmake --build "/home/$user/by-cmake" >/dev/null
# carvo.pc: one include folder, and that is the system's own.
cflags=$(as_user pkg-config --cflags carvo)
cflags=${cflags% }
[ -z "$cflags" ] || [ "$cflags" = "-I/usr/include" ] || fail "pkg-config --cflags carvo: $cflags"
as_user sh -c 'cd ~/host && c++ -std=c++20 main.cpp -o ~/by-pkg-config $(pkg-config --cflags --libs carvo)'
as_user sh -c 'cd ~/host && c++ -std=c++20 -I/usr/include main.cpp -o ~/by-hand -lcarvo'
for host in by-cmake/carvo-host-example by-pkg-config by-hand; do
    as_user "/home/$user/$host" /var/lib/carvo/registry.reg "$url/setup.exe" "/home/$user/got.exe" >/dev/null
    cmp "$serve/setup.exe" "$home/got.exe" || fail "$host fetched another file"
    rm "$home/got.exe"
done
as_user sh -c "cd ~ && carvo-get '$url/setup.exe' got.exe" >/dev/null
cmp "$serve/setup.exe" "$home/got.exe" || fail "carvo-get fetched another file"

step "an ordinary user is refused the store, in words"
key='HKEY_LOCAL_MACHINE\Software\Parvix 2002\Version'
if as_user carvo-reg set "$key" Version 9 2>"$cache/refusal"; then fail "carvo-reg wrote as $user"; fi
grep -q "Run it as root: sudo carvo-reg set" "$cache/refusal" || fail "carvo-reg's refusal: $(cat "$cache/refusal")"
libcarvo=$(in_root sh -c 'ls /usr/lib/*/libcarvo.so.1')
if as_user carvo-regsvr "$libcarvo" 2>"$cache/refusal" >/dev/null; then fail "carvo-regsvr wrote as $user"; fi
grep -q "Run it as root: sudo carvo-regsvr" "$cache/refusal" || fail "carvo-regsvr's refusal: $(cat "$cache/refusal")"

step "apt: carvo-propsheet, veltrup and a product that records its version"
# Parvix 2002 as a product's package lays itself out: Veltrup's copy and links.ini in
# /opt/parvix-2002/, owned by root, and its maintainer scripts from packaging/product/.
product=$build/fresh-root-product
rm -rf "$product"
mkdir -p "$product/DEBIAN" "$product/opt/parvix-2002" "$product/usr/share/applications"
dpkg-deb --fsys-tarfile "$packages"/veltrup_*.deb | tar -xO ./usr/bin/Veltrup >"$product/opt/parvix-2002/Veltrup"
chmod 755 "$product/opt/parvix-2002/Veltrup"
printf '[MAIN]\nUpdateFile=%s/Update.ini\nOfficialPage=%s/\nOfficialMail=suporte@parvix.example\n' \
    "$url" "$url" >"$product/opt/parvix-2002/links.ini"
cp "$source_dir/packaging/product/parvix-2002-atualizar.desktop" "$product/usr/share/applications/"
install -m 755 "$source_dir/packaging/product/postinst" "$source_dir/packaging/product/postrm" "$product/DEBIAN/"
cat >"$product/DEBIAN/control" <<EOF
Package: parvix-2002
Version: 2
Architecture: $(dpkg --print-architecture)
Maintainer: Parvix <suporte@parvix.example>
Depends: veltrup, carvo-tools
Description: Parvix 2002, a sample product updated by Veltrup
EOF
dpkg-deb --root-owner-group -b "$product" "$root/tmp/debs/parvix-2002_2.deb" >/dev/null
apt_root install --no-install-recommends "$(deb carvo-propsheet)" "$(deb veltrup)" /tmp/debs/parvix-2002_2.deb >/dev/null
keep_downloads
[ "$(as_user carvo-reg get "$key" Version)" = 2 ] || fail "the product's postinst did not record version 2"
[ "$(stat -c '%U %a' "$root/opt/parvix-2002")" = "root 755" ] || fail "/opt/parvix-2002 is not root's"

veltrup_as_ordinary_user_through_pkexec() {
    # Veltrup run by an ordinary user with the root-owned /opt/parvix-2002: the installer is
    # started as root through pkexec (a system bus, polkitd, a rule that lets the user through),
    # and an unsigned one never is. The script puts the product back as it found it.
    step "Veltrup as an ordinary user, Instalar through pkexec"
    "$source_dir/scripts/fresh-root-veltrup.sh" "$root" "$build"
}
veltrup_as_ordinary_user_through_pkexec

step "remove the product: its version goes, the store stays"
apt_root purge parvix-2002 >/dev/null
if in_root carvo-reg get "$key" Version >/dev/null 2>&1; then fail "the product's postrm left its version"; fi
grep -qi 'Parvix 2002' "$store" && fail "the product's keys are still in the store"

step "purge everything while another product's key is in the store"
other='HKLM\Software\Outro\Version'
in_root carvo-reg set "$other" Version 7
ours=(libcarvo1 libcarvo-dev carvo-tools carvo-propsheet veltrup)
apt_root purge "${ours[@]}" >/dev/null
[ -f "$store" ] || fail "purge took the store with another product's key in it"
grep -q 'Outro' "$store" || fail "purge lost another product's key"
grep -q 'Carvo\|CLSID\|TypeLib' "$store" && fail "purge left Carvo's registration: $(cat "$store")"

step "install and purge again, nothing else in the store"
apt_root install --no-install-recommends "$(deb libcarvo1)" "$(deb carvo-tools)" >/dev/null
in_root carvo-reg delete "$other"
apt_root purge libcarvo1 carvo-tools >/dev/null
[ ! -e "$root/var/lib/carvo" ] || fail "purge left $(find "$root/var/lib/carvo" | tr '\n' ' ')"
left=$(find "$root" -xdev \( -path "$root/proc" -o -path "$root/home" -o -path "$root/tmp" \
    -o -path "$root/var/cache/apt" \) -prune -o \
    \( -iname '*carvo*' -o -iname '*veltrup*' -o -iname '*parvix*' \) -print)
[ -z "$left" ] || fail "purge left: $left"
if in_root dpkg-query -W "${ours[@]}" parvix-2002 2>/dev/null | grep -q .; then
    fail "dpkg still knows $(in_root dpkg-query -W "${ours[@]}" parvix-2002 2>/dev/null)"
fi

cleanup
trap - EXIT
echo "fresh-root: ok in $((SECONDS - started)) s"
