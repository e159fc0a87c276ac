"""The tools bench/run profiles a run with: perf's samples, callgrind's
instructions, strace's system calls, and the libraries alone on a package's
own bytes, the limits the installer's inflating and hashing are up against."""

import hashlib
import os
import re
import struct
import subprocess
import time
import zlib

from report import median


def quiet(command, **options):
    return subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **options)


def perf_samples(command, data, event):
    """(share %, is kernel, symbol) of `perf record` samples of one run."""
    quiet(["perf", "record", "-e", event, "-F", "5000", "-o", data, "--"] + command)
    report = subprocess.run(["perf", "report", "-i", data, "--stdio", "--no-children", "--sort", "symbol"],
                            capture_output=True, text=True).stdout
    samples = []
    for line in report.splitlines():
        match = re.match(r"\s*([\d.]+)%\s+\[(.)\]\s+(.*?)(\s+-\s+-)?\s*$", line)
        if match:
            samples.append((float(match.group(1)), match.group(2) == "k", match.group(3)))
    return samples


def callgrind_functions(command, board, inclusive=False):
    """(share % of instructions, function) by self (or inclusive) cost, from
    one run."""
    # The installer enters the board before it writes the profile, so the
    # file is named as the board sees it.
    quiet(["valgrind", "--tool=callgrind", "--callgrind-out-file=/callgrind.out"] + command)
    out = os.path.join(board, "callgrind.out")
    report = subprocess.run(["callgrind_annotate", f"--inclusive={'yes' if inclusive else 'no'}",
                             "--threshold=100", out],
                            capture_output=True, text=True).stdout
    os.remove(out)
    functions, total = [], None
    for line in report.splitlines():
        match = re.match(r"\s*([\d,]+)\s+\(\s*[\d.]+%\)\s+(.*)$", line)
        if not match:
            continue
        cost = int(match.group(1).replace(",", ""))
        if "PROGRAM TOTALS" in match.group(2):
            total = cost
        elif total:
            name = re.sub(r"\s+\[[^]]*\]$", "", match.group(2)).split(":", 1)[-1]
            if not re.match(r"\(below main\)|main$|runMode|_start|__libc_start", name):
                functions.append((100.0 * cost / total, name))
    return functions


def system_calls(command, trace):
    """(share %, seconds, calls, name) of `strace -c -f` on one run."""
    quiet(["strace", "-f", "-c", "-o", trace] + command)
    calls = []
    for line in open(trace):
        parts = line.split()
        if len(parts) >= 5 and re.match(r"[\d.]+$", parts[0]) and parts[-1] != "total":
            calls.append((float(parts[0]), float(parts[1]), int(parts[3]), parts[-1]))
    return calls


def container_payload(vpa):
    """The file container of a package: the zlib stream of its file records."""
    with open(vpa, "rb") as source:
        data = source.read()
    offset = 8  # magic and size
    while offset + 6 <= len(data):
        kind, length = struct.unpack_from("<HI", data, offset)
        if kind == 4:
            return data[offset + 6:offset + 6 + length]
        offset += 6 + length
    raise RuntimeError(f"{vpa}: no file container")


def library_limits(vpa, runs):
    """The libraries alone on the package's own bytes: zlib inflating its file
    container fed in 16 KiB pieces, and SHA-1 over the whole file (median
    seconds). The container is inflated as the installer inflates it: the
    deflate data after its two header bytes, the Adler-32 trailer unread."""
    payload = container_payload(vpa)[2:]
    with open(vpa, "rb") as source:
        whole = source.read()

    def inflate():
        stream, view = zlib.decompressobj(-zlib.MAX_WBITS), memoryview(payload)
        for offset in range(0, len(view), 16384):
            stream.decompress(view[offset:offset + 16384])

    limits = {}
    for name, work in [("inflate", inflate), ("sha1", lambda: hashlib.sha1(whole).digest())]:
        times = []
        for _ in range(runs):
            start = time.perf_counter()
            work()
            times.append(time.perf_counter() - start)
        limits[name] = median(times)
    return limits
