"""Few-shot retrieval latency with the real embedding model: cached ranking next to the uncached
path (encode every description on every call, as plain embedding-library use does), the
embedding library's import and load times apart, a cold `vorlan rank` over the bundled
examples, and a first `vorlan solve` up to its first LLM request.

Usage: PYTHONPATH=<staged package> python bench/bench_rank.py [--uncached-max N] [sizes...]
       python bench/bench_rank.py first-request concurrent   (only those two parts)
       (default sizes 30 1000 10000; the uncached path is measured up to N descriptions, default
       all; BENCH_TORCH_THREADS=N fixes the tensor library's thread count in the measured
       processes)

The default model runs on the light runtime (its ONNX export) unless VORLAN_EMBEDDING_RUNTIME=torch;
`first-request` and `concurrent` measure both: a `vorlan solve` from spawn to its first LLM request
with its peak memory, and eight processes retrieving at the same moment.

Every measurement runs in fresh processes with an empty cache folder of its own.
"""

import collections
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
MODEL = "sentence-transformers/all-MiniLM-L6-v2"
WORDS = ("warehouse store plant truck route demand supply cost profit machine worker shift nurse "
         "food nutrient item weight value capacity budget project period inventory order roll width "
         "pattern node arc flow path city depot facility customer crop land water loan cash bond").split()
PHRASES = [
    "A company wants to minimise the total cost of {a} while meeting every {b}.",
    "Each {a} has a limited {b}, and the {c} must be respected in every period.",
    "Decide how many units of each {a} to assign to each {b} so that profit is maximal.",
    "The planner must choose which {a} to open, paying a fixed cost, to serve each {b}.",
    "There are {n} {a}s and {m} {b}s; the {c} between them is known in advance.",
]
QUERY = "Ship goods from warehouses to stores at the least total transportation cost."


def synthetic(i: int, rng: random.Random) -> str:
    parts = []
    for _ in range(rng.randint(3, 6)):
        a, b, c = rng.sample(WORDS, 3)
        parts.append(rng.choice(PHRASES).format(a=a, b=b, c=c, n=rng.randint(2, 20), m=rng.randint(2, 20)))
    return f"Problem {i}. " + " ".join(parts)


# Two ranking calls in one process; the model is loaded (and timed) before them.
RANK_CHILD = r'''
import json, os, sys, time
if os.environ.get("BENCH_TORCH_THREADS"):
    import torch
    torch.set_num_threads(int(os.environ["BENCH_TORCH_THREADS"]))
import vorlan.nearscan as n
name, root, query, calls = sys.argv[1:5]
t = time.perf_counter()
model = n._load_model(name)
load = time.perf_counter() - t
stats = {"encode": 0.0, "texts": 0}

class Timed:
    def encode(self, texts, **kw):
        t0 = time.perf_counter()
        try:
            return model.encode(texts, **kw)
        finally:
            stats["encode"] += time.perf_counter() - t0
            stats["texts"] += len(texts)

n._MODEL_CACHE[name] = Timed()
rows = []
for call in ("first", "second")[:int(calls)]:
    stats.update(encode=0.0, texts=0)
    t0 = time.perf_counter()
    res = n.rank_problem_descriptions(query, root, top_k=10)
    rows.append({"call": call, "total": time.perf_counter() - t0, **stats, "results": len(res)})
print(json.dumps({"load": load, "rows": rows, "top": res[0]["path"], "scores": [r["score"] for r in res]}))
'''

# The vorlan command in-process, with the embedding library's import and the model's
# construction timed apart; for solve, the clock stops at the first LLM request.
CLI_CHILD = r'''
import json, os, sys, time
T0 = time.perf_counter()
marks = {}
import vorlan.nearscan as n
real_load = n._load_model

def timed_load(name):
    if name in n._MODEL_CACHE:
        return real_load(name)
    t = time.perf_counter()
    if os.environ.get("VORLAN_EMBEDDING_RUNTIME") == "torch":
        import sentence_transformers
    marks["import"] = time.perf_counter() - t
    t = time.perf_counter()
    m = real_load(name)
    marks["load"] = time.perf_counter() - t
    marks["runtime"] = type(m).__name__
    return m

n._load_model = timed_load
from vorlan.cli import main
status = main(sys.argv[1:])
marks.setdefault("total", time.perf_counter() - T0)
print("BENCH " + json.dumps({**marks, "status": status, "t0_wall": time.time() - (time.perf_counter() - T0)}),
      file=sys.stderr)
'''


def child_env(cache: str, **extra) -> dict:
    env = {**os.environ, "VORLAN_CACHE_DIR": cache, "HF_HUB_OFFLINE": "1"}
    env.update(extra)
    return env


def run_json(args, env, marker=None):
    r = subprocess.run([sys.executable, *args], capture_output=True, text=True, env=env)
    if r.returncode != 0 and marker is None:
        raise RuntimeError(r.stderr[-2000:])
    lines = (r.stderr if marker else r.stdout).splitlines()
    if marker:
        lines = [l[len(marker):] for l in lines if l.startswith(marker)]
    if not lines:
        raise RuntimeError(r.stderr[-2000:])
    return json.loads(lines[-1]), r


def wall_time(args, env) -> float:
    t = time.perf_counter()
    subprocess.run(args, capture_output=True, env=env, check=True)
    return time.perf_counter() - t


def median_time(code: str, runs: int = 3, env=None) -> float:
    vals = [float(subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                                 env=env).stdout.split()[-1]) for _ in range(runs)]
    return statistics.median(vals)


def library_times() -> None:
    env = child_env(tempfile.mkdtemp())
    startup = statistics.median(wall_time([sys.executable, "-c", "pass"], env) for _ in range(3))
    torch_t = median_time("import time; t = time.perf_counter(); import torch; print(time.perf_counter() - t)", env=env)
    st = median_time("import time; t = time.perf_counter(); import sentence_transformers; "
                     "print(time.perf_counter() - t)", env=env)
    st_after = median_time("import torch, time; t = time.perf_counter(); import sentence_transformers; "
                           "print(time.perf_counter() - t)", env=env)
    load = median_time("import sentence_transformers as s, time; t = time.perf_counter(); "
                       f"s.SentenceTransformer({MODEL!r}); print(time.perf_counter() - t)", env=env)
    local = median_time("import sentence_transformers as s, time; t = time.perf_counter(); "
                        f"s.SentenceTransformer({MODEL!r}, local_files_only=True); print(time.perf_counter() - t)",
                        env=env)
    first_encode = median_time(
        f"import sentence_transformers as s, time; m = s.SentenceTransformer({MODEL!r}); t = time.perf_counter(); "
        "m.encode(['one short query'], convert_to_tensor=True, normalize_embeddings=True, show_progress_bar=False); "
        "print(time.perf_counter() - t)", env=env)
    first_encode_one = median_time(
        f"import sentence_transformers as s, time, torch; m = s.SentenceTransformer({MODEL!r}); "
        "t = time.perf_counter(); torch.set_num_threads(1); "
        "m.encode(['one short query'], convert_to_tensor=True, normalize_embeddings=True, show_progress_bar=False); "
        "print(time.perf_counter() - t)", env=env)
    openai_t = median_time("import time; t = time.perf_counter(); import openai; print(time.perf_counter() - t)",
                           env=env)
    modules = {m: median_time(f"import time; t = time.perf_counter(); import {m}; print(time.perf_counter() - t)",
                              env=env) for m in ("vorlan.nearscan", "vorlan.genloom")}
    print("\nModule load (median of 3 fresh processes): " +
          ", ".join(f"{m} {t * 1000:.1f} ms" for m, t in modules.items()))
    print("\nEmbedding library (median of 3 fresh processes):")
    print(f"  import sentence_transformers   {st:6.2f} s  (of which torch alone {torch_t:.2f} s; "
          f"the rest after torch {st_after:.2f} s)")
    print(f"  construct the model            {load:6.2f} s  (local_files_only=True: {local:.2f} s)")
    print(f"  first encode of one query      {first_encode:6.2f} s  (tensor library warm-up; on one thread, "
          f"as ranking encodes a query: {first_encode_one:.2f} s)")
    print(f"  interpreter start-up and exit  {startup * 1000:6.1f} ms")
    print(f"  import openai (LLM client)     {openai_t:6.2f} s")
    import_breakdown(env)


# Top-level packages whose import the embedding library's import pays for, and which of
# them the ranking never uses.
NOT_NEEDED = {
    "sklearn": "pulled in by the library's similarity helpers; ranking never calls them",
    "scipy": "through sklearn and the library's sparse-tensor helpers",
    "sympy": "through torch.distributed, which transformers' model loading imports",
    "mpmath": "through sympy",
    "joblib": "through sklearn",
    "threadpoolctl": "through sklearn",
    "narwhals": "through sklearn",
    "rich": "through sklearn",
}
TORCH_PARTS = ("torch._dynamo", "torch.distributed", "torch.fx", "torch._inductor", "torch.export",
               "torch._functorch", "torch._higher_order_ops", "torch._subclasses")


def import_breakdown(env) -> None:
    r = subprocess.run([sys.executable, "-X", "importtime", "-c", "import sentence_transformers"],
                       capture_output=True, text=True, env=env)
    own = collections.Counter()
    parts = collections.Counter()
    for line in r.stderr.splitlines():
        if not line.startswith("import time:") or "self [us]" in line:
            continue
        self_us, _, name = (x.strip() for x in line[len("import time:"):].split("|"))
        seconds = int(self_us) / 1e6
        own[name.split(".")[0]] += seconds
        for p in TORCH_PARTS:
            if name == p or name.startswith(p + "."):
                parts[p] += seconds
    total = sum(own.values())
    print(f"\n  What `import sentence_transformers` spends, by top-level package (own time, one run, {total:.2f} s):")
    for name, t in own.most_common(12):
        print(f"    {name:24s} {t:6.2f} s  {NOT_NEEDED.get(name, '')}")
    avoidable = sum(own[n] for n in NOT_NEEDED)
    print(f"    never used by ranking: {avoidable:.2f} s ({', '.join(n for n in NOT_NEEDED if own[n])})")
    print("    inside torch, parts that `import torch` alone does not load (transformers' model loading "
          "imports them): " +
          ", ".join(f"{p} {parts[p]:.2f} s" for p in TORCH_PARTS if parts[p] >= 0.01) +
          f" (sum {sum(parts.values()):.2f} s)")


def synthetic_tree(tmp: str, size: int) -> str:
    """A tree of `size` generated descriptions below tmp, old enough for the tree index to trust."""
    rng = random.Random(size)
    for i in range(size):
        d = Path(tmp) / "tree" / f"p{i:05d}"
        d.mkdir(parents=True)
        (d / "problem.txt").write_text(synthetic(i, rng), encoding="utf-8")
    # Entries younger than the index's trust margin (3 s) are read on every call;
    # an example tree is normally older than that.
    time.sleep(3.5)
    return str(Path(tmp) / "tree")


def ranking(sizes, uncached_max) -> None:
    print("\nRanking (one fresh process per row; 'first' and 'second' are two calls in that process, "
          "the model loaded before them):")
    print(f"{'size':>6} {'path':>26} {'call':>7} {'total s':>8} {'encode s':>9} {'texts':>6} {'other s':>8}")
    summary = []
    for size in sizes:
        with tempfile.TemporaryDirectory() as tmp:
            tree, cache = synthetic_tree(tmp, size), str(Path(tmp) / "cache")
            runs = [("cache empty", {}, 2), ("cache on disk", {}, 2), ("cache, no tree index", {}, 2)]
            if size <= uncached_max:
                runs.append(("uncached (before)", {"VORLAN_EMBEDDING_CACHE": "off"}, 1))
            scores, warm = {}, {}
            for label, extra, calls in runs:
                if label == "cache, no tree index":
                    shutil.rmtree(Path(cache) / "trees", ignore_errors=True)
                out, _ = run_json(["-c", RANK_CHILD, MODEL, tree, QUERY, str(calls)], child_env(cache, **extra))
                scores[label] = out["scores"]
                for row in out["rows"]:
                    other = row["total"] - row["encode"]
                    warm.setdefault(label, {})[row["call"]] = row["total"]
                    print(f"{size:>6} {label:>26} {row['call']:>7} {row['total']:>8.3f} {row['encode']:>9.3f} "
                          f"{row['texts']:>6} {other:>8.3f}")
            if "uncached (before)" in scores:
                diff = max(abs(a - b) for a, b in zip(scores["cache empty"], scores["uncached (before)"]))
                print(f"{size:>6} largest score difference, cached vs uncached top 10: {diff:.2e}")
            best = min(warm["cache on disk"].values())
            before = warm.get("uncached (before)", {}).get("first")
            summary.append((size, best, warm["cache, no tree index"]["first"], before))
    print("\nWarm call (model loaded, cache on disk), best of two calls; target under 0.2 s at 10,000:")
    for size, best, no_index, before in summary:
        tail = f", uncached {before:.2f} s" if before is not None else ""
        print(f"  {size:>6} descriptions: {best:.3f} s  (every file read, no tree index: {no_index:.3f} s{tail})")


def cold_rank() -> None:
    walls = []
    for _ in range(3):
        t = time.perf_counter()
        r = subprocess.run([sys.executable, "-m", "vorlan", "rank", QUERY], capture_output=True, text=True,
                           env=child_env(tempfile.mkdtemp()))
        walls.append(time.perf_counter() - t)
        if r.returncode != 0:
            raise RuntimeError(r.stderr)
    t = time.perf_counter()
    marks, _ = run_json(["-c", CLI_CHILD, "rank", QUERY], child_env(tempfile.mkdtemp()), marker="BENCH ")
    outside = time.perf_counter() - t - marks["total"]
    beyond = marks["total"] - marks["import"] - marks["load"]
    print("\nCold `vorlan rank` over the bundled examples (fresh process, empty cache folder):")
    print(f"  wall time, median of 3 runs    {statistics.median(walls):6.2f} s")
    print(f"  in-process: import {marks['import']:.2f} s + load {marks['load']:.2f} s + everything else "
          f"{beyond:.2f} s (target: at most 1 s)")
    print(f"  outside the command: interpreter start-up and exit {outside:.2f} s (exit tears down the "
          "tensor library)")


SOLVE_ARGS = ["solve", "A workshop makes tables and chairs; maximise profit within 120 carpentry hours.",
              "--provider", "openai", "--model", "gpt-5", "--iterations", "1", "--no-alignment", "-q"]
RUNTIMES = {"light runtime": {}, "embedding library": {"VORLAN_EMBEDDING_RUNTIME": "torch"}}


def solve_service():
    sys.path.insert(0, str(REPO / "tests" / "python"))
    from fake_llm_server import PROXY_VARS, FakeOpenAI

    arrivals = []

    class Stamped(list):
        def append(self, item):
            arrivals.append(time.time())
            super().append(item)

    service = FakeOpenAI(texts=['{"model": "", "data": ""}'] * 64)
    service.requests = Stamped()
    return service, arrivals, PROXY_VARS


def timed_solves(count: int, env: dict, service, arrivals) -> list[tuple[float, float, float]]:
    """Runs `count` `vorlan solve` processes at once; for each, seconds from its spawn to its first
    LLM request (nan when it sent none), its peak resident memory in MB and the CPU seconds of the
    whole process (on a busy machine the wall time grows with the load, the CPU time hardly)."""
    arrivals.clear()
    procs, outs = [], []
    for _ in range(count):
        out = tempfile.mkdtemp()
        outs.append(out)
        start = time.time()
        p = subprocess.Popen([sys.executable, "-m", "vorlan", *SOLVE_ARGS, "-o", out], env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append((p, start))
    rows = []
    for p, start in procs:
        _, status, usage = os.wait4(p.pid, 0)
        p.returncode = os.waitstatus_to_exitcode(status)  # reaped here, for its resource usage
        rows.append((start, usage.ru_maxrss / 1024, usage.ru_utime + usage.ru_stime))
    for out in outs:
        shutil.rmtree(out, ignore_errors=True)
    # Requests arrive in no fixed order: pair the k-th earliest arrival with the k-th spawn.
    firsts = sorted(arrivals)[:count]
    firsts += [float("nan")] * (count - len(firsts))
    return [(a - start, rss, cpu) for (start, rss, cpu), a in zip(rows, firsts)]


def first_request() -> None:
    service, arrivals, proxy_vars = solve_service()
    print("\n`vorlan solve` with few-shot on and a warm cache, spawn to first LLM request (local stand-in "
          "service), one process at a time, median of 3 after one warm-up run:")
    try:
        for label, extra in RUNTIMES.items():
            env = {k: v for k, v in child_env(tempfile.mkdtemp(), **service.env(), **extra).items()
                   if k not in proxy_vars}
            timed_solves(1, env, service, arrivals)
            runs = [timed_solves(1, env, service, arrivals)[0] for _ in range(3)]
            reach = statistics.median(r[0] for r in runs)
            peak = max(r[1] for r in runs)
            cpu = statistics.median(r[2] for r in runs)
            print(f"  {label:18s} first request after {reach:5.2f} s, peak memory {peak:5.0f} MB, whole process "
                  f"{cpu:5.2f} CPU s (targets: 1.5 s, 250 MB)")
    finally:
        service.close()


# Ranks once with the model loaded beforehand and prints the seconds the call took.
CONCURRENT_CHILD = r'''
import json, sys, time
import vorlan.nearscan as n
name, root, query = sys.argv[1:4]
t = time.perf_counter()
n._load_model(name)
load = time.perf_counter() - t
t = time.perf_counter()
n.rank_problem_descriptions(query, root, top_k=3)
print(json.dumps({"load": load, "rank": time.perf_counter() - t}))
'''


def concurrent(processes: int = 8, size: int = 100) -> None:
    """`processes` processes retrieve 3 examples from one tree at the same moment, the cache folder
    shared: first with it empty (each finds nothing cached), then warm."""
    print(f"\n{processes} processes at once, each loading the model and then retrieving 3 examples from one "
          f"tree of {size} descriptions (shared cache folder):")
    print(f"  {'runtime':18s} {'cache':6s} {'load s (min/median/max)':>26s} {'retrieval s (min/median/max)':>30s}")
    with tempfile.TemporaryDirectory() as tmp:
        tree = synthetic_tree(tmp, size)
        for label, extra in RUNTIMES.items():
            env = child_env(str(Path(tmp) / ("cache-" + label.replace(" ", "-"))), **extra)
            for state in ("empty", "warm"):
                procs = [subprocess.Popen([sys.executable, "-c", CONCURRENT_CHILD, MODEL, tree,
                                           QUERY], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                         for _ in range(processes)]
                got = []
                for p in procs:
                    out, err = p.communicate()
                    if p.returncode != 0:
                        raise RuntimeError(err[-2000:])
                    got.append(json.loads(out.splitlines()[-1]))
                loads = sorted(g["load"] for g in got)
                ranks = sorted(g["rank"] for g in got)
                fmt = lambda v: f"{v[0]:.2f} / {statistics.median(v):.2f} / {v[-1]:.2f}"  # noqa: E731
                print(f"  {label:18s} {state:6s} {fmt(loads):>26s} {fmt(ranks):>30s}")


def first_solve() -> None:
    service, arrivals, proxy_vars = solve_service()
    env = {k: v for k, v in child_env(tempfile.mkdtemp(), **service.env()).items() if k not in proxy_vars}
    with tempfile.TemporaryDirectory() as out:
        marks, _ = run_json(["-c", CLI_CHILD, *SOLVE_ARGS, "-o", out], env, marker="BENCH ")
    service.close()
    if not arrivals:
        print("\nFirst `vorlan solve`: no LLM request arrived")
        return
    reach = arrivals[0] - marks["t0_wall"]
    beyond = reach - marks["import"] - marks["load"]
    print("\nFirst `vorlan solve` on a fresh install, up to its first LLM request (local stand-in service):")
    print(f"  first request after {reach:.2f} s: import {marks['import']:.2f} s + load {marks['load']:.2f} s + "
          f"everything else {beyond:.2f} s (model on {marks.get('runtime', '?')})")


def main(argv: list[str]) -> int:
    uncached_max = 10**9
    if "--uncached-max" in argv:
        i = argv.index("--uncached-max")
        uncached_max = int(argv[i + 1])
        del argv[i:i + 2]
    print(f"CPUs: {os.cpu_count()}, load average: {os.getloadavg()[0]:.1f}, "
          f"tensor threads: {os.environ.get('BENCH_TORCH_THREADS', 'library default')}")
    only = {"first-request", "concurrent"} & set(argv)
    argv = [a for a in argv if a not in only]
    sizes = [int(a) for a in argv] or [30, 1000, 10000]
    if not only or "first-request" in only:
        first_request()
    if not only or "concurrent" in only:
        concurrent()
    if only:
        print(f"\nload average at the end: {os.getloadavg()[0]:.1f}")
        return 0
    library_times()
    cold_rank()
    first_solve()
    ranking(sizes, uncached_max)
    print(f"\nload average at the end: {os.getloadavg()[0]:.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
