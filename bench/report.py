"""The report of bench/run: its plots (gnuplot) and bench/REPORT.md, written
from the measurements that bench/run gathers. Also the statistics both use."""

import os
import statistics
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MIB = 1 << 20


def run(command, **options):
    return subprocess.run(command, check=True, **options)


# ---------------------------------------------------------------------------
# Statistics

def median(values):
    return statistics.median(values) if values else float("nan")


def seconds(samples):
    return median([s.seconds for s in samples])


def ratio(samples, over, base):
    """Median of the per-round ratios of two contenders' wall times."""
    return median([a.seconds / b.seconds for a, b in zip(samples[over], samples[base])])


# What a function's time is spent on, by the first key its name contains.
CATEGORIES = [
    ("inflate (zlib)", ["inflate", "adler32", "updatewindow", "zmemcpy"]),
    ("hashing (SHA-1)", ["sha1_block", "SHA1_"]),
    ("copying (memcpy)", ["memcpy", "memmove"]),
    ("signature check", ["mulWide", "squareWide", "doubleScalar", "ladder", "sigHash", "FieldElement",
                         "WideElement"]),
]


def category(function, kernel=False):
    if kernel:
        return "kernel (system calls)"
    for name, keys in CATEGORIES:
        if any(key in function for key in keys):
            return name
    return "other user code"


# ---------------------------------------------------------------------------
# Plots

def plot(out_dir, name, title, xlabel, ylabel, series, logx=True, logy=True, reference=None):
    """series: label -> [(x, y)]; writes NAME.png with gnuplot. Texts are
    quoted with ' for gnuplot, so they hold none."""
    data = os.path.join(out_dir, name + ".dat")
    with open(data, "w") as out:
        for label, points in series.items():
            out.write(f"# {label}\n")
            for x, y in points:
                out.write(f"{x} {y}\n")
            out.write("\n\n")
    lines = ", ".join(f"'{data}' index {i} with linespoints lw 2 pt 7 ps 0.8 title '{label}'"
                      for i, label in enumerate(series))
    script = f"""set terminal pngcairo size 720,440 font 'sans,10'
set output '{os.path.join(out_dir, name + '.png')}'
set title '{title}'
set xlabel '{xlabel}'
set ylabel '{ylabel}'
set key top left opaque box
set grid
{'set logscale x' if logx else ''}
{'set logscale y' if logy else ''}
{f'set arrow from graph 0, first {reference} to graph 1, first {reference} nohead dt 2' if reference else ''}
plot {lines}
"""
    run(["gnuplot"], input=script.encode())
    os.remove(data)


def write_plots(out_dir, results):
    rows = results["install"]
    tools = list(rows[0]["samples"])
    for kind, name, xlabel in [("size", "install-time-size", "tree size (MiB)"),
                               ("count", "install-time-files", "files")]:
        chosen = [r for r in rows if r["kind"] == kind]
        plot(out_dir, name, f"Installing one package: wall time against {xlabel}", xlabel, "seconds (median)",
             {tool: [(r["amount"], seconds(r["samples"][tool])) for r in chosen] for tool in tools})
    sized = [r for r in rows if r["kind"] == "size"]
    plot(out_dir, "install-ratio", "Installer wall time over each peer (same rounds; below 1: faster)",
         "tree size (MiB)", "ratio (median of rounds)",
         {f"over {peer}": [(r["amount"], ratio(r["samples"], "installer", peer)) for r in sized]
          for peer in ["tar -xzf", "dpkg-deb -x", "dpkg --root -i"]}, logy=False, reference=1)
    plot(out_dir, "install-memory", "Peak resident memory against package size", "tree size (MiB)",
         "peak RSS (MiB)",
         {tool: [(r["amount"], median([s.rss_kib for s in r["samples"][tool]]) / 1024) for r in sized]
          for tool in ["installer", "tar -xzf", "dpkg-deb -x", "dpkg --root -i"]}, logy=False)
    boot = results["boot"]
    plot(out_dir, "boot-time", "Boot-time run against installed packages", "installed packages",
         "seconds (median)",
         {tool: [(r["count"], seconds(r["samples"][tool])) for r in boot] for tool in boot[0]["samples"]})


# ---------------------------------------------------------------------------
# Report

def machine():
    model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                  if line.startswith("model name")), "unknown")
    memory = next(int(line.split()[1]) for line in open("/proc/meminfo") if line.startswith("MemTotal"))
    return dict(model=model, cores=os.cpu_count(), memory=f"{memory / 1024 / 1024:.0f} GiB",
                kernel=os.uname().release, load=os.getloadavg())


def commit():
    describe = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%h %s"], capture_output=True,
                              text=True).stdout.strip()
    # The report and its plots being rewritten do not count.
    dirty = subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no", "--", ".",
                            ":!bench/REPORT.md", ":!bench/*.png"], capture_output=True, text=True).stdout.strip()
    return describe + (" (with uncommitted changes)" if dirty else "")


def bar(met):
    return "met" if met else "**missed**"


def ms(value):
    return f"{value * 1000:.1f} ms" if value < 10 else f"{value:.1f} s"


def row_for(results, kind, amount):
    return next((r for r in results["install"] if r["kind"] == kind and r["amount"] == amount), None)


def headline(results, config):
    lines = ["| Bar | Figure | Limit | |", "|---|---|---|---|"]
    big = row_for(results, "size", config["mode_size"])
    small = row_for(results, "size", min(config["sizes"]))
    largest = row_for(results, "size", max(config["sizes"]))
    if big:
        s = big["samples"]
        for peer, limit in [("dpkg-deb -x", 1.0), ("dpkg --root -i", 0.8)]:
            r = ratio(s, "installer", peer)
            lines.append(f"| installing {big['label']}, installer / `{peer}` | {r:.2f}× "
                         f"({ms(seconds(s['installer']))} / {ms(seconds(s[peer]))}) | ≤ {limit}× | {bar(r <= limit)} |")
    if small and largest:
        low = median([x.rss_kib for x in small["samples"]["installer"]]) / 1024
        high = median([x.rss_kib for x in largest["samples"]["installer"]]) / 1024
        lines.append(f"| peak memory installing {largest['label']} against {small['label']} | "
                     f"{high:.2f} MiB against {low:.2f} MiB (+{high - low:.2f}) | within 1 MiB, ≤ 4 MiB | "
                     f"{bar(high - low <= 1 and high <= 4)} |")
    boot = next((r for r in results["boot"] if r["count"] == 100), None)
    if boot:
        r = ratio(boot["samples"], "installer (no-op upgrade)", "dpkg-query -W")
        lines.append(f"| boot-time run, 100 installed, installer / `dpkg-query -W` | {r:.2f}× "
                     f"({ms(seconds(boot['samples']['installer (no-op upgrade)']))} / "
                     f"{ms(seconds(boot['samples']['dpkg-query -W']))}) | ≤ 0.5× | {bar(r <= 0.5)} |")
    micro = results["micro"]
    inflate = micro["stream"]["BM_InflateStreamOverZlib"]
    lines.append(f"| inflating stream / plain zlib `inflate` (throughput) | {inflate['throughput_ratio']:.2f}× "
                 f"({inflate['ours_MBps']:.0f} / {inflate['zlib_MBps']:.0f} MB/s) | ≥ 0.9× | "
                 f"{bar(inflate['throughput_ratio'] >= 0.9)} |")
    hashing = micro["stream"]["BM_StreamHashOverSha1"]
    lines.append(f"| hashing package stream / libcrypto SHA-1 alone (throughput) | "
                 f"{hashing['throughput_ratio']:.2f}× ({hashing['ours_MBps']:.0f} / {hashing['sha1_MBps']:.0f} "
                 f"MB/s) | ≥ 0.9× | {bar(hashing['throughput_ratio'] >= 0.9)} |")
    signature = micro["signature"]["BM_SignatureCheckOverSodium"]["time_ratio"]
    lines.append(f"| signature check (64-bit code) / libsodium Ed25519 verify (time) | {signature:.2f}× | ≤ 1.5× | "
                 f"{bar(signature <= 1.5)} |")
    return "\n".join(lines)


def floor_note(results, config):
    """How close a single-threaded install can come to the peers: inflating
    the tree with plain zlib alone, against their wall times."""
    row = row_for(results, "size", config["mode_size"])
    if not row:
        return ""
    s = row["samples"]
    floor = results["profile"]["limits"]["inflate"]
    return (f"Inflating the {row['label']} package's file container with zlib alone takes "
            f"{ms(floor)}: {floor / seconds(s['dpkg-deb -x']):.2f}× `dpkg-deb -x` and "
            f"{floor / seconds(s['dpkg --root -i']):.2f}× `dpkg --root -i` in wall time, which inflate in one "
            f"process and write in another, on both cores. A single-threaded installer cannot go below that floor; "
            f"in processor time, what a single-core board pays, the installer takes "
            f"{median([(a.user + a.system) / (b.user + b.system) for a, b in zip(s['installer'], s['dpkg-deb -x'])]):.2f}× "
            f"`dpkg-deb -x` and "
            f"{median([(a.user + a.system) / (b.user + b.system) for a, b in zip(s['installer'], s['dpkg --root -i'])]):.2f}× "
            f"`dpkg --root -i`. The installer's wall time exceeds its processor time by "
            f"{ms(median([a.seconds - a.user - a.system for a in s['installer']]))}: the time it waits, for its "
            f"commit's `syncfs` of the file systems it changed and, on a shared machine, for a processor.")


def install_table(results):
    rows = results["install"]
    tools = list(rows[0]["samples"])
    lines = ["| Tree | Files | .vpa / .deb | " + " | ".join(f"`{t}`" for t in tools) +
             " | installer / `dpkg-deb -x` | installer / `dpkg --root -i` | installer / `tar -xzf` |",
             "|---|---|---|" + "---|" * (len(tools) + 3)]
    for r in rows:
        s = r["samples"]
        lines.append(f"| {r['label']} ({r['bytes'] / MIB:.1f} MiB) | {r['files']} | "
                     f"{r['vpa'] / MIB:.1f} / {r['deb'] / MIB:.1f} MiB | " +
                     " | ".join(ms(seconds(s[t])) for t in tools) +
                     f" | {ratio(s, 'installer', 'dpkg-deb -x'):.2f}× | {ratio(s, 'installer', 'dpkg --root -i'):.2f}×"
                     f" | {ratio(s, 'installer', 'tar -xzf'):.2f}× |")
    return "\n".join(lines)


def cpu(samples):
    return median([s.user + s.system for s in samples])


def cpu_table(results):
    """Processor time, which is what a single-core board pays: tar, dpkg-deb
    and dpkg inflate in one process and write in another, so their wall
    time on two cores hides part of it."""
    rows = results["install"]
    tools = list(rows[0]["samples"])
    lines = ["| Tree | " + " | ".join(f"`{t}`" for t in tools) +
             " | installer / `dpkg-deb -x` | installer / `dpkg --root -i` |",
             "|---|" + "---|" * (len(tools) + 2)]
    for r in rows:
        s = r["samples"]
        cpu_ratio = lambda peer: median([(a.user + a.system) / (b.user + b.system)
                                         for a, b in zip(s["installer"], s[peer])])
        lines.append(f"| {r['label']} | " + " | ".join(ms(cpu(s[t])) for t in tools) +
                     f" | {cpu_ratio('dpkg-deb -x'):.2f}× | {cpu_ratio('dpkg --root -i'):.2f}× |")
    return "\n".join(lines)


def memory_table(results):
    tools = ["installer", "tar -xzf", "dpkg-deb -x", "dpkg --root -i"]
    lines = ["| Tree | " + " | ".join(f"`{t}`" for t in tools) + " |", "|---|" + "---|" * len(tools)]
    for r in results["install"]:
        lines.append(f"| {r['label']} | " + " | ".join(
            f"{median([x.rss_kib for x in r['samples'][t]]) / 1024:.2f} MiB" for t in tools) + " |")
    return "\n".join(lines)


def boot_table(results):
    empty = "installer (no-op upgrade, empty board)"
    lines = ["| Installed packages | no-op upgrade | `--show` | `dpkg-query -W` | `true` | no-op upgrade, empty board | "
             "upgrade / dpkg-query | --show / dpkg-query | upgrade / dpkg-query, processor time |",
             "|---|---|---|---|---|---|---|---|---|"]
    for r in results["boot"]:
        s = r["samples"]
        lines.append(f"| {r['count']} | {ms(seconds(s['installer (no-op upgrade)']))} | "
                     f"{ms(seconds(s['installer --show']))} | {ms(seconds(s['dpkg-query -W']))} | "
                     f"{ms(seconds(s['true (starting a process)']))} | {ms(seconds(s[empty]))} | "
                     f"{ratio(s, 'installer (no-op upgrade)', 'dpkg-query -W'):.2f}× | "
                     f"{ratio(s, 'installer --show', 'dpkg-query -W'):.2f}× | "
                     f"{cpu(s['installer (no-op upgrade)']) / cpu(s['dpkg-query -W']):.2f}× "
                     f"({ms(cpu(s['installer (no-op upgrade)']))} / {ms(cpu(s['dpkg-query -W']))}) |")
    hundred = next((r["samples"] for r in results["boot"] if r["count"] == 100), None)
    if hundred:
        half, floor = seconds(hundred['dpkg-query -W']) / 2, seconds(hundred[empty])
        lines += ["", f"Half of `dpkg-query -W` on 100 packages is {ms(half)}; "
                  f"starting `true` alone takes {ms(seconds(hundred['true (starting a process)']))} here, and the "
                  f"installer on an empty board {ms(floor)} ({ratio(hundred, empty, 'dpkg-query -W'):.2f}× "
                  f"`dpkg-query -W` on 100 packages) before it reads a single entry. "
                  + (f"That leaves {ms(half - floor)} for 100 packages under the bar, "
                     f"{(half - floor) / 100 * 1e6:.1f} µs each, "
                     if half > floor else "That leaves nothing for 100 packages under the bar, ")
                  + f"against {(seconds(hundred['installer (no-op upgrade)']) - floor) / 100 * 1e6:.1f} µs each "
                  f"now, {results.get('boot_calls_per_package', 0):.1f} system calls (strace) on every entry: its "
                  f"stored image opened, its size asked, read and closed, and a look for `disabled` and for "
                  f"`enabled`."]
    return "\n".join(lines)


def boot_profile_table(results):
    if "boot_profile" not in results:
        return ""
    lines = ["Where the no-op run with 100 installed packages spends its instructions (callgrind, inclusive "
             "cost, the largest entries):", "", "| Function | Share of instructions |", "|---|---|"]
    lines += [f"| `{name[:100]}` | {share:.1f}% |" for share, name in results["boot_profile"][:14]]
    return "\n".join(lines)


def modes_table(results, config):
    s = results["modes"]
    safe_commit = [a.seconds + b.seconds for a, b in zip(s["--safe"], s["--commit"])]
    upgrade = [x.seconds for x in s["upgrade"]]
    x = results["cross_device"]["samples"]
    return "\n".join([
        "| Run | Time | Against | Ratio |", "|---|---|---|---|",
        f"| `--safe` then `--commit` ({config['mode_size']} MiB) | {ms(median(safe_commit))} "
        f"({ms(seconds(s['--safe']))} + {ms(seconds(s['--commit']))}) | direct upgrade {ms(median(upgrade))} | "
        f"{median([a / b for a, b in zip(safe_commit, upgrade)]):.2f}× |",
        f"| image mode from standard input ({config['mode_size']} MiB) | {ms(seconds(s['image mode']))} | "
        f"direct upgrade {ms(median(upgrade))} | {ratio(s, 'image mode', 'upgrade'):.2f}× |",
        f"| cross-device `--commit` from /ram ({results['cross_device']['staged_in_ram']} files) | "
        f"{ms(seconds(x['--commit from /ram']))} | `cp -r` of the same files {ms(seconds(x['cp -r']))} | "
        f"{ratio(x, '--commit from /ram', 'cp -r'):.2f}× |",
    ])


def micro_table(results):
    m = results["micro"]
    lines = ["| Benchmark | Ours | Library | Ratio |", "|---|---|---|---|"]
    inflate, hashing = m["stream"]["BM_InflateStreamOverZlib"], m["stream"]["BM_StreamHashOverSha1"]
    lines.append(f"| inflating stream, 16 MiB of /usr | {inflate['ours_MBps']:.0f} MB/s | plain zlib "
                 f"{inflate['zlib_MBps']:.0f} MB/s | {inflate['throughput_ratio']:.2f}× throughput |")
    lines.append(f"| hashing package stream, 16 MiB | {hashing['ours_MBps']:.0f} MB/s | libcrypto SHA-1 "
                 f"{hashing['sha1_MBps']:.0f} MB/s | {hashing['throughput_ratio']:.2f}× throughput |")
    for key, label in [("signature", "64-bit"), ("signature_portable", "portable 32-bit limbs")]:
        b = m[key]
        lines.append(f"| signature check, {label} | {b['BM_SignatureCheck']['real_time']:.1f} µs | libsodium "
                     f"Ed25519 verify {b['BM_SodiumEd25519Verify']['real_time']:.1f} µs | "
                     f"{b['BM_SignatureCheckOverSodium']['time_ratio']:.2f}× time (alternating) |")
    lines += ["", "| Planning | 10 packages | 100 packages | 1,000 packages | 1,000 over 100 |",
              "|---|---|---|---|---|"]
    for name in ["BM_PlanActions", "BM_SelectCandidates"]:
        times = [m["planning"][f"{name}/{n}"]["real_time"] for n in (10, 100, 1000)]
        unit = m["planning"][f"{name}/10"]["time_unit"]
        lines.append(f"| `{name[3:]}` | " + " | ".join(f"{t:.2f} {unit}" for t in times) +
                     f" | {times[2] / times[1]:.1f}× |")
    return "\n".join(lines)


def profile_section(results, config):
    p = results["profile"]
    row = row_for(results, "size", p["size"])
    s = row["samples"]
    user = median([x.user for x in s["installer"]])
    system = median([x.system for x in s["installer"]])
    cpu = user + system
    limits = {
        "inflate (zlib)": (p["limits"]["inflate"], "zlib alone inflating the package's file container"),
        "hashing (SHA-1)": (p["limits"]["sha1"], "libcrypto's SHA-1 alone over the package file"),
        "kernel (system calls)": (median([x.system for x in s["cp -r"]]),
                                  "system time of `cp -r` of the tree, same run"),
    }
    lines = [f"The {row['label']} install ({row['files']} files, package {row['vpa'] / MIB:.1f} MiB): median "
             f"{ms(seconds(s['installer']))} wall, {ms(user)} user and {ms(system)} system time."]
    if "samples" in p:
        shares = {}
        for share, kernel, name in p["samples"]:
            key = category(name, kernel)
            shares[key] = shares.get(key, 0) + share
        event = "cycles" if p["counts"] else "its timer (`cpu-clock`; this machine has no counters perf can read)"
        lines += ["", f"Processor time by what it is spent on, from `perf record` sampling {event}, against the "
                  "limit each is up against:", "",
                  "| Work | Share | Time in the install | Limit | Over the limit |", "|---|---|---|---|---|"]
        for name in ["inflate (zlib)", "hashing (SHA-1)", "kernel (system calls)", "copying (memcpy)",
                     "signature check", "other user code"]:
            spent = shares.get(name, 0) / 100 * cpu
            if name in limits:
                floor, basis = limits[name]
                lines.append(f"| {name} | {shares.get(name, 0):.1f}% | {ms(spent)} | {ms(floor)}: {basis} | "
                             f"{spent / floor:.2f}× |")
            else:
                lines.append(f"| {name} | {shares.get(name, 0):.1f}% | {ms(spent)} | — | — |")
        lines += ["", "| Function (sampled time, user and kernel) | Share |", "|---|---|"]
        lines += [f"| `{name[:80]}`{' (kernel)' if kernel else ''} | {share:.1f}% |"
                  for share, kernel, name in p["samples"][:15]]
    if "instructions" in p:
        lines += ["", "Instructions by function (self cost), from `valgrind --tool=callgrind`, since perf cannot "
                  "count them here. Valgrind hides the processor's SHA extensions, so SHA-1 runs its AVX2 code "
                  "there and its share is larger than in a real run:", "",
                  "| Function | Share of instructions |", "|---|---|"]
        lines += [f"| `{name[:80]}` | {share:.1f}% |" for share, name in p["instructions"][:12]]
    lines += ["", "System calls, from `strace -c -f` (its own overhead inflates the times):", "",
              "| System call | Share of system call time | Calls |", "|---|---|---|"]
    lines += [f"| `{name}` | {share:.1f}% | {calls} |" for share, secs, calls, name in p["syscalls"][:12]]
    return "\n".join(lines)


def write_report(out_dir, results, config, quick, started, machine_start):
    machine_end = machine()
    text = f"""# Performance report

Written by `bench/run{' --quick' if quick else ''}`; do not edit by hand.

- Date: {started.strftime('%Y-%m-%d %H:%M UTC')}, {results['duration'] / 60:.1f} minutes
- Commit: {commit()}
- Machine: {machine_start['model']}, {machine_start['cores']} cores, {machine_start['memory']}, Linux {machine_start['kernel']}
- Load average (1, 5, 15 min): {' / '.join(f'{x:.2f}' for x in machine_start['load'])} at the start, {' / '.join(f'{x:.2f}' for x in machine_end['load'])} at the end (a shared machine: other builds run beside)
- Method: Release build (`build-bench/`), scratch boards and trees on tmpfs. Every time is the median of {config['runs']} rounds (boot-time runs: {3 * config['runs']}); in each round the tools run one after the other in a rotating order, and every ratio is the median of the per-round ratios. Micro benchmarks: medians of {config['micro_repetitions']} Google Benchmark repetitions, both sides alternating inside each iteration.

## Bars

{headline(results, config)}

{floor_note(results, config)}

## Installing one package

An upgrade run (`installer -r BOARD` with the package in `/flash/rw/pckg/`: read, inflate, hash, check the signature, stage every file, commit, syncfs) against unpacking the same tree with `tar -xzf`, `dpkg-deb -x` and `dpkg --root -i` of a gzip Debian package (a fresh admin dir each time), and `cp -r` of the unpacked tree (pure writing). Trees are files of /usr (programs, libraries, text), each no larger than an eighth of the tree; the small-file trees take files of at most 16 KiB.

{install_table(results)}

Processor time (user and system, of every process of the tool):

{cpu_table(results)}

![wall time against size](install-time-size.png)

![installer's time over each peer's](install-ratio.png)

![wall time against file count](install-time-files.png)

## Peak memory

Peak resident size (`wait4`) of each tool.

{memory_table(results)}

![peak memory against size](install-memory.png)

## Boot-time run

An upgrade run with nothing to install, and `--show`, on a board with N installed packages each kept as a stored image, against `dpkg-query -W` on an admin dir of N packages (status stanzas and file lists as dpkg writes them). `true` is the cost of starting any process here, timed the same way.

{boot_table(results)}

![boot-time run](boot-time.png)

{boot_profile_table(results)}

## Other modes

{modes_table(results, config)}

The cross-device case stages every file in `/ram`, a second tmpfs (the package's files lie below a directory whose path leaves no room for a temporary name beside it), and `installer --commit` copies them to `/flash`; `cp -r` copies the same files between the same two file systems.

## Micro benchmarks

{micro_table(results)}

## Where the time goes

{profile_section(results, config)}
"""
    with open(os.path.join(out_dir, "REPORT.md"), "w") as out:
        out.write(text)


