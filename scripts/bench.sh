#!/usr/bin/env bash
# Builds the AES benchmark (build/bench, Release at -O2) and runs it: this
# unit's block and stream routines beside OpenSSL's table-based AES_encrypt /
# AES_decrypt and EVP aes-256-ecb. Then prints, per operation and size, how
# many times faster this unit is (OpenSSL's CPU time / ours; >= 1.0 means at
# least as fast), from the median of the repetitions.
# Extra arguments go to the benchmark, e.g. --benchmark_filter=Block.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native bench

build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  -DMISTLOCK_BENCH=ON -DMISTLOCK_CIPHER_ONLY=ON -DMISTLOCK_TESTS=OFF >/dev/null
cmake --build "$build" --target aes_bench

json="$build/aes_bench.json"
"$build/bench/aes_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.2 --benchmark_out="$json" --benchmark_out_format=json "$@"

python3 - "$json" <<'PY'
import json, sys

with open(sys.argv[1]) as f:
    data = json.load(f)

# "<operation>/<implementation>[/<bytes>]_median" -> CPU time in ns
# With repetitions, take the medians; with a single run, the runs themselves.
entries = data["benchmarks"]
medians = [b for b in entries if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median"]
if medians:
    entries = medians
else:
    entries = [b for b in entries if b.get("run_type", "iteration") == "iteration"]

times = {}
for b in entries:
    name = b.get("run_name", b["name"])
    parts = name.split("/")
    op, impl = parts[0], parts[1]
    size = parts[2] if len(parts) > 2 else "16"
    factor = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
    times[(op, size, impl)] = b["cpu_time"] * factor

rows = sorted({(op, size) for op, size, _ in times}, key=lambda k: (k[0], int(k[1])))
print()
print("Speed ratios: CPU time of the other / ours (medians when repeated); >= 1.0: ours at least as fast")
print(f"{'operation':<15} {'bytes':>6} {'ours ns':>10} {'vs AES_en/decrypt':>18} {'vs EVP ecb':>11}")
worst = None
for op, size in rows:
    ours = times.get((op, size, "mistlock"))
    table = next((v for (o, s, i), v in times.items() if o == op and s == size and i.startswith("openssl_")), None)
    evp = times.get((op, size, "evp_aes_256_ecb"))
    if ours is None:
        continue
    r_table = table / ours if table else float("nan")
    r_evp = evp / ours if evp else float("nan")
    if table:
        worst = r_table if worst is None else min(worst, r_table)
    print(f"{op:<15} {size:>6} {ours:>10.1f} {r_table:>18.2f} {r_evp:>11.3f}")
if worst is not None:
    print(f"\nLowest ratio against OpenSSL's table-based AES: {worst:.2f} (target >= 1.0)")
PY
