#!/usr/bin/env bash
# Builds the benchmarks (build/bench, Release at -O2) and runs them, then prints
# the ratios that the performance targets are stated in, every ratio between
# figures of the same run (medians of 5 repetitions):
#
#   aes_bench      the AES unit's hardware paths (AES-NI forced, and the one
#                  chosen here: VAES where it runs) and portable table path
#                  beside OpenSSL's EVP aes-256-ecb and table-based AES_encrypt;
#                  AES-256-GCM on each of its paths beside EVP aes-256-gcm
#   message_bench  sending and receiving through pluginFun, 63 B to 64 KiB, of
#                  lengths that are multiples of 16 and lengths that are not,
#                  and an earlier plug-in's envelopes of multiples of 16,
#                  beside the cipher alone on the same messages; sealed
#                  envelopes (a sealed key file) beside classic ones under the
#                  password and under a key file of the same first line
#
# Usage: scripts/bench.sh [aes|message|receipt]   (aes and message by default)
# Extra arguments after the part go to the benchmark programs.
#
#   receipt        not a benchmark: the long check that no envelope opens to
#                  other text across code pages (bench/receipt_check.cpp), a
#                  million two-block messages on each of the most exposed
#                  pairs, sealed now and by an earlier plug-in
# With MISTLOCK_BENCH_BASELINE=DIR (a build/bench directory of older code, made
# by this script in another worktree), the send and receive benchmarks of both
# run after the rest, alternately twice (ours, theirs, ours, theirs) and alike,
# and the per-message figures are printed side by side, each round apart.
set -euo pipefail
cd "$(dirname "$0")/.."

parts=(aes message)
if [[ $# -gt 0 && ( $1 == aes || $1 == message || $1 == receipt ) ]]; then
  parts=("$1")
  shift
fi

scripts/install-deps.sh native bench

build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  -DMISTLOCK_BENCH=ON -DMISTLOCK_CIPHER_ONLY=OFF -DMISTLOCK_TESTS=ON >/dev/null
if [[ ${parts[0]} == receipt ]]; then
  cmake --build "$build" -j2 --target receipt_check
  exec "$build/bench/receipt_check" "$@"
fi
cmake --build "$build" -j2 --target aes_bench message_bench

run() {
  local program=$1
  shift
  "$build/bench/$program" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.2 --benchmark_out="$build/$program.json" --benchmark_out_format=json "$@"
}
for part in "${parts[@]}"; do
  run "${part}_bench" "$@"
done
baseline=${MISTLOCK_BENCH_BASELINE:-}
if [[ -n $baseline && " ${parts[*]} " == *" message "* ]]; then
  for round in 1 2; do
    for side in ours baseline; do
      program=$build/bench/message_bench
      [[ $side == baseline ]] && program=$baseline/bench/message_bench
      "$program" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
        --benchmark_min_time=0.2 --benchmark_filter='^(send|receive)/' \
        --benchmark_out="$build/message_bench.$side.$round.json" --benchmark_out_format=json >/dev/null
    done
  done
fi

python3 - "$build" "$baseline" "${parts[@]}" <<'PY'
import json, os, sys

build, baseline, parts = sys.argv[1], sys.argv[2], sys.argv[3:]

def medians(path):
    """name -> CPU time in ns, from the medians of the repetitions."""
    with open(path) as f:
        data = json.load(f)
    entries = data["benchmarks"]
    agg = [b for b in entries if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median"]
    entries = agg or [b for b in entries if b.get("run_type", "iteration") == "iteration"]
    out = {}
    for b in entries:
        if b.get("error_occurred"):
            continue
        factor = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        out[b.get("run_name", b["name"])] = b["cpu_time"] * factor
    return out

def ratio(a, b):
    return a / b if a and b else float("nan")

def verdict(ok):
    return "ok" if ok else "MISSED"

if "aes" in parts:
    t = medians(os.path.join(build, "aes_bench.json"))
    print("\n== AES-256: hardware (AES-NI) and portable table paths beside OpenSSL ==")
    print("Speed ratios are CPU time of the other / ours: >= 1.0 means ours is at least as fast.\n")
    print(f"{'single block':<28} {'aesni ns':>9} {'vs EVP':>8}   {'table ns':>9} {'vs AES_en/decrypt':>18}")
    for op, label in [("encryptBlock", "encrypt, chained (latency)"), ("decryptBlock", "decrypt, chained (latency)"),
                      ("encryptBlockIndependent", "encrypt, independent"),
                      ("decryptBlockIndependent", "decrypt, independent")]:
        table_name = "openssl_AES_encrypt" if op.startswith("encrypt") else "openssl_AES_decrypt"
        hw, evp = t.get(f"{op}/aesni"), t.get(f"{op}/evp_aes_256_ecb")
        tb, ossl = t.get(f"{op}/table"), t.get(f"{op}/{table_name}")
        print(f"{label:<28} {hw or float('nan'):>9.1f} {ratio(evp, hw):>8.2f}   {tb or float('nan'):>9.1f} {ratio(ossl, tb):>18.2f}")
    print()
    print("Streams on memory streams (the bulk path); 'chosen' is the path this processor gets.\n")
    print(f"{'stream':<15} {'bytes':>6} {'aesni ns':>10} {'x table':>8} {'vs EVP/blk':>11} {'vs EVP whole':>13}"
          f" {'chosen ns':>10} {'vs EVP whole':>13} {'table ns':>10} {'vs AES_en/decrypt':>18}")
    for op in ("encryptStream", "decryptStream"):
        table_name = "openssl_AES_encrypt" if op.startswith("encrypt") else "openssl_AES_decrypt"
        sizes = sorted({int(k.split("/")[2]) for k in t if k.startswith(op + "/")})
        for n in sizes:
            hw, tb = t.get(f"{op}/aesni/{n}"), t.get(f"{op}/table/{n}")
            ch = t.get(f"{op}/chosen/{n}")
            evp, evpb = t.get(f"{op}/evp_aes_256_ecb/{n}"), t.get(f"{op}/evp_per_block/{n}")
            ossl = t.get(f"{op}/{table_name}/{n}")
            print(f"{op:<15} {n:>6} {hw or float('nan'):>10.0f} {ratio(tb, hw):>8.2f} {ratio(evpb, hw):>11.2f}"
                  f" {ratio(evp, hw):>13.3f} {ch or float('nan'):>10.0f} {ratio(evp, ch):>13.3f}"
                  f" {tb or float('nan'):>10.0f} {ratio(ossl, tb):>18.2f}")
    paths = ("table", "aesni", "vaes256", "vaes512", "chosen")
    print("\nAES-256-GCM, key set up every call (ns; 'x' = EVP aes-256-gcm's time / ours):\n")
    print(f"{'':<8} {'bytes':>6} {'EVP ns':>9}" + "".join(f" {p + ' ns':>12} {'x':>6}" for p in paths))
    for op in ("gcmSeal", "gcmOpen"):
        sizes = sorted({int(k.split("/")[2]) for k in t if k.startswith(op + "/")})
        for n in sizes:
            evp = t.get(f"{op}/evp_aes_256_gcm/{n}")
            cells = "".join(f" {t.get(f'{op}/{p}/{n}') or float('nan'):>12.0f} {ratio(evp, t.get(f'{op}/{p}/{n}')):>6.2f}"
                            for p in paths)
            print(f"{op:<8} {n:>6} {evp or float('nan'):>9.0f}{cells}")
    print("\nTargets:")
    for op in ("gcmSeal", "gcmOpen"):
        r = ratio(t.get(f"{op}/evp_aes_256_gcm/65536"), t.get(f"{op}/chosen/65536"))
        print(f"  {op} 64 KiB, chosen path vs EVP aes-256-gcm: {r:.2f} (>= 0.8) {verdict(r >= 0.8)}")
    for op in ("encryptBlock", "decryptBlock"):
        r = ratio(t.get(f"{op}/evp_aes_256_ecb"), t.get(f"{op}/aesni"))
        print(f"  {op} on AES-NI vs EVP on one block a call, chained: {r:.2f} (>= 1.0) {verdict(r >= 1.0)}")
        r = ratio(t.get(f"{op}Independent/evp_aes_256_ecb"), t.get(f"{op}Independent/aesni"))
        print(f"  {op} on AES-NI vs EVP on one block a call, independent: {r:.2f} (>= 1.0) {verdict(r >= 1.0)}")
    for op in ("encryptStream", "decryptStream"):
        r = ratio(t.get(f"{op}/table/65536"), t.get(f"{op}/aesni/65536"))
        print(f"  {op} 64 KiB, AES-NI path x table path: {r:.2f} (>= 5) {verdict(r >= 5)}")
        for path, label in (("aesni", "AES-NI path"), ("chosen", "chosen path")):
            r = ratio(t.get(f"{op}/evp_aes_256_ecb/65536"), t.get(f"{op}/{path}/65536"))
            print(f"  {op} 64 KiB, {label} vs EVP on the whole buffer: {r:.3f} (>= 1.0) {verdict(r >= 1.0)}")

if "message" in parts:
    t = medians(os.path.join(build, "message_bench.json"))
    sizes = sorted({int(k.split("/")[-1]) for k in t if k.startswith("send/")})
    kinds = (("multiples of 16", [n for n in sizes if n % 16 == 0]),
             ("not multiples of 16", [n for n in sizes if n % 16 != 0]))
    print("\n== The message path through pluginFun (AES-NI path; Windows-1251) ==")
    print("envelope = end to end less the AES-NI cipher on the same message; "
          "'/ table' = envelope over the table cipher on the same message (<= 1.0 targeted)")
    for kind, kind_sizes in kinds:
        print(f"\nLengths that are {kind}:\n")
        print(f"{'':<8} {'bytes':>6} {'pluginFun ns':>13} {'AES-NI ns':>10} {'envelope ns':>12} {'table ns':>10}"
              f" {'/ table':>8} {'module ns':>10} {'/ table':>8} {'table path ns':>14}")
        for op, cipher, alone in (("send", "encryptStream", "seal"), ("receive", "decryptStream", "open")):
            for n in kind_sizes:
                e2e, hw, tb = t.get(f"{op}/{n}"), t.get(f"{cipher}/aesni/{n}"), t.get(f"{cipher}/table/{n}")
                mod = t.get(f"{alone}/{n}")
                env = e2e - hw if e2e and hw else float("nan")
                modenv = mod - hw if mod and hw else float("nan")
                print(f"{op:<8} {n:>6} {e2e:>13.0f} {hw:>10.0f} {env:>12.0f} {tb:>10.0f} {ratio(env, tb):>8.2f}"
                      f" {modenv:>10.0f} {ratio(modenv, tb):>8.2f} {t.get(f'{op}_portable/{n}', float('nan')):>14.0f}")
    earlier = sorted(int(k.split("/")[-1]) for k in t if k.startswith("receive_earlier/"))
    if earlier:
        print("\nAn earlier plug-in's envelope (a multiple of 16 bytes, no zero fill) against the envelope sealed now:\n")
        print(f"{'bytes':>6} {'earlier ns':>11} {'now ns':>9} {'earlier / now':>14}")
        for n in earlier:
            old, new = t.get(f"receive_earlier/{n}"), t.get(f"receive/{n}")
            print(f"{n:>6} {old or float('nan'):>11.0f} {new or float('nan'):>9.0f} {ratio(old, new):>14.2f}")
    sealed_sizes = sorted(int(k.split("/")[-1]) for k in t if k.startswith("send_sealed/"))
    if sealed_sizes:
        print("\nSealed envelopes (a sealed key file) beside classic ones: under the password, and under a key file")
        print("of the same first line, which is read for every message as the sealed key file is ('x' = sealed / classic):\n")
        print(f"{'':<8} {'bytes':>6} {'sealed ns':>10} {'password ns':>12} {'x':>6} {'key file ns':>12} {'x':>6}"
              f" {'sealed, table path ns':>22}")
        for op in ("send", "receive"):
            for n in sealed_sizes:
                s, p, k = t.get(f"{op}_sealed/{n}"), t.get(f"{op}/{n}"), t.get(f"{op}_keyfile/{n}")
                print(f"{op:<8} {n:>6} {s or float('nan'):>10.0f} {p or float('nan'):>12.0f} {ratio(s, p):>6.2f}"
                      f" {k or float('nan'):>12.0f} {ratio(s, k):>6.2f}"
                      f" {t.get(f'{op}_sealed_portable/{n}', float('nan')):>22.0f}")
    print("\n'module' = envelope::seal / envelope::open alone less the cipher: the hex, UTF-8 and code-page steps")
    print("without the plug-in's per-message work (settings, UIN list file check, key block, records).")
    print("\nTargets:")
    for op, cipher in (("send", "encryptStream"), ("receive", "decryptStream")):
        for small, large in ((1024, 65536), (1000, 65535)):
            if small in sizes and large in sizes:
                r = ratio(t.get(f"{op}/{large}") / large, t.get(f"{op}/{small}") / small)
                print(f"  {op}: {large} B costs {r:.2f} x the {small} B figure a byte (<= 1.2) {verdict(r <= 1.2)}")
        for n in sizes:
            env = t[f"{op}/{n}"] - t[f"{cipher}/aesni/{n}"]
            r = ratio(env, t[f"{cipher}/table/{n}"])
            print(f"  {op} {n:>5} B: envelope / table cipher {r:.2f} (<= 1.0) {verdict(r <= 1.0)}")
    for n in (65535, 65536):
        if n in sizes:
            r = ratio(t.get(f"receive/{n}"), t.get(f"send/{n}"))
            print(f"  receive / send through pluginFun at {n} B: {r:.2f} (<= 1.25) {verdict(r <= 1.25)}")
    if 65536 in earlier:
        r = ratio(t.get("receive_earlier/65536"), t.get("send/65536"))
        print(f"  receive an earlier plug-in's 65536 B / send 65536 B: {r:.2f} (<= 1.25) {verdict(r <= 1.25)}")
    if 65536 in sealed_sizes:
        for op in ("send", "receive"):
            for classic, label in (("keyfile", "a key file"), ("", "the password")):
                name = f"{op}_{classic}/65536" if classic else f"{op}/65536"
                r = ratio(t.get(f"{op}_sealed/65536"), t.get(name))
                print(f"  {op} 65536 B sealed / classic under {label}: {r:.2f} (<= 1.0) {verdict(r <= 1.0)}")
    if baseline:
        rounds = [(medians(os.path.join(build, f"message_bench.ours.{r}.json")),
                   medians(os.path.join(build, f"message_bench.baseline.{r}.json"))) for r in (1, 2)]
        print(f"\nAgainst the baseline in {baseline}: send and receive alone, ours then the baseline, twice"
              " (CPU ns, median of 5):\n")
        print(f"{'':<8} {'bytes':>6} {'baseline 1':>11} {'ours 1':>8} {'ours/base':>10}"
              f" {'baseline 2':>11} {'ours 2':>8} {'ours/base':>10}")
        for op in ("send", "receive"):
            for n in sizes:
                cells = []
                for ours, base in rounds:
                    old, new = base.get(f"{op}/{n}"), ours.get(f"{op}/{n}")
                    cells.append(f"{old or float('nan'):>11.0f} {new or float('nan'):>8.0f} {ratio(new, old):>10.2f}")
                print(f"{op:<8} {n:>6} " + " ".join(cells))
PY
