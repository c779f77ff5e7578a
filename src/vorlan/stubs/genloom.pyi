"""Generation pipeline, LLM access and prompt construction for Vorlan models."""
import enum
import logging
import os
from collections.abc import Callable, Sequence
from contextvars import ContextVar
from pathlib import Path
from typing import (
    Any,
    Literal,
    NotRequired,
    SupportsFloat,
    SupportsIndex,
    SupportsInt,
    TypeAlias,
    TypedDict,
    overload,
    type_check_only,
)

from vorlan.nearscan import rank_problem_descriptions as rag_rank
from vorlan.semantic_error import SemanticError as SemanticError
from vorlan.vorlan_core import QelCompiler as QelCompiler

_Progress: TypeAlias = Callable[[str], object]
_ReplyContract: TypeAlias = Literal["pair", "alignment", "solve_revision", "feedback", "alignment_deviations"]

@type_check_only
class FewShotExample(TypedDict):
    description: str
    model: str
    data: str
    desc_path: str
    model_path: str
    data_path: str

@type_check_only
class SolveOutcome(TypedDict):
    status: str  # optimal, feasible, infeasible, unbounded, infeasible or unbounded, time limit, error
    objective: float | None
    seconds: float

@type_check_only
class RoundRecord(TypedDict):
    # generation, syntax revision, solve revision, alignment revision, reply repair
    kind: str
    compile_errors: int | None  # None when the reply held no pair
    status: str | None  # solver status when the pair was solved
    objective: float | None
    aligned: bool | None  # the reviewer's verdict, when there was one

@type_check_only
class SolveStatistics(TypedDict):
    iterations: int
    assessment: str
    syntax_errors: list[str]
    rounds: list[RoundRecord]
    solve: NotRequired[SolveOutcome | None]  # only with verify on; None when the last pair did not compile
    # Only with verify on: the LLM's verdict that the problem as described has no optimum
    # ("infeasible as described" / "unbounded as described"), its explanation and the solver's
    # conflicting set; and the stated values the final model no longer uses as stated.
    verdict: NotRequired[str | None]
    explanation: NotRequired[str | None]
    conflicts: NotRequired[list[str]]
    deviations: NotRequired[list[str]]

@type_check_only
class UsageRecord(TypedDict):
    """What the usage sink receives after each provider reply."""

    provider: Literal["openai", "google", "ollama", "anthropic"]
    model: str
    input_text: str
    output_text: str
    input_tokens: int | None
    output_tokens: int | None
    seconds: float

class LLMProvider(enum.Enum):
    """The LLM services a call can go to."""

    OPENAI = "openai"
    GOOGLE = "google"
    OLLAMA = "ollama"
    ANTHROPIC = "anthropic"

class Grammar(enum.Enum):
    """Which grammar reference goes into the prompts."""

    NONE = 1
    BNF = 2
    CODE = 3

# Module settings; a host may overwrite them between calls.
MAX_ITERATIONS: int
MAX_OUTPUT_TOKENS: int | None
LLM_PROVIDER: str | None
MODEL_NAME: str
ALIGNMENT_CHECK: bool
FEW_SHOT_TOP_K: int
FEW_SHOT_MAX_CHARS: int
REQUEST_TIMEOUT: float | None
MAX_REPLY_BYTES: int | None
OPENAI_API: Literal["responses", "chat"]
GEMINI_CLIENT: Literal["generativeai", "genai"]
VERIFY: bool
VERIFY_TIME_LIMIT: float
REPAIR_REPLIES: bool
# Ask each provider for the JSON shape of every reply that has one (read at every call).
STRUCTURED_OUTPUT: bool
# "grammar": pairs written in two GBNF-constrained calls on a local OpenAI-compatible server.
CONSTRAIN: Literal["none", "grammar"]
# Request field carrying the grammar ("grammar", "structured_outputs.grammar"); None: detected.
GRAMMAR_FIELD: str | None
_REPLY_FORMAT_REFUSED: set[str]
_GRAMMAR_FIELDS: dict[str, str]

logger: logging.Logger
# Per-context receiver of a UsageRecord after each provider reply (None: no reports).
_usage_sink: ContextVar[Callable[[UsageRecord], object] | None]

@overload
def generative_solve(
    prompt: str,
    model_file: str,
    data_file: str,
    model_name: str = "gpt-5",
    mode: Grammar = Grammar.BNF,
    iterations: SupportsInt | str | None = 5,
    return_statistics: Literal[False] = False,
    alignment_check: bool | None = None,
    temperature: float | None = None,
    stop: Sequence[str] | None = None,
    llm_provider: str | None = "openai",
    progress: _Progress | None = None,
    few_shot: bool = True,
    verify: bool | None = None,
    repair_replies: bool | None = None,
) -> str:
    """Have the LLM write a model and data pair for the problem description, compile it, repair
    it in a bounded loop, write both files every iteration and return the assessment text.
    verify=True (default: VERIFY) also solves every pair that compiles and sends an infeasible
    or unbounded one back with what the solver found. repair_replies=True (default:
    REPAIR_REPLIES) turns an unusable reply into one more round instead of a failure."""
@overload
def generative_solve(
    prompt: str,
    model_file: str,
    data_file: str,
    model_name: str = "gpt-5",
    mode: Grammar = Grammar.BNF,
    iterations: SupportsInt | str | None = 5,
    *,
    return_statistics: Literal[True],
    alignment_check: bool | None = None,
    temperature: float | None = None,
    stop: Sequence[str] | None = None,
    llm_provider: str | None = "openai",
    progress: _Progress | None = None,
    few_shot: bool = True,
    verify: bool | None = None,
    repair_replies: bool | None = None,
) -> SolveStatistics: ...
@overload
def generative_solve(
    prompt: str,
    model_file: str,
    data_file: str,
    model_name: str = "gpt-5",
    mode: Grammar = Grammar.BNF,
    iterations: SupportsInt | str | None = 5,
    return_statistics: bool = False,
    alignment_check: bool | None = None,
    temperature: float | None = None,
    stop: Sequence[str] | None = None,
    llm_provider: str | None = "openai",
    progress: _Progress | None = None,
    few_shot: bool = True,
    verify: bool | None = None,
    repair_replies: bool | None = None,
) -> str | SolveStatistics: ...
def generative_feedback(
    prompt: str,
    model_file: str,
    data_file: str,
    model_name: str = "gpt-5",
    mode: Grammar = Grammar.BNF,
    temperature: float | None = None,
    stop: Sequence[str] | None = None,
    llm_provider: str | None = "openai",
    progress: _Progress | None = None,
) -> dict[str, Any] | None:
    """Ask the LLM a question about an existing model and data pair; its parsed JSON reply
    ("feedback", and "revised_model"/"revised_data" when it proposes changes)."""

def list_openai_models(prefix: str | None = "gpt") -> list[str]:
    """OpenAI model identifiers starting with prefix, distinct and sorted."""
def list_gemini_models(prefix: str | None = "gemini") -> list[str]:
    """Gemini text-generation model names starting with prefix, distinct and sorted."""
def list_ollama_models(prefix: str | None = None) -> list[str]:
    """Models of the local Ollama server (starting with prefix when given), distinct and sorted."""
def list_anthropic_models(prefix: str | None = "claude") -> list[str]:
    """Anthropic model identifiers starting with prefix, distinct and sorted."""
def list_models(llm_provider: str | None = None, model_name: str = "gpt-5") -> list[str]:
    """Model names of the provider chosen by llm_provider, else by model_name."""
def redact_urls(text: str) -> str:
    """The text with the user-info and secret query values of every http(s) URL in it hidden."""
def extract_json_from_markdown(text: str) -> str:
    """The JSON object text inside an LLM reply: the object of a ``` or ```json fence, else the
    first brace-balanced span, else the text unchanged."""

# Module-internal operations, documented for hosts and tests that patch or call them.
def _notify(progress: _Progress | None, msg: str) -> None: ...
def _read_file(path: str | os.PathLike[str]) -> str: ...
def _read_vorlan_grammar() -> str: ...
def _read_vorlan_GBNF() -> str: ...
def _read_vorlan_data_GBNF() -> str: ...
def _read_vorlan_code() -> str: ...
def _get_grammar_implementation(mode: Grammar) -> str: ...
def _safe_read_text(path: str | os.PathLike[str], max_chars: int = 2147483647) -> str: ...
def _find_pair_in_folder(desc_path: str | os.PathLike[str]) -> tuple[Path | None, Path | None]: ...
def _gather_few_shots(
    problem_description: str,
    k: int = 3,
    models_dir: str | os.PathLike[str] | None = None,
    progress: _Progress | None = None,
) -> list[FewShotExample]: ...
def _openai_client() -> Any: ...
def _google_client() -> Any: ...
def _anthropic_client() -> Any: ...
def _genai_client() -> Any: ...
def _build_anthropic_params(
    model_name: str,
    input_text: str,
    max_tokens: int | None = None,
    temperature: float | None = None,
    stop: Sequence[str] | None = None,
    schema: dict[str, Any] | None = None,
) -> dict[str, Any]: ...
def _build_genai_config(
    max_tokens: int | None = None,
    temperature: float | None = None,
    stop: Sequence[str] | None = None,
    schema: dict[str, Any] | None = None,
) -> dict[str, Any]: ...
def _call_openai_with_retry(
    client: Any,
    create_params: dict[str, Any],
    retries: SupportsInt | SupportsIndex = 3,
    backoff_sec: SupportsFloat | SupportsIndex = 1.5,
    progress: _Progress | None = None,
    api: Literal["responses", "chat"] = "responses",
) -> Any: ...
def _coalesce_response_text(resp: Any) -> str: ...
def _ollama_generate_text(
    model_name: str, prompt: str, num_predict: int | None = None, format: dict[str, Any] | None = None
) -> str: ...
def _build_create_params(
    model_name: str,
    input_text: str,
    max_tokens: int | None = None,
    temperature: float | None = None,
    stop: Sequence[str] | None = None,
) -> dict[str, Any]: ...
def _build_chat_params(
    model_name: str,
    input_text: str,
    max_tokens: int | None = None,
    temperature: float | None = None,
    stop: Sequence[str] | None = None,
) -> dict[str, Any]: ...
def _infer_provider(llm_provider: str | None, model_name: str) -> LLMProvider: ...
def _llm_generate_text(
    provider: LLMProvider,
    model_name: str,
    input_text: str,
    max_tokens: int | None = None,
    temperature: float | None = None,
    stop: Sequence[str] | None = None,
    progress: _Progress | None = None,
    reply_contract: _ReplyContract | None = None,
    grammar: str | None = None,
) -> str: ...
def _reply_schema(
    contract: _ReplyContract, dialect: Literal["json_schema", "object", "openai_strict", "gemini"] = "json_schema"
) -> str: ...
def _grammar_field(client: Any) -> str: ...
def _add_grammar_field(client: Any, record: dict[str, Any], grammar: str) -> None: ...
def _generate_constrained_pair(
    provider: LLMProvider,
    model_name: str,
    prompt: str,
    temperature: float | None = None,
    stop: Sequence[str] | None = None,
    progress: _Progress | None = None,
) -> tuple[str, str]: ...
def _json_loads_relaxed(text: str) -> Any: ...
def _build_generation_prompt(
    prompt: str, grammar_implementation: str, few_shots: Sequence[FewShotExample] | None = None
) -> str: ...
def _build_alignment_prompt(
    prompt: str,
    grammar_implementation: str,
    model_code: str,
    data_code: str,
    solution_summary: str | None = None,
    previous_model: str | None = None,
    previous_data: str | None = None,
) -> str: ...
def _build_repair_prompt(asked: str, reply: str, error: str) -> str: ...
def _build_revision_prompt_alignment(
    prompt: str,
    grammar_implementation: str,
    assessment_text: str,
    model_code: str,
    data_code: str,
    few_shots: Sequence[FewShotExample] | None = None,
) -> str: ...
def _build_revision_prompt_syntax(
    prompt: str,
    grammar_implementation: str,
    model_code: str,
    data_code: str,
    syntax_errors: Sequence[str],
    few_shots: Sequence[FewShotExample] | None = None,
) -> str: ...
def _build_revision_prompt_solve(
    prompt: str,
    grammar_implementation: str,
    model_code: str,
    data_code: str,
    solver_findings: str,
    few_shots: Sequence[FewShotExample] | None = None,
) -> str: ...
def _build_final_assessment_prompt(
    prompt: str, grammar_implementation: str, model_code: str, data_code: str, syntax_errors: Sequence[str]
) -> str: ...
def _build_feedback_prompt(user_prompt_text: str, grammar_implementation: str, model_code: str, data_code: str) -> str: ...
def _verify_compiled(compiler: QelCompiler, time_limit: float | None = None) -> dict[str, Any]: ...
