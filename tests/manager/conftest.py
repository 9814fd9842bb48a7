import pytest

import brevant.zezuvo_templates as zt

# Renders to three predicates (two rules, one flow), one of them a start.
RULES = """\
{{ prefix }}_check = "if {{ symbol }} { A.stopped is True }: cancel {{ symbol }}*"
{{ prefix }}_reset = "if {{ symbol }} { A.stopped is False }: say reset"

flow {{ prefix }}_main:
    {{ prefix }}_check -> {{ prefix }}_reset -> @

start: {{ prefix }}_main
"""
ARGS = {"prefix": "mnq", "symbol": "/NQM5"}


@pytest.fixture
def manager(runtime):
    return zt.ZeZuvoMultiTemplateManager(runtime)


@pytest.fixture
def rules(manager):
    """A manager with the template "rules" registered from RULES."""
    manager.from_string(RULES, "rules")
    return manager


@pytest.fixture
def spy(monkeypatch):
    """spy(name) wraps an executor operation on the class; returns its list of (args, kwargs)."""

    def install(name):
        calls = []
        original = getattr(zt.ZeZuvoRuntimeTemplateExecutor, name)

        def wrapper(self, *args, **kwargs):
            calls.append((args, kwargs))
            return original(self, *args, **kwargs)

        monkeypatch.setattr(zt.ZeZuvoRuntimeTemplateExecutor, name, wrapper)
        return calls

    return install
