#!/usr/bin/env python3
"""Soak benchmark: orvanta-scan over many modules, watched from the Linux side.

    soak.py BUILD [MODULES] [JOBS]

Makes MODULES (default 10,000) hard links of the sample effect under distinct
names in BUILD/soak/modules, runs orvanta-scan over them with a fresh database
(-j JOBS, default 2, when the tool has that option), and every second reads
the tool's Wine process: VmRSS, RssAnon and Threads from /proc/PID/status,
its open file descriptors in /proc/PID/fd, its CPU time in /proc/PID/stat,
its Windows handle count (bin/handle_count.exe reads the system's handle
table) and the database's size. Prints a table over modules done, the growth
per 1,000 modules after the first 1,000, and what one rewrite of the final
database costs. Needs the Wine environment that ./run sets up.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import threading
import time

WINE = "/usr/lib/wine/wine64"


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read_status(pid):
    values = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "RssAnon", "Threads"):
                values[key] = int(value.split()[0])
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    values["cpu"] = (int(fields[11]) + int(fields[12])) / ticks  # utime + stime
    values["fds"] = len(os.listdir(f"/proc/{pid}/fd"))
    return values


def make_modules(folder, source, count):
    names = [f"Effect{i:05d}.dll" for i in range(count)]
    if os.path.isdir(folder) and sorted(os.listdir(folder)) == names:
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name in names:
        os.link(source, os.path.join(folder, name))


def slope(points):
    """Least-squares slope of (x, y) pairs; None with fewer than two."""
    if len(points) < 2:
        return None
    n = len(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    if sxx == 0:
        return None
    return sum((x - mx) * (y - my) for x, y in points) / sxx


def main():
    build = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    jobs = int(sys.argv[3]) if len(sys.argv) > 3 else 2
    bin_dir = os.path.join(build, "bin")
    soak = os.path.join(build, "soak")
    modules = os.path.join(soak, "modules")
    database = os.path.join(soak, "db.json")
    dumps = os.path.join(soak, "dumps")

    os.makedirs(soak, exist_ok=True)
    free = shutil.disk_usage(soak).free
    stat = os.statvfs(soak)
    print(f"soak: {free / 2**30:.1f} GiB and {stat.f_favail} inodes free in {soak}")
    if free < 2 * 2**30 or stat.f_favail < count + 1000:
        print("soak: not enough disk space or inodes", file=sys.stderr)
        return 2
    make_modules(modules, os.path.join(bin_dir, "samples", "SampleEffect.dll"), count)
    for path in (database, database + ".tmp"):
        if os.path.exists(path):
            os.remove(path)
    shutil.rmtree(dumps, ignore_errors=True)

    tool = os.path.join(bin_dir, "orvanta-scan.exe")
    help_text = subprocess.run([WINE, tool, "--help"], capture_output=True, text=True).stdout
    command = [WINE, tool, "--db", windows_path(database), "--dumps", windows_path(dumps)]
    if "--jobs" in help_text:
        command += ["-j", str(jobs)]
        how = f"-j {jobs}"
    else:
        how = "without -j (this orvanta-scan has one server)"
    command.append(windows_path(modules))
    print(f"soak: orvanta-scan {how} over {count} hard links of the sample effect")
    sys.stdout.flush()

    done = [0]
    statuses = {}
    started = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               stdin=subprocess.DEVNULL)
    other_errors = []

    def read_progress():
        # Not a console: one plain line per finished module.
        for raw in process.stderr:
            line = raw.decode("utf-8", "replace")
            match = re.match(r"\[(\d+)/(\d+)\] (\w+)", line)
            if match:
                done[0] = int(match.group(1))
                statuses[match.group(3)] = statuses.get(match.group(3), 0) + 1
            elif line.strip():
                other_errors.append(line.rstrip())

    handles = {"orvanta-scan.exe": None, "scanserver.exe": None, "table": True}
    sampler = subprocess.Popen([WINE, os.path.join(bin_dir, "handle_count.exe"), "1000",
                                "orvanta-scan.exe", "scanserver.exe"],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def read_handles():
        servers = {}
        last_ms = None
        for raw in sampler.stdout:
            parts = raw.decode().split()
            if len(parts) != 4:
                continue
            ms, name, pid, number = parts
            if number == "-1":
                handles["table"] = False
                continue
            if ms != last_ms:
                if last_ms is not None:
                    handles["scanserver.exe"] = sum(servers.values())
                servers = {}
                last_ms = ms
            if name.lower() == "orvanta-scan.exe":
                handles["orvanta-scan.exe"] = int(number)
            else:
                servers[pid] = int(number)

    threads = [threading.Thread(target=read_progress, daemon=True),
               threading.Thread(target=read_handles, daemon=True)]
    for thread in threads:
        thread.start()

    samples = []
    next_print = 10
    while process.poll() is None:
        try:
            values = read_status(process.pid)
        except (FileNotFoundError, ProcessLookupError, IndexError):
            break
        values["t"] = time.monotonic() - started
        values["done"] = done[0]
        values["handles"] = handles["orvanta-scan.exe"]
        values["serverHandles"] = handles["scanserver.exe"]
        try:
            values["db"] = os.path.getsize(database)
        except OSError:
            values["db"] = 0
        samples.append(values)
        if values["t"] >= next_print:
            print(f"soak: {values['t']:6.0f} s  {done[0]:5d}/{count} done  "
                  f"VmRSS {values['VmRSS'] / 1024:.1f} MB  handles {values['handles']}", flush=True)
            next_print += 10
        time.sleep(1)
    code = process.wait()
    elapsed = time.monotonic() - started
    for thread in threads[:1]:
        thread.join(10)
    sampler.stdin.close()
    sampler.wait(30)

    print(f"\nsoak: orvanta-scan exit code {code} after {elapsed:.1f} s, {done[0]} modules reported "
          f"({', '.join(f'{n} {s}' for s, n in sorted(statuses.items()))})")
    for line in other_errors[:5]:
        print("  " + line)
    with open(database, encoding="utf-8") as file:
        entries = json.load(file)["modules"]
    paths = {entry["path"].lower() for entry in entries}
    ok = sum(1 for entry in entries if entry["status"] == "ok")
    print(f"database: {len(entries)} entries ({len(paths)} distinct paths, {ok} ok), "
          f"{os.path.getsize(database) / 2**20:.2f} MB")
    if not handles["table"]:
        print("handles: the system's handle table could not be read")

    # One row where each 1,000 modules were first seen done, and the last.
    print(f"\n{'time s':>7} {'done':>6} {'mod/s':>7} {'cpu %':>6} {'VmRSS MB':>9} {'RssAnon MB':>10} "
          f"{'threads':>7} {'fds':>5} {'handles':>7} {'srv hnd':>7} {'db MB':>7}")
    step = 1000 if count >= 5000 else max(count // 10, 1)
    # The samples up to the first one with every module done (the rest is
    # the tool closing its servers).
    active = []
    for sample in samples:
        active.append(sample)
        if sample["done"] >= count:
            break
    rows, mark = [], 0
    for sample in active:
        if sample["done"] >= mark:
            rows.append(sample)
            mark = (sample["done"] // step + 1) * step
    if active and rows[-1] is not active[-1]:
        rows.append(active[-1])
    previous = None
    for row in rows:
        rate = cpu = ""
        if previous and row["t"] > previous["t"]:
            rate = f"{(row['done'] - previous['done']) / (row['t'] - previous['t']):.1f}"
            cpu = f"{(row['cpu'] - previous['cpu']) / (row['t'] - previous['t']) * 100:.0f}"
        handles_text = "-" if row["handles"] is None else str(row["handles"])
        servers_text = "-" if row["serverHandles"] is None else str(row["serverHandles"])
        print(f"{row['t']:7.0f} {row['done']:6d} {rate:>7} {cpu:>6} {row['VmRSS'] / 1024:9.1f} "
              f"{row['RssAnon'] / 1024:10.1f} {row['Threads']:7d} {row['fds']:5d} {handles_text:>7} "
              f"{servers_text:>7} {row['db'] / 2**20:7.2f}")
        previous = row

    later = [s for s in active if s["done"] >= min(1000, count // 10)]
    print(f"\ngrowth per 1,000 modules after the first {min(1000, count // 10)} (least-squares over "
          f"{len(later)} samples):")
    for key, unit, scale in (("VmRSS", "MB", 1 / 1024), ("RssAnon", "MB", 1 / 1024),
                             ("Threads", "", 1), ("fds", "", 1), ("handles", "", 1)):
        points = [(s["done"], s[key] * scale) for s in later if s[key] is not None]
        value = slope(points)
        print(f"  {key:8s} " + ("n/a" if value is None else f"{value * 1000:+.2f} {unit}".rstrip()))

    # The rewriting: what one rewrite of the final database costs, against the
    # time per module the run took at its start and at its end.
    timing = subprocess.run([WINE, os.path.join(bin_dir, "pool_bench.exe"), "--db-write",
                             windows_path(database)], capture_output=True, text=True)
    print("\nrewrite: " + (timing.stdout.strip() or timing.stderr.strip()))
    match = re.search(r"one rewrite ([\d.]+) ms", timing.stdout)
    if match and len(rows) > 2:
        last_ms = float(match.group(1))
        first, second = rows[0], rows[1]
        tail, end = rows[-2], rows[-1]
        early = (second["t"] - first["t"]) / max(second["done"] - first["done"], 1) * 1000
        late = (end["t"] - tail["t"]) / max(end["done"] - tail["done"], 1) * 1000
        # A rewrite's cost grows with the entries: about last_ms * k / N at k.
        total = last_ms * len(entries) / 2 / 1000
        print(f"  time per module: {early:.1f} ms over the first slice, {late:.1f} ms over the last")
        print(f"  one rewrite per module, growing to {last_ms:.0f} ms, would take about {total:.0f} s "
              f"({total / elapsed * 100:.0f}% of this {elapsed:.0f} s run); a writer that batches what "
              f"finished during its last write needs far fewer")
    return 0 if code in (0, 1) else code


if __name__ == "__main__":
    sys.exit(main())
