#!/usr/bin/env python3
"""The speed benchmark of a whole animated conversion (run by bench/speed.sh).

Times, interleaved round by round after one warm-up round:
  (a) tinyobjloader parsing the job's 21 OBJ files, parse only;
  (b) tarvex-cli converting the whole job (NAME_0.obj with NAME_1 .. NAME_20);
  (c) tarvex-cli converting NAME_0.obj alone;
  (d) tarvex-cli converting NAME_0 .. NAME_10, to tell the first ten further
      frames from the last ten: first ten = d - c, last ten = b - d;
  (w) the window converting the whole job (its own timing of the command).
Each time is the wall time of the process, except (a)'s first file, which
tinyobjloader's program times itself, and (w), which excludes the start of the
window. Ratios are paired per round (the frames' one too: (b - d) / (d - c)
of the same round), then their median is taken. Peak memory
is each process's maximum resident set, from wait4.

Usage: speed.py --build DIR --job DIR [--rounds N]
"""

import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import time

NAME = "heavy"
FRAMES = 21
GOALS = {
    "whole": 0.30,   # (b) / (a)
    "single": 0.60,  # (c) / (a's first file)
    "window": 1.25,  # (w) / (b)
    "memory_mib": 64,
}


def run(argv, env=None, cwd=None):
    """Runs a program; returns (seconds, peak RSS in KiB, stdout)."""
    start = time.perf_counter()
    process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, cwd=cwd)
    out = process.stdout.read()
    err = process.stderr.read()
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"speed: {' '.join(argv)} failed ({process.returncode}):\n"
                 f"{err.decode(errors='replace')}{out.decode(errors='replace')}")
    return seconds, usage.ru_maxrss, out.decode()


def link_job(job, folder, frames):
    """A folder holding the MTL, the textures and the first `frames` OBJ files
    of the job as hard links (copies where links fail), nothing else."""
    if os.path.isdir(folder):
        shutil.rmtree(folder)
    os.makedirs(folder)
    names = [f"{NAME}.mtl"] + [f"tex{m}.bmp" for m in range(8)]
    names += [f"{NAME}_{i}.obj" for i in range(frames)]
    for name in names:
        source = os.path.join(job, name)
        try:
            os.link(source, os.path.join(folder, name))
        except OSError:
            shutil.copyfile(source, os.path.join(folder, name))
    return os.path.join(folder, f"{NAME}_0.obj")


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="a Release build tree")
    parser.add_argument("--job", required=True, help="the folder make_heavy_job.py wrote")
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    if args.rounds < 1:
        parser.error("--rounds must be at least 1")

    cli = os.path.join(args.build, "app", "tarvex-cli")
    tinyobj = os.path.join(args.build, "bench", "tarvex_bench_tinyobj")
    window = os.path.join(args.build, "bench", "tarvex_bench_window")
    for program in (cli, tinyobj):
        if not os.access(program, os.X_OK):
            sys.exit(f"speed: {program} is missing; build the Release tree first")
    has_window = os.access(window, os.X_OK)

    work = os.path.join(args.job, "runs")
    whole = link_job(args.job, os.path.join(work, "whole"), FRAMES)
    single = link_job(args.job, os.path.join(work, "single"), 1)
    first11 = link_job(args.job, os.path.join(work, "first11"), 11)
    by_window = link_job(args.job, os.path.join(work, "window"), FRAMES)
    obj_files = [os.path.join(args.job, f"{NAME}_{i}.obj") for i in range(FRAMES)]
    window_env = dict(os.environ, QT_QPA_PLATFORM="offscreen")

    rows = []
    for round_number in range(args.rounds + 1):
        row = {}
        row["a"], row["a_rss"], out = run([tinyobj] + obj_files)
        lines = out.split("\n")
        row["a1"] = float(lines[0].split()[1])
        counts = lines[0].split()[2:]
        if counts != ["65000", "65000", "65000", "130000"]:
            sys.exit(f"speed: tinyobjloader read {counts} from {obj_files[0]}")
        row["b"], row["b_rss"], _ = run([cli, "convert", whole])
        row["c"], row["c_rss"], _ = run([cli, "convert", single])
        row["d"], _, _ = run([cli, "convert", first11])
        if has_window:
            _, row["w_rss"], out = run([window, by_window, os.path.join(work, "window", "w.mdl")],
                                       env=window_env)
            row["w"] = float(out.split()[1])
        if round_number > 0:  # the first round warms the caches
            rows.append(row)

    # Every run of a job must have written the same model.
    model = os.path.join(work, "whole", f"{NAME}.mdl")
    if has_window and digest(model) != digest(os.path.join(work, "window", "w.mdl")):
        sys.exit("speed: the window wrote another model than the command line")

    def median(key):
        return statistics.median(r[key] for r in rows)

    def paired(top, bottom):
        return statistics.median(r[top] / r[bottom] for r in rows)

    size = sum(os.path.getsize(f) for f in obj_files)
    print(f"job         {FRAMES} OBJ files, {size / 1e6:.1f} MB, in {args.job}")
    print(f"rounds      {len(rows)} (+1 warm-up), medians in seconds")
    print(f"(a) tinyobjloader, 21 files      {median('a'):8.4f}   first file {median('a1'):.4f}")
    print(f"(b) tarvex-cli, whole job        {median('b'):8.4f}")
    print(f"(c) tarvex-cli, NAME_0 alone     {median('c'):8.4f}")
    print(f"(d) tarvex-cli, NAME_0..NAME_10  {median('d'):8.4f}")
    if has_window:
        print(f"(w) window, whole job            {median('w'):8.4f}")
    first_ten = statistics.median(r["d"] - r["c"] for r in rows)
    last_ten = statistics.median(r["b"] - r["d"] for r in rows)
    paired_growth = statistics.median(
        (r["b"] - r["d"]) / (r["d"] - r["c"]) if r["d"] > r["c"] else float("inf") for r in rows)
    peak_b = max(r["b_rss"] for r in rows) / 1024
    print(f"frames      first ten {first_ten:.4f} s, last ten {last_ten:.4f} s")
    print(f"peak memory (a) {max(r['a_rss'] for r in rows) / 1024:.1f} MiB, "
          f"(b) {peak_b:.1f} MiB, (c) {max(r['c_rss'] for r in rows) / 1024:.1f} MiB"
          + (f", (w) {max(r['w_rss'] for r in rows) / 1024:.1f} MiB" if has_window else ""))
    print(f"model       {os.path.getsize(model)} bytes, sha256 {digest(model)}")
    print()

    results = [
        ("(b) / (a)", paired("b", "a"), GOALS["whole"]),
        ("(c) / (a's first file)", paired("c", "a1"), GOALS["single"]),
        ("last ten / first ten frames", paired_growth, 1.0),
        ("peak memory of (b), MiB", peak_b, GOALS["memory_mib"]),
    ]
    if has_window:
        results.append(("(w) / (b)", paired("w", "b"), GOALS["window"]))
    missed = 0
    for label, value, goal in results:
        met = value < goal if "memory" in label else value <= goal
        missed += not met
        print(f"goal  {label:30} {value:8.3f}   goal {'<' if 'memory' in label else '<='} {goal:<5}"
              f" {'met' if met else 'MISSED'}")
    if not has_window:
        print("goal  (w) / (b): not measured, the window was not built")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
