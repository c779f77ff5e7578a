"""Vorlan generative modelling: natural-language problems to compiled Vorlan models.

Modules: ``genloom`` (generation pipeline, LLM access, prompts), ``nearscan``
(example retrieval), ``linemit`` and ``tuplefold`` (code-generator support),
``vorlan_core`` (the compiler) and ``semantic_error``.
"""

__version__ = "0.1.0"
