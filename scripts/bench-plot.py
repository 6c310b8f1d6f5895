#!/usr/bin/env python3
"""Throughput against message size, from the JSON that scripts/bench.sh leaves
in build/bench: the cipher's stream routines on each path beside OpenSSL's EVP
on the whole buffer, and the whole message path through pluginFun.

Usage: scripts/bench-plot.py [BUILD_DIR [OUT.png]]
       (defaults: build/bench, docs/images/throughput.png)
Needs matplotlib (Debian: python3-matplotlib)."""
import json
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def medians(path):
    """name -> (CPU ns, label), medians of the repetitions."""
    with open(path) as f:
        entries = json.load(f)["benchmarks"]
    out = {}
    for b in entries:
        if b.get("run_type") != "aggregate" or b.get("aggregate_name") != "median" or b.get("error_occurred"):
            continue
        factor = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        out[b["run_name"]] = (b["cpu_time"] * factor, b.get("label", ""))
    return out


def series(times, prefix):
    """[(bytes, bytes per second)] of every name prefix/<bytes>."""
    points = []
    for name, (ns, _) in times.items():
        head, _, size = name.rpartition("/")
        if head == prefix and size.isdigit():
            points.append((int(size), int(size) / ns * 1e9))
    return sorted(points)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/bench"
    out = sys.argv[2] if len(sys.argv) > 2 else "docs/images/throughput.png"
    aes = medians(os.path.join(build, "aes_bench.json"))
    msg = medians(os.path.join(build, "message_bench.json"))
    chosen = next((label for name, (_, label) in aes.items() if "/chosen/" in name and label), "chosen")

    fig, axes = plt.subplots(1, 2, figsize=(11, 4.4), sharey=True)
    for ax, op, path, title in ((axes[0], "encryptStream", "send", "Encryption and sending"),
                                (axes[1], "decryptStream", "receive", "Decryption and receiving")):
        lines = [
            (aes, f"{op}/evp_aes_256_ecb", "OpenSSL EVP aes-256-ecb, whole buffer", "k", "--"),
            (aes, f"{op}/chosen", f"{op}, {chosen} (chosen here)", "tab:red", "-"),
            (aes, f"{op}/aesni", f"{op}, aes-ni, twelve blocks in flight", "tab:orange", "-"),
            (aes, f"{op}/table", f"{op}, portable tables", "tab:blue", "-"),
            (msg, path, f"{path} through pluginFun (whole message path)", "tab:green", "-"),
        ]
        for times, prefix, label, colour, style in lines:
            points = series(times, prefix)
            if points:
                ax.plot([p[0] for p in points], [p[1] / 1e9 for p in points], style, color=colour, marker="o",
                        markersize=3, label=label)
        ax.set_xscale("log", base=2)
        ax.set_yscale("log")
        ax.set_xlabel("message size, bytes")
        ax.set_title(title)
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=7, loc="lower right")
    axes[0].set_ylabel("throughput, GB/s (CPU time, median of 5)")
    fig.tight_layout()
    os.makedirs(os.path.dirname(out) or ".", exist_ok=True)
    fig.savefig(out, dpi=110)
    print(out)


if __name__ == "__main__":
    main()
