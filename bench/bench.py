"""Makes the benchmark files and times the programs on them (see run.sh)."""
import contextlib
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20


def make_files(directory, size_mib):
    base = os.path.join(directory, "random-a")
    other = os.path.join(directory, "random-b")
    edits = os.path.join(directory, "edits-b")
    same = os.path.join(directory, "same-b")
    pairs = {"identical": (base, same), "1% edits": (base, edits), "random": (base, other)}
    if all(os.path.exists(p) and os.path.getsize(p) == size_mib * MIB for p in (base, other, edits, same)):
        return pairs
    rng = random.Random(1)
    with open(base, "wb") as a, open(other, "wb") as b, open(edits, "wb") as e, open(same, "wb") as s:
        for _ in range(size_mib):
            block = os.urandom(MIB)
            a.write(block)
            s.write(block)
            b.write(os.urandom(MIB))
            changed = bytearray(block)
            for position in rng.sample(range(MIB), MIB // 100):
                changed[position] = (changed[position] + rng.randrange(1, 256)) & 0xFF
            e.write(changed)
    return pairs


def timed(command, cwd):
    start = time.perf_counter()
    process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, _ = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    return elapsed, os.waitstatus_to_exitcode(status)


def peak_mib(command, cwd):
    """Peak resident memory of one more run, from /usr/bin/time (the wall time of
    the runs above is taken without it)."""
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + command, cwd=cwd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        return int(report.read().split()[-1]) / 1024


def main():
    size_mib, runs, korvella = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    others = sys.argv[4:]
    kept = os.environ.get("KORVELLA_BENCH_DIR", "")
    if kept:
        os.makedirs(kept, exist_ok=True)
    with (contextlib.nullcontext(kept) if kept else tempfile.TemporaryDirectory(prefix="korvella-bench-")) as directory:
        print(f"making files of {size_mib} MiB in {directory} ...", flush=True)
        pairs = make_files(directory, size_mib)
        summary = []
        for name, (a, b) in pairs.items():
            commands = {"korvella": [korvella, a, b], "cmp": ["cmp", "-s", a, b],
                        "cat": ["sh", "-c", f"cat '{a}' '{b}' >/dev/null"]}
            for i, path in enumerate(others):
                commands[f"other{i + 1}"] = [path, a, b]
            for command in commands.values():  # warm the page cache
                timed(command, directory)
            times = {key: [] for key in commands}
            for _ in range(runs):
                for key, command in commands.items():
                    elapsed, _ = timed(command, directory)
                    times[key].append(elapsed)
            memory = {key: peak_mib(command, directory) for key, command in commands.items()}
            median = {key: statistics.median(values) for key, values in times.items()}
            print(f"\n{name} ({size_mib} MiB pair), medians of {runs} alternating runs:")
            for key in commands:
                print(f"  {key:9s} {median[key]:7.3f} s   peak {memory[key]:6.1f} MiB")
            print(f"  korvella / cmp = {median['korvella'] / median['cmp']:.2f}, "
                  f"korvella / cat = {median['korvella'] / median['cat']:.2f}")
            for i in range(len(others)):
                key = f"other{i + 1}"
                print(f"  {key} / korvella = {median[key] / median['korvella']:.2f}")
            summary.append((name, median["korvella"] / median["cat"], memory["korvella"]))
        print(f"\nsummary ({size_mib} MiB pairs, medians of {runs} runs):")
        for name, ratio, peak in summary:
            print(f"  {name:10s} korvella / cat = {ratio:.2f}   peak {peak:.1f} MiB")


if __name__ == "__main__":
    main()
