#!/usr/bin/env python3
"""kalvtool extract beside 7-Zip, bsdtar and Info-ZIP unzip on a corpus of archives,
as extract_vs_peers.sh and inflate_vs_peers.sh run it; with --test, kalvtool test
beside 7z t, unzip -t and bsdtar -xO to /dev/null (decoding and CRC, nothing written),
as crc_inflate_vs_peers.sh runs it.

Each archive is extracted by every tool in turn, round after round, the tools in a
new random order each round, so that the shared machine's load falls on all alike.
Per tool: the median processor time (user + system of the process and its children,
from wait4: exact in sum), the median wall time and the peak resident set. Then the
ratios peer / kalvtool (above 1: kalvtool is faster). Every tool's output is compared
with the archive's source files once per archive.

kalvtool puts each extracted file on the disk (fsync) before it renames it into
place (many files in batches: all of a batch synced, then renamed); the peers leave
their files to the system's write-back. Its wall times include that wait, its
processor times the write-back the kernel does on its behalf.

Archives (name: what, how):
  exe_like-store     64 MiB of the machine's programs, stored
  exe_like-d6/-d9    the same, deflated by zlib at level 6 / 9
  exe_like-store-enc the same, stored with traditional encryption (Info-ZIP zip -0 -P)
  exe_like-d6-enc    deflated with traditional encryption (Info-ZIP zip -6 -P)
  text_like-store    32 MiB of C headers, stored
  text_like-d6/-d9   the same, deflated at level 6 / 9
  random-d6          32 MiB of random bytes, deflated at level 6: Deflate keeps them
                     as stored blocks (RFC 1951 3.2.4), method 8
  many_files-d6      the first 500 C headers as entries, deflated at level 6
  three_files-d6-enc three parts of exe_like's 64 MiB as three entries, deflated
                     with traditional encryption (Info-ZIP zip -6 -P)
  small_files-d6     500 text files of 1 to 20 KiB (pieces of C headers), deflated
                     at level 6 by Info-ZIP zip: the per-entry costs (file creation,
                     sync, rename) outweigh the data

usage: extract_peers.py ARCHIVE... [--runs N] [--test] [--peak-limit-mib M]
                        (--kalvtool PATH | --kalvtool NAME=PATH ...)
"""
import argparse
import filecmp
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

PASSWORD = "bench pass"
MiB = 1 << 20


def gather(root, size, keep):
    """Regular files under root that pass keep, in path order, concatenated up to size."""
    paths = []
    for d, _, names in os.walk(root):
        for n in names:
            p = os.path.join(d, n)
            if os.path.isfile(p) and not os.path.islink(p) and keep(p):
                paths.append(p)
    paths.sort()
    out = bytearray()
    for p in paths:
        if len(out) >= size:
            break
        try:
            with open(p, "rb") as f:
                out += f.read()
        except OSError:
            pass
    return bytes(out[:size])


def header_files(count):
    paths = []
    for d, _, names in os.walk("/usr/include"):
        paths += [os.path.join(d, n) for n in names if n.endswith(".h")]
    return sorted(p for p in paths if os.path.isfile(p) and not os.path.islink(p))[:count]


def build(name, work):
    """Writes archive `name` into work; returns (archive path, {entry name: source file})."""
    kind, _, rest = name.partition("-")
    method, _, enc = rest.partition("-")
    path = os.path.join(work, name + ".zip")
    if kind == "small_files":
        text = gather("/usr/include", 16 * MiB, lambda p: p.endswith(".h"))
        rnd = random.Random(500)
        src = os.path.join(work, "src-" + name)
        os.makedirs(src)
        files = {}
        for i in range(500):
            size = rnd.randint(1024, 20 * 1024)
            start = rnd.randrange(len(text) - size)
            entry = f"s{i:03d}.txt"
            with open(os.path.join(src, entry), "wb") as f:
                f.write(text[start:start + size])
            files[entry] = os.path.join(src, entry)
        subprocess.run(["zip", "-q", "-" + method[1:], path] + sorted(files), cwd=src, check=True)
        return path, files
    if kind == "three_files":
        data = gather("/usr/bin", 64 * MiB, lambda p: True)
        src = os.path.join(work, "src-" + name)
        os.makedirs(src)
        files = {}
        third = len(data) // 3
        for i in range(3):
            entry = f"part{i}.bin"
            with open(os.path.join(src, entry), "wb") as f:
                f.write(data[i * third:(i + 1) * third if i < 2 else len(data)])
            files[entry] = os.path.join(src, entry)
        level = "-" + method[1:]
        subprocess.run(["zip", "-q", level] + (["-P", PASSWORD] if enc else []) + [path] + sorted(files),
                       cwd=src, check=True)
        return path, files
    if kind == "many_files":
        files = {}
        with zipfile.ZipFile(path, "w") as z:
            for i, p in enumerate(header_files(500)):
                entry = f"h{i:04d}_{os.path.basename(p)}"
                files[entry] = p
                z.write(p, entry, compress_type=zipfile.ZIP_DEFLATED, compresslevel=6)
        return path, files
    if kind == "exe_like":
        data = gather("/usr/bin", 64 * MiB, lambda p: True)
    elif kind == "text_like":
        data = gather("/usr/include", 32 * MiB, lambda p: p.endswith(".h"))
    else:
        data = random.Random(1951).randbytes(32 * MiB)
    entry = kind + ".bin"
    src = os.path.join(work, "src-" + name)
    os.makedirs(src)
    with open(os.path.join(src, entry), "wb") as f:
        f.write(data)
    if enc:
        # Python's zipfile cannot encrypt: Info-ZIP zip writes these.
        level = "-0" if method == "store" else "-" + method[1:]
        subprocess.run(["zip", "-q", level, "-P", PASSWORD, path, entry], cwd=src, check=True)
    else:
        info = zipfile.ZipInfo(entry, date_time=(2024, 1, 1, 0, 0, 0))
        with zipfile.ZipFile(path, "w") as z:
            if method == "store":
                info.compress_type = zipfile.ZIP_STORED
                z.writestr(info, data)
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, data, compresslevel=int(method[1:]))
    return path, {entry: os.path.join(src, entry)}


def test_commands(kalvtools, archive, encrypted):
    pw = PASSWORD if encrypted else None
    cmds = {}
    for name, exe in kalvtools.items():
        cmds[name] = [exe, "test"] + (["-P", pw] if pw else []) + [archive]
    cmds["7z"] = ["7z", "t"] + ([f"-p{pw}"] if pw else []) + [archive]
    cmds["bsdtar"] = ["bsdtar", "-xOf", archive] + (["--passphrase", pw] if pw else [])
    cmds["unzip"] = ["unzip", "-tqq"] + (["-P", pw] if pw else []) + [archive]
    return cmds


def commands(kalvtools, archive, out, encrypted):
    pw = PASSWORD if encrypted else None
    cmds = {}
    for name, exe in kalvtools.items():
        cmds[name] = [exe, "extract"] + (["-P", pw] if pw else []) + ["-d", out, archive]
    cmds["7z"] = ["7z", "x", "-y"] + ([f"-p{pw}"] if pw else []) + [f"-o{out}", archive]
    cmds["bsdtar"] = ["bsdtar", "-xf", archive, "-C", out] + (["--passphrase", pw] if pw else [])
    cmds["unzip"] = ["unzip", "-qq", "-o"] + (["-P", pw] if pw else []) + ["-d", out, archive]
    return cmds


def run_once(cmd, out):
    """(processor seconds, wall seconds) of one run into a fresh, empty out."""
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        raise SystemExit(f"failed ({status}): {' '.join(cmd)}")
    return usage.ru_utime + usage.ru_stime, wall


def peak_kib(cmd, out, work):
    """Peak resident set of one run, as GNU time reports it: a process forked from
    this one starts with this one's pages, so wait4's figure would be ours."""
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    report = os.path.join(work, "time.txt")
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + cmd,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    with open(report) as f:
        return int(f.read().split()[-1])


def same_output(out, files):
    return all(filecmp.cmp(os.path.join(out, e), src, shallow=False) if os.path.exists(os.path.join(out, e))
               else False for e, src in files.items())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("archives", nargs="+")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--test", action="store_true", help="test the archives instead of extracting them")
    parser.add_argument("--peak-limit-mib", type=float, help="report kalvtool's peak memory against this budget")
    parser.add_argument("--kalvtool", action="append", required=True,
                        help="PATH, or NAME=PATH to compare several builds (the first is the one the ratios use)")
    args = parser.parse_args()
    kalvtools = {}
    for k in args.kalvtool:
        name, _, exe = k.rpartition("=")
        kalvtools[name or "kalvtool"] = os.path.abspath(exe)
    ours = next(iter(kalvtools))
    peers = ["7z", "bsdtar", "unzip"]

    summary = []
    with tempfile.TemporaryDirectory(prefix="kalv_extract_peers_") as work:
        out = os.path.join(work, "out")
        for name in args.archives:
            archive, files = build(name, work)
            encrypted = name.endswith("-enc")
            cmds = test_commands(kalvtools, archive, encrypted) if args.test else commands(kalvtools, archive, out, encrypted)
            peak = {}
            for tool, cmd in cmds.items():
                peak[tool] = peak_kib(cmd, out, work)
                if not args.test and not same_output(out, files):
                    raise SystemExit(f"{tool} extracted wrong bytes from {name}")
            samples = {tool: [] for tool in cmds}
            for _ in range(args.runs):
                order = list(cmds)
                random.shuffle(order)
                for tool in order:
                    samples[tool].append(run_once(cmds[tool], out))
            size = sum(os.path.getsize(src) for src in files.values())
            print(f"\n{name}: {len(files)} entr{'y' if len(files) == 1 else 'ies'}, {size / MiB:.1f} MiB, "
                  f"archive {os.path.getsize(archive) / MiB:.1f} MiB; medians of {args.runs} runs")
            print(f"  {'tool':12} {'cpu ms':>8} {'wall ms':>8} {'peak MiB':>9}")
            med = {}
            for tool, s in samples.items():
                med[tool] = (statistics.median(x[0] for x in s), statistics.median(x[1] for x in s), peak[tool])
                cpu, wall, rss = med[tool]
                print(f"  {tool:12} {cpu * 1e3:8.1f} {wall * 1e3:8.1f} {rss / 1024:9.1f}")
            os.remove(archive)
            shutil.rmtree(os.path.join(work, "src-" + name), ignore_errors=True)
            summary.append((name, med))

    print(f"\nRatios, peer / {ours} (above 1: {ours} is faster), median processor time | wall time")
    print(f"  {'archive':20}" + "".join(f" {p:>15}" for p in peers))
    for name, med in summary:
        k = med[ours]
        cells = "".join(f" {med[p][0] / k[0]:6.2f} | {med[p][1] / k[1]:5.2f}" for p in peers)
        print(f"  {name:20}{cells}")
    if args.peak_limit_mib:
        peak = max(med[ours][2] for _, med in summary) / 1024
        verdict = "ok" if peak < args.peak_limit_mib else "OVER"
        print(f"\n{ours} peak memory {peak:.1f} MiB (limit {args.peak_limit_mib:g} MiB): {verdict}")
    if len(kalvtools) > 1:
        print(f"\nBuilds, median processor time | wall time against {ours}")
        for name, med in summary:
            cells = "".join(f"  {t}: {med[t][0] / med[ours][0]:.2f} | {med[t][1] / med[ours][1]:.2f}"
                            for t in kalvtools if t != ours)
            print(f"  {name:20}{cells}")


if __name__ == "__main__":
    sys.exit(main())
