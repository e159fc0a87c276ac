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

# One colour for each tool in every plot (Okabe and Ito's palette, told apart
# also by the colour-blind); the installer's other runs are its colour dashed.
COLOURS = {"installer": "#D55E00", "tar -xzf": "#0072B2", "dpkg-deb -x": "#009E73", "dpkg --root -i": "#CC79A7",
           "cp -r": "#999999", "dpkg-query -W": "#56B4E9", "true (starting a process)": "#000000"}
DASHES = {"installer --show": 2, "installer (no-op upgrade, empty board)": 3}
PEERS = ["tar -xzf", "dpkg-deb -x", "dpkg --root -i"]


def colour(tool):
    return COLOURS.get(tool, COLOURS["installer"] if tool.startswith("installer") else "#E69F00")


def plot(out_dir, name, title, ylabel, panels, logy=True, reference=None):
    """panels: [(xlabel, series)] side by side, on logarithmic x axes;
    series: [(tool, title, [(x, y)])], drawn in the tool's colour. Writes
    NAME.png with gnuplot; texts are quoted with ' for gnuplot, so they hold
    none."""
    data = os.path.join(out_dir, name + ".dat")
    script = [f"set terminal pngcairo size {720 if len(panels) == 1 else 520 * len(panels)},440 font 'sans,10'",
              f"set output '{os.path.join(out_dir, name + '.png')}'",
              f"set multiplot layout 1,{len(panels)} title '{title}'",
              f"set ylabel '{ylabel}'", "set key below box", "set bmargin 7", "set grid", "set logscale x",
              "set logscale y" if logy else "unset logscale y"]
    if reference:
        script.append(f"set arrow from graph 0, first {reference} to graph 1, first {reference} nohead dt 2")
    index = 0
    with open(data, "w") as out:
        for xlabel, series in panels:
            lines = []
            for tool, label, points in series:
                out.write(f"# {label}\n" + "".join(f"{x} {y}\n" for x, y in points) + "\n\n")
                lines.append(f"'{data}' index {index} with linespoints lw 2 pt 7 ps 0.8 "
                             f"lc rgb '{colour(tool)}' dt {DASHES.get(tool, 1)} title '{label}'")
                index += 1
            script += [f"set xlabel '{xlabel}'", "plot " + ", ".join(lines)]
    run(["gnuplot"], input=("\n".join(script) + "\nunset multiplot\n").encode())
    os.remove(data)


def rss(samples):
    return median([s.rss_kib for s in samples]) / 1024


def write_plots(out_dir, results):
    rows = results["install"]
    tools = list(rows[0]["samples"])
    families = [("tree size (MiB)", [r for r in rows if r["kind"] == "size"]),
                ("files, each at most 16 KiB", [r for r in rows if r["kind"] == "count"])]
    for (xlabel, chosen), name in zip(families, ["install-time-size", "install-time-files"]):
        plot(out_dir, name, f"Installing one package: wall time against {xlabel}", "seconds (median)",
             [(xlabel, [(t, t, [(r["amount"], seconds(r["samples"][t])) for r in chosen]) for t in tools])])
    plot(out_dir, "install-ratio", "Installer wall time over each peer (same rounds; below 1: faster)",
         "ratio (median of rounds)",
         [(xlabel, [(peer, f"over {peer}", [(r["amount"], ratio(r["samples"], "installer", peer)) for r in chosen])
                    for peer in PEERS]) for xlabel, chosen in families], logy=False, reference=1)
    plot(out_dir, "install-memory", "Peak resident memory against the package", "peak RSS (MiB)",
         [(xlabel, [(t, t, [(r["amount"], rss(r["samples"][t])) for r in chosen]) for t in ["installer"] + PEERS])
          for xlabel, chosen in families], logy=False)
    boot = results["boot"]
    plot(out_dir, "boot-time", "Boot-time run against installed packages", "seconds (median)",
         [("installed packages", [(t, t, [(r["count"], seconds(r["samples"][t])) for r in boot])
                                  for t in boot[0]["samples"]])])


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


def row_of_kind(results, kind):
    return next((r for r in results["install"] if r["kind"] == kind), None)


def cpu(samples):
    return median([s.user + s.system for s in samples])


def cpu_ratio(samples, over, base):
    """Median of the per-round ratios of two contenders' processor times."""
    return median([(a.user + a.system) / (b.user + b.system) for a, b in zip(samples[over], samples[base])])


def install_bar(row, peer, limit, processor=False):
    s = row["samples"]
    figure, time = (cpu_ratio, cpu) if processor else (ratio, seconds)
    r = figure(s, "installer", peer)
    return (f"| installing {row['label']}, installer / `{peer}`{', processor time' if processor else ''} | "
            f"{r:.2f}× ({ms(time(s['installer']))} / {ms(time(s[peer]))}) | ≤ {limit}× | {bar(r <= limit)} |")


def memory_bar(many, few, within, most=None):
    high, low = rss(many["samples"]["installer"]), rss(few["samples"]["installer"])
    return (f"| peak memory installing {many['label']} against {few['label']} | {high:.2f} MiB against "
            f"{low:.2f} MiB ({high - low:+.2f}) | within {within} MiB{f', ≤ {most} MiB' if most else ''} | "
            f"{bar(high - low <= within and (not most or high <= most))} |")


def headline(results, config):
    lines = ["| Bar | Figure | Limit | |", "|---|---|---|---|"]
    big = row_for(results, "size", config["mode_size"])
    if big:
        lines += [install_bar(big, "dpkg-deb -x", 0.95), install_bar(big, "dpkg --root -i", 0.8)]
    mixed = row_of_kind(results, "mixed")
    if mixed:
        lines.append(install_bar(mixed, "dpkg-deb -x", 0.95))
    for count, limit, processor_limit in [(1000, 1.0, None), (10000, 1.2, 0.9)]:
        row = row_for(results, "count", count)
        if row:
            lines.append(install_bar(row, "dpkg-deb -x", limit))
            if processor_limit:
                lines.append(install_bar(row, "dpkg-deb -x", processor_limit, processor=True))
    fewest, most = row_for(results, "count", min(config["counts"])), row_for(results, "count", max(config["counts"]))
    if fewest and most and fewest is not most:
        lines.append(memory_bar(most, fewest, 0.5))
    small = row_for(results, "size", min(config["sizes"]))
    largest = row_for(results, "size", max(config["sizes"]))
    if small and largest and small is not largest:
        lines.append(memory_bar(largest, small, 1, 4))
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
    sizes = results["sizes"]
    if sizes["board"] and sizes["board_limit"]:
        lines.append(f"| stripped PowerPC installer | {sizes['board']:,} bytes | ≤ {sizes['board_limit']:,} bytes | "
                     f"{bar(sizes['board'] <= sizes['board_limit'])} |")
    return "\n".join(lines)


def floor_note(results, config):
    """How close an install can come to the peers: inflating the tree with
    plain zlib alone, against their wall times."""
    row = row_for(results, "size", config["mode_size"])
    if not row:
        return ""
    s = row["samples"]
    floor = results["profile"]["limits"]["inflate"]
    waited = median([a.seconds - a.user - a.system for a in s["installer"]])
    overlap = (f"The installer's wall time exceeds its processor time by {ms(waited)}: the time it waits, for its "
               f"commit's `syncfs` of the file systems it changed and, on a shared machine, for a processor."
               if waited >= 0 else
               f"The installer's processor time exceeds its wall time by {ms(-waited)}: its two threads at work at "
               f"once.")
    return (f"Inflating the {row['label']} package's file container with zlib alone takes "
            f"{ms(floor)}: {floor / seconds(s['dpkg-deb -x']):.2f}× `dpkg-deb -x` and "
            f"{floor / seconds(s['dpkg --root -i']):.2f}× `dpkg --root -i` in wall time. Each of the three inflates "
            f"on one core and writes on the other: the peers in two processes, the installer on a thread of its own "
            f"beside the one that writes. The installer's wall time is {seconds(s['installer']) / floor:.2f}× that "
            f"floor (measured apart, outside the rounds). In processor time, what a single-core board pays, the "
            f"installer takes {cpu_ratio(s, 'installer', 'dpkg-deb -x'):.2f}× `dpkg-deb -x` and "
            f"{cpu_ratio(s, 'installer', 'dpkg --root -i'):.2f}× `dpkg --root -i`. " + overlap)


def install_table(results):
    rows = results["install"]
    tools = list(rows[0]["samples"])
    lines = ["| Tree | Files | .vpa / .deb | " + " | ".join(f"`{t}`" for t in tools) +
             " | installer / `dpkg-deb -x` | installer / `dpkg --root -i` | installer / `tar -xzf` | "
             "system calls per file, installer / `dpkg-deb -x` |",
             "|---|---|---|" + "---|" * (len(tools) + 4)]
    for r in rows:
        s = r["samples"]
        lines.append(f"| {r['label']} ({r['bytes'] / MIB:.1f} MiB) | {r['files']} | "
                     f"{r['vpa'] / MIB:.1f} / {r['deb'] / MIB:.1f} MiB | " +
                     " | ".join(ms(seconds(s[t])) for t in tools) +
                     f" | {ratio(s, 'installer', 'dpkg-deb -x'):.2f}× | {ratio(s, 'installer', 'dpkg --root -i'):.2f}×"
                     f" | {ratio(s, 'installer', 'tar -xzf'):.2f}× | "
                     f"{r['calls']['installer']:.1f} / {r['calls']['dpkg-deb -x']:.1f} |")
    return "\n".join(lines)


def cpu_table(results):
    """Processor time, which is what a single-core board pays: tar, dpkg-deb
    and dpkg inflate in one process and write in another, and the installer
    inflates on a thread of its own, so that their wall time on two cores
    hides part of it."""
    rows = results["install"]
    tools = list(rows[0]["samples"])
    lines = ["| Tree | " + " | ".join(f"`{t}`" for t in tools) +
             " | installer / `dpkg-deb -x` | installer / `dpkg --root -i` |",
             "|---|" + "---|" * (len(tools) + 2)]
    for r in rows:
        s = r["samples"]
        lines.append(f"| {r['label']} | " + " | ".join(ms(cpu(s[t])) for t in tools) +
                     f" | {cpu_ratio(s, 'installer', 'dpkg-deb -x'):.2f}× | "
                     f"{cpu_ratio(s, 'installer', 'dpkg --root -i'):.2f}× |")
    return "\n".join(lines)


def many_files_note(results):
    """The installer against `dpkg-deb -x` where files are many, in words
    taken from the tables above."""
    sentences = []
    for r in [r for r in results["install"] if r["kind"] in ("count", "mixed")]:
        s = r["samples"]
        what = (f"{r['files']} files of at most 16 KiB ({r['bytes'] / MIB:.1f} MiB)" if r["kind"] == "count" else
                f"the {r['files']} mixed files ({r['bytes'] / MIB:.1f} MiB)")
        sentences.append(f"With {what} the installer takes {ratio(s, 'installer', 'dpkg-deb -x'):.2f}× the wall time "
                         f"of `dpkg-deb -x` and {cpu_ratio(s, 'installer', 'dpkg-deb -x'):.2f}× its processor "
                         f"time, and makes {r['calls']['installer']:.1f} system calls per file against "
                         f"{r['calls']['dpkg-deb -x']:.1f}.")
    return (" ".join(sentences) + " System calls are counted with `strace -f -c` (every process of the tool) "
            "in one run of each tree outside the timed rounds, and divided by the tree's files.")


def memory_table(results):
    tools = ["installer"] + PEERS
    lines = ["| Tree | " + " | ".join(f"`{t}`" for t in tools) + " |", "|---|" + "---|" * len(tools)]
    for r in results["install"]:
        lines.append(f"| {r['label']} | " + " | ".join(f"{rss(r['samples'][t]):.2f} MiB" for t in tools) + " |")
    return "\n".join(lines)


def sizes_section(results):
    sizes = results["sizes"]
    lines = ["| Installer | Stripped size |", "|---|---|"]
    if sizes["host"]:
        lines.append(f"| host ({os.uname().machine}, the Release build in `build-bench/`) | {sizes['host']:,} bytes |")
    if sizes["board"]:
        when = ("built in this run" if sizes["board_built"] else
                f"built before this run, {sizes['board_date'].strftime('%Y-%m-%d %H:%M')}")
        limit = f"; the flash allows {sizes['board_limit']:,}" if sizes["board_limit"] else ""
        lines.append(f"| board (static, PowerPC, `{sizes['board_dir']}/` as `scripts/target-test` builds it, "
                     f"{when}{limit}) | {sizes['board']:,} bytes |")
    else:
        lines.append("| board (static, PowerPC) | not measured: no cross compiler and sysroot here, and no "
                     f"`{sizes['board_dir']}/installer` (`scripts/target-test` builds one) |")
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
                  f"now{entry_calls(results)}."]
    return "\n".join(lines)


def entry_calls(results):
    """The system calls (strace) each installed package adds to the run."""
    calls = results.get("boot_calls_per_package")
    if not calls:
        return ""
    named = sorted(((n, name) for name, n in calls.items() if n >= 0.05), reverse=True)
    return (f", {sum(calls.values()):.1f} system calls (strace) on every entry: " +
            ", ".join(f"{n:.1f} `{name}`" for n, name in named))


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
        sha = lambda functions: next((name for *_, name in functions if "sha1_block" in name), None)
        traced, sampled = sha(p["instructions"]), sha(p.get("samples", []))
        note = (f" Valgrind hides some of the processor's extensions: SHA-1 runs `{traced}` there and "
                f"`{sampled}` in the sampled run, so its share here is not the real run's"
                if traced and sampled and traced != sampled else "")
        lines += ["", "Instructions by function (self cost), from `valgrind --tool=callgrind`, since perf cannot "
                  f"count them here.{note}:", "",
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

An upgrade run (`installer -r BOARD` with the package in `/flash/rw/pckg/`: read, inflate, hash, check the signature, stage every file, commit, syncfs) against unpacking the same tree with `tar -xzf`, `dpkg-deb -x` and `dpkg --root -i` of a gzip Debian package (a fresh admin dir each time), and `cp -r` of the unpacked tree (pure writing). Trees are files of /usr (programs, libraries, text), each no larger than an eighth of the tree; the small-file trees take files of at most 16 KiB, and the mixed tree takes {results['mixed_source']}.

{install_table(results)}

Processor time (user and system, of every process of the tool):

{cpu_table(results)}

{many_files_note(results)}

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

## Program size

{sizes_section(results)}

## Micro benchmarks

{micro_table(results)}

## Where the time goes

{profile_section(results, config)}
"""
    with open(os.path.join(out_dir, "REPORT.md"), "w") as out:
        out.write(text)


