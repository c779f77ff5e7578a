"""Stand-in that hides the light embedding runtime, so ranking falls back to the stand-in
embedding library beside it."""

raise ImportError("the light embedding runtime is hidden in tests of the embedding library")
