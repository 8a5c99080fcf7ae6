#!/usr/bin/env bash
# An ordinary user updates a product installed for the whole machine, in a fresh Debian root
# with our packages installed (scripts/fresh-root.sh makes it and calls this script):
#
#   scripts/fresh-root-veltrup.sh ROOT BUILD
#
# ROOT: the root, with libcarvo1, carvo-tools and veltrup installed; BUILD: the build tree the
# packages were made from (its tests/veltrup/veltrup_demo walks the wizard by itself, as
# scripts/run.sh --auto does). Inside the root, as root: an ordinary user, the product in
# /opt/parvix-2002 owned by root with the maker's key in links.ini, version 2 in the registry
# store, version 3 signed on nginx at 127.0.0.1, a system bus, polkitd and a polkit rule that
# lets that user through for Veltrup's action. Then, as the user under xvfb-run, the wizard
# walks to "Instalar" and the installer must run as root (it writes `id -u` and its working
# folder); an unsigned update must never run as root, through the wizard or through pkexec
# directly. Runs as root (chroot, mount); mounts /proc, /dev and /run in the root when they are
# not mounted yet, and leaves the root as it found them, apart from the added packages, the
# user and the product.
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: $0 ROOT BUILD" >&2; exit 2; }
root=$(realpath "$1")
build=$(realpath "$2")
demo=$build/tests/veltrup/veltrup_demo
[ "$(id -u)" -eq 0 ] || { echo "$0: needs root (chroot, mount)" >&2; exit 2; }
[ -x "$demo" ] || { echo "$0: $demo is missing (build the tests in $build)" >&2; exit 2; }
[ -x "$root/usr/bin/Veltrup" ] || { echo "$0: the veltrup package is not installed in $root" >&2; exit 2; }
grep -qx 'CARVO_REGISTRY_PATH:STRING=/var/lib/carvo/registry.reg' "$build/CMakeCache.txt" ||
    { echo "$0: $build was built with another registry store than the packages'" >&2; exit 2; }

in_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        DEBIAN_FRONTEND=noninteractive "$@"
}

mounted=()
made_policy=0
cleanup() {
    local m
    for m in "${mounted[@]}"; do umount "$m" || true; done
    [ "$made_policy" -eq 0 ] || rm -f "$root/usr/sbin/policy-rc.d"
    rm -f "$root/root/veltrup-check.sh"
    # The test's own fixtures go with it: the root's purge check looks for anything left.
    rm -rf "$root/usr/local/lib/veltrup-test" "$root/srv/veltrup"
}
trap cleanup EXIT
mount_once() {  # mount_once DIR MOUNT-ARGUMENTS...
    local dir=$root$1
    shift
    mountpoint -q "$dir" && return 0
    mount "$@" "$dir"
    mounted=("$dir" "${mounted[@]}")
}

# ---- what the test needs in the root ---------------------------------------------------------
# No service may start from a package's scripts: the test starts its own, and ends them.
if [ ! -e "$root/usr/sbin/policy-rc.d" ]; then
    printf '#!/bin/sh\nexit 101\n' > "$root/usr/sbin/policy-rc.d"
    chmod 755 "$root/usr/sbin/policy-rc.d"
    made_policy=1
fi
[ -s "$root/etc/resolv.conf" ] || cp /etc/resolv.conf "$root/etc/resolv.conf"
in_root apt-get install -y -q --no-install-recommends \
    polkitd pkexec dbus xvfb xauth nginx-light > "$build/fresh-root-veltrup-apt.log" ||
    { tail -20 "$build/fresh-root-veltrup-apt.log" >&2; exit 1; }
install -D -m 755 "$demo" "$root/usr/local/lib/veltrup-test/veltrup_demo"

mount_once /proc -t proc proc
mount_once /dev --bind /dev
mount_once /run -t tmpfs tmpfs

# ---- the test, inside the root ------------------------------------------------------------
cat > "$root/root/veltrup-check.sh" <<'INNER'
set -eu
user=veltrup-teste
product=/opt/parvix-2002
site=/srv/veltrup/site
keys=/srv/veltrup/keys
url=http://127.0.0.1:8431
helper=/usr/libexec/veltrup/veltrup-install-helper
pids=""
fail() { echo "fresh-root-veltrup: FALHOU: $*" >&2; exit 1; }
ok() { echo "fresh-root-veltrup: ok: $*"; }
stop() {
    # Ended and waited for, so that nothing holds the root's mounts when the script leaves.
    for p in $pids; do kill "$p" 2>/dev/null || true; done
    for p in $pids; do
        for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    done
    # A product package's own links.ini and installed version come back as they were.
    [ ! -e /srv/veltrup/links.ini.package ] || cp /srv/veltrup/links.ini.package "$product/links.ini"
    rm -f "$product/instalado.txt" /etc/polkit-1/rules.d/50-veltrup-teste.rules
    [ -z "$added_version" ] || carvo-reg delete "$key" >/dev/null 2>&1 || true
}
added_version=""
key='HKEY_LOCAL_MACHINE\Software\Parvix 2002\Version'
trap stop EXIT

id "$user" >/dev/null 2>&1 || useradd -m -s /bin/sh "$user"
home=/home/$user

# The product, root's alone, as a product's package lays it out; one that a package installed
# is used as it is, its links.ini kept aside and put back at the end.
rm -rf /srv/veltrup "$home/.cache/veltrup"
mkdir -p "$product" "$site"
[ -x "$product/Veltrup" ] || cp /usr/bin/Veltrup "$product/"
[ ! -e "$product/links.ini" ] || cp "$product/links.ini" /srv/veltrup/links.ini.package
veltrup-sign keygen "$keys" > /srv/veltrup/public.txt
links() {
    printf '[MAIN]\nUpdateFile=%s/Update.ini\nOfficialPage=%s/\nOfficialMail=suporte@parvix.example\n%s' \
        "$url" "$url" "$1" > "$product/links.ini"
}
# Version 2 installed: as the product's package recorded it, or recorded here.
store=/var/lib/carvo/registry.reg
if ! grep -q 'Parvix 2002' "$store" 2>/dev/null; then
    if command -v carvo-reg >/dev/null; then
        carvo-reg set "$key" Version 2
    else
        [ -s "$store" ] || printf 'Windows Registry Editor Version 5.00\n' > "$store"
        printf '\n[%s]\n"Version"="2"\n' "$key" >> "$store"
        chmod 644 "$store"
    fi
    added_version=1
fi

# Version 3 on the server: an installer that writes who ran it and where.
cat > "$site/parvix-2002-v3.sh" <<'EOF'
#!/bin/sh
{ id -u; pwd; } > instalado.tmp && mv instalado.tmp instalado.txt
EOF
publish() {  # publish signed|unsigned
    {
        printf '[MAIN]\nFile=%s/parvix-2002-v3.sh\n' "$url"
        if [ "$1" = signed ]; then
            veltrup-sign sign "$keys/maker.key" "$site/parvix-2002-v3.sh" 3
        else
            printf 'Version=3\nShell=parvix-2002-v3.sh\n'
        fi
    } > "$site/Update.ini"
}

mkdir -p /srv/veltrup/nginx/logs /srv/veltrup/nginx/tmp
cat > /srv/veltrup/nginx/nginx.conf <<EOF
pid /srv/veltrup/nginx/nginx.pid;
error_log /srv/veltrup/nginx/logs/error.log warn;
daemon off;
events {}
http {
    access_log /srv/veltrup/nginx/logs/access.log;
    client_body_temp_path /srv/veltrup/nginx/tmp/body;
    proxy_temp_path /srv/veltrup/nginx/tmp/proxy;
    fastcgi_temp_path /srv/veltrup/nginx/tmp/fastcgi;
    uwsgi_temp_path /srv/veltrup/nginx/tmp/uwsgi;
    scgi_temp_path /srv/veltrup/nginx/tmp/scgi;
    server { listen 127.0.0.1:8431; root $site; }
}
EOF
nginx -c /srv/veltrup/nginx/nginx.conf &
pids="$pids $!"

# The system bus, polkitd on it, and the rule that lets the test user through.
mkdir -p /run/dbus
dbus-uuidgen --ensure
pids="$pids $(dbus-daemon --system --fork --print-pid)"
cat > /etc/polkit-1/rules.d/50-veltrup-teste.rules <<EOF
polkit.addRule(function(action, subject) {
    if (action.id == "org.parvix.veltrup.install" && subject.user == "$user")
        return polkit.Result.YES;
});
EOF
/usr/lib/polkit-1/polkitd --no-debug > /srv/veltrup/polkitd.log 2>&1 &
pids="$pids $!"
for _ in $(seq 100); do
    dbus-send --system --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.PolicyKit1 2>/dev/null |
        grep -q 'boolean true' && break
    sleep 0.1
done
for _ in $(seq 100); do
    [ -s /srv/veltrup/nginx/nginx.pid ] && break
    sleep 0.1
done

as_user() {
    runuser -u "$user" -- /usr/bin/env -i PATH=/usr/bin:/bin HOME="$home" USER="$user" \
        LOGNAME="$user" "$@"
}
wizard() {
    as_user QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
        /usr/local/lib/veltrup-test/veltrup_demo "$product" "$home/telas"
}
wait_installed() {
    for _ in $(seq 100); do
        [ -e "$product/instalado.txt" ] && return 0
        sleep 0.1
    done
    return 1
}

# 1. Signed: the user's wizard reaches "Instalar", and the installer runs as root in the product.
links "PublicKey=$(sed -n 's/^PublicKey=//p' /srv/veltrup/public.txt)
"
publish signed
wizard || fail "o assistente não terminou com o instalador iniciado (assinado)"
wait_installed || fail "o instalador assinado não rodou"
[ "$(cat "$product/instalado.txt")" = "$(printf '0\n%s' "$product")" ] ||
    fail "o instalador rodou como: $(cat "$product/instalado.txt")"
[ ! -e "$product/Update.ini" ] || fail "Update.ini foi gravado na pasta do produto"
downloads=$(find "$home/.cache/veltrup" -name parvix-2002-v3.sh -user "$user")
[ -n "$downloads" ] || fail "o download não está na pasta do usuário"
ok "assinado: o instalador rodou como root em $product; download em $(dirname "$downloads")"

# 2. Unsigned, through pkexec directly with the user's download: refused, nothing runs.
rm -f "$product/instalado.txt"
links ""
publish unsigned
cp "$site/Update.ini" "$(dirname "$downloads")/Update.ini"
chown "$user:" "$(dirname "$downloads")/Update.ini"
status=0
as_user pkexec "$helper" "$product" "$(dirname "$downloads")/Update.ini" "$downloads" || status=$?
[ "$status" -eq 4 ] || fail "pkexec com o instalador sem assinatura terminou com $status"
# And a key in links.ini with an unsigned version file: the statement check refuses it (10).
links "PublicKey=$(sed -n 's/^PublicKey=//p' /srv/veltrup/public.txt)
"
status=0
as_user pkexec "$helper" "$product" "$(dirname "$downloads")/Update.ini" "$downloads" || status=$?
[ "$status" -eq 10 ] || fail "pkexec com a versão sem assinatura terminou com $status"
links ""

# 3. Unsigned, through the wizard: it says so and starts nothing as root.
rm -rf "$home/.cache/veltrup"
if wizard; then fail "o assistente iniciou um instalador sem assinatura"; fi
sleep 1
[ ! -e "$product/instalado.txt" ] || fail "um instalador sem assinatura rodou: $(cat "$product/instalado.txt")"
ok "sem assinatura: nada rodou como root"
INNER

run_inner() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root sh /root/veltrup-check.sh; }
# A network of its own, where the port is free and nothing outside sees the server.
if unshare --net true 2>/dev/null; then
    export -f run_inner
    export root
    unshare --net bash -c 'ip link set lo up && run_inner'
else
    run_inner
fi
