#!/usr/bin/env bash
# The main job: a real update of Parvix 2002 from start to finish, on this machine only.
#
# Installs what is missing, builds an optimised tree in build-release, starts a web server on
# 127.0.0.1 holding a sample update (a version file and an installer script that shows it
# ran), prepares a program folder with Veltrup and its links.ini, writes the installed
# version (2) into the registry store, and runs Veltrup against them.
#
# With a screen, Veltrup opens for you to click through. Without one (no DISPLAY), or with
# --auto, the wizard walks itself under a virtual X server and saves a picture of each step
# into docs/screens/. Either way the script ends by itself once the installer has run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

auto=0
[ "${1:-}" = "--auto" ] && auto=1
[ -z "${DISPLAY:-}" ] && auto=1

scripts/install-deps.sh

build=$root/build-release
demo=$build/demo
# Veltrup reads the installed version from one registry store whose place is fixed when it is
# built. This build keeps it inside the build tree, so the demo never touches the machine's
# own store (/var/lib/carvo/registry.reg) and can be run again and again.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCARVO_BUILD_TESTS=ON -DCARVO_REGISTRY_PATH="$demo/registry.reg" >/dev/null
cmake --build "$build" -j2 --target Veltrup veltrup_demo

# ---- the update server's files ------------------------------------------------------------
rm -rf "$demo"
mkdir -p "$demo/site/pacotes" "$demo/program" "$demo/nginx/logs" "$demo/nginx/tmp"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
url="http://127.0.0.1:$port"

installer=parvix-2002-v3.sh
cat > "$demo/site/pacotes/$installer" <<'EOF'
#!/bin/sh
# The sample update's installer: it only shows that it ran. Veltrup starts it in the product's
# folder, from the copy it checked, so its working folder (not $0) is where the product is.
echo "Parvix 2002 v3 instalado em $(date '+%d/%m/%Y %H:%M:%S')" > instalado.txt
if [ -n "${DISPLAY:-}" ] && command -v xmessage >/dev/null; then
    xmessage -center -timeout 5 "Parvix 2002 v3 instalado com sucesso!" >/dev/null 2>&1 &
fi
exit 0
EOF
# A few megabytes of payload, so that the progress figures have something to show.
head -c 3000000 < <(yes "# Parvix 2002 v3 - dados do instalador") >> "$demo/site/pacotes/$installer"

cat > "$demo/site/Update.ini" <<EOF
[MAIN]
Version=3
File=$url/pacotes/$installer
Shell=$installer
EOF

# ---- the installed product: program folder and registry store ------------------------------
# Veltrup looks for links.ini beside its own program file, so the demo gets its own copy.
cp "$build/AutoUpdate/Veltrup" "$demo/program/"
cat > "$demo/program/links.ini" <<EOF
[MAIN]
UpdateFile=$url/Update.ini
OfficialPage=$url/
OfficialMail=suporte@parvix.example
EOF
cat > "$demo/registry.reg" <<'EOF'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Parvix 2002\Version]
"Version"="2"
EOF

# ---- the server: nginx on loopback, slowed down so that a person sees the download ---------
{
    echo "daemon off; master_process off; worker_processes 1;"
    [ "$(id -u)" -eq 0 ] && echo "user root root;"
    echo "pid $demo/nginx/nginx.pid;"
    echo "error_log $demo/nginx/logs/error.log warn;"
    echo "events { worker_connections 64; }"
    echo "http {"
    echo "    access_log $demo/nginx/logs/access.log;"
    echo "    default_type application/octet-stream;"
    for t in client_body proxy fastcgi uwsgi scgi; do echo "    ${t}_temp_path $demo/nginx/tmp/$t;"; done
    echo "    server {"
    echo "        listen 127.0.0.1:$port;"
    echo "        root $demo/site;"
    echo "        limit_rate 768k;"
    echo "    }"
    echo "}"
} > "$demo/nginx/nginx.conf"

/usr/sbin/nginx -p "$demo/nginx/" -c "$demo/nginx/nginx.conf" -e "$demo/nginx/logs/error.log" &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    curl -fs -o /dev/null "$url/Update.ini" && break
    kill -0 "$server_pid" 2>/dev/null || { cat "$demo/nginx/logs/error.log" >&2; exit 1; }
    sleep 0.1
done
echo "Servidor de atualização: $url (versão 3 publicada; instalada: 2)"

# ---- Veltrup ----------------------------------------------------------------------------
if [ "$auto" -eq 1 ]; then
    screens=$root/docs/screens
    echo "Sem tela: o assistente anda sozinho numa tela virtual; imagens em $screens"
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
        "$build/tests/veltrup/veltrup_demo" "$demo/program" "$screens"
else
    echo "Abrindo o Veltrup: clique em \"Avançar\" para atualizar."
    "$demo/program/Veltrup"
fi

# The installer runs detached after Veltrup has ended; give it a moment to show its mark.
for _ in $(seq 100); do
    [ -s "$demo/program/instalado.txt" ] && break
    sleep 0.1
done
if [ -s "$demo/program/instalado.txt" ]; then
    echo "Instalador: $(cat "$demo/program/instalado.txt")"
else
    echo "O instalador não rodou." >&2
    exit 1
fi
