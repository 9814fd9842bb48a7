from typing_extensions import disjoint_base

from .zezuvo import PredicateId, ZeZuvoRuntime

@disjoint_base
class ZeZuvoDSLLoader:
    """Loads rule-language text into zezuvoRuntime."""

    # None until a runtime is assigned; load() needs one.
    zezuvoRuntime: ZeZuvoRuntime | None
    def __init__(self) -> None: ...
    def load(self, dsl_text: str, activate: bool = True) -> tuple[int, set[PredicateId], set[PredicateId]]: ...
