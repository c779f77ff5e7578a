"""``vorlan bench``: accuracy of a provider and model on optimization-modelling benchmark sets.

Each problem runs through the generate-and-repair pipeline; the final pair is compiled and
solved, and its objective is compared with the published optimum at a relative tolerance
(|got - want| / max(1, |want|)). Results go to DIR/results.jsonl (one line per problem),
DIR/<set>/<id>/ (description, model, data, statistics, transcript) and DIR/report.html.

Ray and matplotlib are optional and imported on first use.
"""
from vorlan.bench.compare import compare_runs, format_comparison
from vorlan.bench.datasets import DatasetError, Problem, load_dataset, parse_answer
from vorlan.bench.harness import RunReport, load_problems, run_benchmark
from vorlan.bench.report import format_table, write_html
from vorlan.bench.results import ResultsError, load_run, read_results
from vorlan.bench.runner import BenchConfig, run_problem
from vorlan.bench.scoring import is_correct, relative_error, summarize_sets, wilson_interval

__all__ = ["BenchConfig", "DatasetError", "Problem", "ResultsError", "RunReport", "compare_runs",
           "format_comparison", "format_table", "is_correct", "load_dataset", "load_problems", "load_run",
           "parse_answer", "read_results", "relative_error", "run_benchmark", "run_problem", "summarize_sets",
           "wilson_interval", "write_html"]
