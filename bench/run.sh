#!/usr/bin/env bash
# Throughput and peak memory of carvo-get against the curl command line tool, both fetching the
# same file from nginx on loopback in the same run, taking turns.
#
#   bench/run.sh                 5 rounds on a 256 MiB file
#   RUNS=3 SIZE_MIB=512 bench/run.sh
#
# Builds carvo-get in Release (no sanitizers) into build-bench when needed. Not part of the
# test command: it takes a minute or two and measures time, which tests never do.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/common.sh
source "$root/bench/common.sh"
build=${BUILD_DIR:-$root/build-bench}
runs=${RUNS:-5}
size_mib=${SIZE_MIB:-256}
((runs >= 1)) || { echo "RUNS must be at least 1" >&2; exit 2; }
((size_mib >= 1)) || { echo "SIZE_MIB must be at least 1" >&2; exit 2; }

"$root/scripts/install-deps.sh"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCARVO_SANITIZE=OFF \
        -DCARVO_BUILD_TESTS=OFF
fi
cmake --build "$build" --target carvo-get
carvo_get=$build/CarvoOCX/carvo-get
curl_bin=$(command -v curl)

bench_folders carvo-bench

echo "Making the files (${size_mib} MiB, 64 MiB, 1 GiB)..."
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/www/bench.bin"
head -c "$((64 * 1024 * 1024))" /dev/urandom >"$work/www/64m.bin"
head -c "$((1024 * 1024 * 1024))" /dev/urandom >"$work/www/1g.bin"

# A free port: bind port 0 and see what the system gave.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
start_nginx "$work" "$work/www" "$port" "http://127.0.0.1:$port/"

export CARVO_BENCH_URL="http://127.0.0.1:$port"
export CARVO_BENCH_OUT="$out"
export CARVO_BENCH_WWW="$work/www"
export CARVO_BENCH_GET="$carvo_get"
export CARVO_BENCH_CURL="$curl_bin"
export CARVO_BENCH_RUNS="$runs"
export CARVO_BENCH_SIZE="$((size_mib * 1024 * 1024))"

# Each fetch runs under /usr/bin/time, whose report of the peak resident memory is the fetcher's
# own (a child forked straight from Python would count Python's pages from before its exec).
# The wall time is taken around it. Every fetched file is compared with the served one.
python3 - <<'EOF'
import filecmp, os, statistics, subprocess, sys, time

url = os.environ["CARVO_BENCH_URL"]
out = os.environ["CARVO_BENCH_OUT"]
get = os.environ["CARVO_BENCH_GET"]
curl = os.environ["CARVO_BENCH_CURL"]
runs = int(os.environ["CARVO_BENCH_RUNS"])
size = int(os.environ["CARVO_BENCH_SIZE"])
www = os.environ["CARVO_BENCH_WWW"]

def fetch(argv, target, served):
    if os.path.exists(target):
        os.remove(target)
    rss_file = os.path.join(out, "rss.txt")
    start = time.perf_counter()
    p = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", rss_file] + argv,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seconds = time.perf_counter() - start
    if p.returncode != 0:
        sys.exit(f"{argv[0]} failed with {p.returncode}:\n{p.stderr.decode(errors='replace')}")
    with open(rss_file) as f:
        rss_kib, user, system = f.read().split()[-3:]
    if not filecmp.cmp(target, os.path.join(www, served), shallow=False):
        sys.exit(f"{' '.join(argv)}: the fetched file differs from the served one")
    os.remove(target)
    return seconds, int(rss_kib) / 1024.0, float(user) + float(system)

def carvo(chunk, served):
    target = os.path.join(out, served)
    return [get, "--chunk", str(chunk), f"{url}/{served}", target], target

tools = {
    "curl": lambda: ([curl, "-s", "-o", os.path.join(out, "bench.bin"), f"{url}/bench.bin"],
                     os.path.join(out, "bench.bin")),
    "carvo-get --chunk 65536": lambda: carvo(65536, "bench.bin"),
    "carvo-get --chunk 1024": lambda: carvo(1024, "bench.bin"),
}
results = {name: [] for name in tools}
# Warm the page cache with one untimed fetch, then take turns.
fetch(*tools["curl"](), "bench.bin")
for r in range(runs):
    for name, make in tools.items():
        argv, target = make()
        results[name].append(fetch(argv, target, "bench.bin"))
        print(f"  round {r + 1}: {name:<24} {results[name][-1][0]:7.3f} s", flush=True)

def median(samples, i):
    return statistics.median(s[i] for s in samples)

mib = size / (1024 * 1024)
curl_median = median(results["curl"], 0)
print()
print(f"Throughput, {mib:.0f} MiB from nginx on 127.0.0.1, {runs} runs each (median):")
print(f"  {'':<24} {'seconds':>8} {'MiB/s':>8} {'vs curl':>8} {'CPU s':>7} {'peak RSS':>10}")
for name, samples in results.items():
    med = median(samples, 0)
    rss = max(s[1] for s in samples)
    print(f"  {name:<24} {med:8.3f} {mib / med:8.0f} {curl_median / med:8.2f} "
          f"{median(samples, 2):7.2f} {rss:6.1f} MiB")

goals = [("carvo-get --chunk 65536", 0.9), ("carvo-get --chunk 1024", 0.6)]
print()
failed = False
for name, goal in goals:
    ratio = curl_median / median(results[name], 0)
    ok = ratio >= goal
    failed |= not ok
    print(f"  goal {name}: {ratio:.2f} of curl (at least {goal}): {'met' if ok else 'MISSED'}")

small = fetch(*carvo(1024, "64m.bin"), "64m.bin")[1]
large = fetch(*carvo(1024, "1g.bin"), "1g.bin")[1]
ok = abs(large - small) <= 2.0
failed |= not ok
print()
print("Peak resident memory of carvo-get --chunk 1024:")
print(f"  64 MiB file: {small:.1f} MiB   1 GiB file: {large:.1f} MiB   "
      f"difference {large - small:+.1f} MiB (at most 2): {'met' if ok else 'MISSED'}")
sys.exit(1 if failed else 0)
EOF
