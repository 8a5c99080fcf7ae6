#!/usr/bin/env bash
# Veltrup's download step at full speed: the real program, under a virtual X server with its
# window drawn, fetches a 256 MiB installer from nginx on loopback, taking turns with the curl
# tool and with carvo-get --chunk 1024 on the same file in the same run.
#
#   bench/veltrup.sh                 3 rounds on a 256 MiB file
#   RUNS=5 SIZE_MIB=512 bench/veltrup.sh
#
# Prints Veltrup's throughput against curl's (goal: at least 0.6) and the processor time of
# its download against carvo-get's for the same file (goal: at most 1.5). Veltrup is driven as
# a person would: a click on "Avançar" (through the X server's test extension) starts the
# version check, a second one the download; its time and processor time run from the second
# click until the installer is whole in the program folder. Builds Release into build-bench
# when needed. Not part of the test command: it measures time, which tests never do.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/common.sh
source "$root/bench/common.sh"
build=${BUILD_DIR:-$root/build-bench}
runs=${RUNS:-3}
size_mib=${SIZE_MIB:-256}
((runs >= 1)) || { echo "RUNS must be at least 1" >&2; exit 2; }
((size_mib >= 1)) || { echo "SIZE_MIB must be at least 1" >&2; exit 2; }

"$root/scripts/install-deps.sh"
# Veltrup reads the installed version from a store whose place is fixed when it is built: this
# build keeps its own, so the bench never reads or writes the machine's.
store=$build/bench-registry.reg
if [ ! -f "$build/build.ninja" ] || ! grep -q "CARVO_REGISTRY_PATH:STRING=$store\$" "$build/CMakeCache.txt"; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCARVO_SANITIZE=OFF \
        -DCARVO_BUILD_TESTS=OFF -DCARVO_REGISTRY_PATH="$store" >/dev/null
fi
cmake --build "$build" -j2 --target Veltrup carvo-get
curl_bin=$(command -v curl)

bench_folders veltrup-bench
mkdir -p "$out/program" "$out/fetched"
cp "$build/AutoUpdate/Veltrup" "$out/program/"
cat >"$store" <<'EOF'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Parvix 2002\Version]
"Version"="2"
EOF

echo "Making the installer (${size_mib} MiB)..."
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/www/setup.bin"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
url="http://127.0.0.1:$port"
cat >"$work/www/Update.ini" <<EOF
[MAIN]
Version=3
File=$url/setup.bin
Shell=setup.bin
EOF
cat >"$out/program/links.ini" <<EOF
[MAIN]
UpdateFile=$url/Update.ini
EOF
start_nginx "$work" "$work/www" "$port" "$url/Update.ini"

export VB_URL="$url" VB_OUT="$out" VB_WWW="$work/www" VB_RUNS="$runs"
export VB_GET="$build/CarvoOCX/carvo-get" VB_CURL="$curl_bin"
export VB_SIZE="$((size_mib * 1024 * 1024))"

# The whole measurement runs inside one virtual X server, Veltrup's window on it.
cat >"$work/measure.py" <<'EOF'
import ctypes, filecmp, os, signal, statistics, subprocess, sys, time

url, out, www = os.environ["VB_URL"], os.environ["VB_OUT"], os.environ["VB_WWW"]
get, curl = os.environ["VB_GET"], os.environ["VB_CURL"]
runs, size = int(os.environ["VB_RUNS"]), int(os.environ["VB_SIZE"])
served = os.path.join(www, "setup.bin")
program = os.path.join(out, "program")
tick = os.sysconf("SC_CLK_TCK")

x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("no X display")

def click(x, y):
    xtst.XTestFakeMotionEvent(display, -1, x, y, 0)
    xtst.XTestFakeButtonEvent(display, 1, 1, 0)
    xtst.XTestFakeButtonEvent(display, 1, 0, 0)
    x11.XFlush(display)

def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick

def wait_until(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.002)
    return False

def size_of(path):
    try:
        return os.stat(path).st_size
    except FileNotFoundError:
        return -1

def timed(argv, target):
    if os.path.exists(target):
        os.remove(target)
    times = os.path.join(out, "time.txt")
    start = time.perf_counter()
    p = subprocess.run(["/usr/bin/time", "-f", "%U %S", "-o", times] + argv,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seconds = time.perf_counter() - start
    if p.returncode != 0:
        sys.exit(f"{argv[0]} failed with {p.returncode}:\n{p.stderr.decode(errors='replace')}")
    with open(times) as f:
        user, system = f.read().split()[-2:]
    if not filecmp.cmp(target, served, shallow=False):
        sys.exit(f"{argv[0]}: the fetched file differs from the served one")
    os.remove(target)
    return seconds, float(user) + float(system)

def veltrup():
    target = os.path.join(program, "setup.bin")
    for name in ("setup.bin", "Update.ini"):
        if os.path.exists(os.path.join(program, name)):
            os.remove(os.path.join(program, name))
    p = subprocess.Popen([os.path.join(program, "Veltrup")], stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # The window's place on the screen, then the middle of "Avançar" within it.
        origin = None
        def window():
            nonlocal origin
            r = subprocess.run(["xwininfo", "-name", "Parvix 2002 :: Auto Atualização"],
                               capture_output=True, text=True)
            if r.returncode != 0:
                return False
            values = {}
            for line in r.stdout.splitlines():
                if ":" in line:
                    key, _, value = line.partition(":")
                    values[key.strip()] = value.strip()
            origin = (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]))
            return True
        if not wait_until(window, 30):
            sys.exit("Veltrup's window did not appear")
        button = (origin[0] + 400, origin[1] + 332)
        time.sleep(0.5)
        click(*button)  # the version check
        version = os.path.join(program, "Update.ini")
        if not wait_until(lambda: size_of(version) == os.path.getsize(os.path.join(www, "Update.ini")), 30):
            sys.exit("Veltrup did not fetch the version file")
        time.sleep(0.5)
        cpu = cpu_seconds(p.pid)
        start = time.perf_counter()
        click(*button)  # the download
        while not wait_until(lambda: size_of(target) >= 0, 2):
            click(*button)  # the button was not ready yet
        if not wait_until(lambda: size_of(target) == size, 600):
            sys.exit("Veltrup did not fetch the installer")
        seconds = time.perf_counter() - start
        cpu = cpu_seconds(p.pid) - cpu
    finally:
        p.send_signal(signal.SIGTERM)
        p.wait()
    if not filecmp.cmp(target, served, shallow=False):
        sys.exit("Veltrup: the fetched file differs from the served one")
    os.remove(target)
    return seconds, cpu

fetched = os.path.join(out, "fetched", "setup.bin")
tools = {
    "curl": lambda: timed([curl, "-s", "-o", fetched, f"{url}/setup.bin"], fetched),
    "carvo-get --chunk 1024": lambda: timed([get, "--chunk", "1024", f"{url}/setup.bin", fetched], fetched),
    "Veltrup": veltrup,
}
results = {name: [] for name in tools}
tools["curl"]()  # warms the page cache
for r in range(runs):
    for name, run in tools.items():
        results[name].append(run())
        print(f"  round {r + 1}: {name:<24} {results[name][-1][0]:7.3f} s  "
              f"{results[name][-1][1]:6.2f} CPU s", flush=True)

def median(name, i):
    return statistics.median(s[i] for s in results[name])

mib = size / (1024 * 1024)
print()
print(f"{mib:.0f} MiB from nginx on 127.0.0.1, {runs} runs each (median):")
print(f"  {'':<24} {'seconds':>8} {'MiB/s':>8} {'vs curl':>8} {'CPU s':>7}")
for name in results:
    med = median(name, 0)
    print(f"  {name:<24} {med:8.3f} {mib / med:8.0f} {median('curl', 0) / med:8.2f} {median(name, 1):7.2f}")
speed = median("curl", 0) / median("Veltrup", 0)
cpu = median("Veltrup", 1) / max(median("carvo-get --chunk 1024", 1), 0.01)
print()
print(f"  goal Veltrup throughput: {speed:.2f} of curl (at least 0.6): {'met' if speed >= 0.6 else 'MISSED'}")
print(f"  goal Veltrup CPU time: {cpu:.2f} of carvo-get --chunk 1024 (at most 1.5): "
      f"{'met' if cpu <= 1.5 else 'MISSED'}")
sys.exit(0 if speed >= 0.6 and cpu <= 1.5 else 1)
EOF
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" env QT_QPA_PLATFORM=xcb python3 "$work/measure.py"
