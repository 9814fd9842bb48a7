"""Fakes for the external runtime and loader, and a controllable clock."""

import types
from datetime import datetime
from unittest import mock

import pytest

import brevant.zezuvo_templates as zt

TEMPLATE = 'buy = "if {{ cond }}: {{ action }}"\nstart: buy\n'


class FakeRuntime:
    """Records every removed id; `fail_on` makes remove raise for that id;
    `on_remove(pid)` runs first (to call back into the executor)."""

    def __init__(self):
        self.removed = []
        self.fail_on = None
        self.on_remove = None

    def remove(self, pid):
        if self.on_remove is not None:
            self.on_remove(pid)
        if pid == self.fail_on:
            raise RuntimeError(f"cannot remove {pid}")
        self.removed.append(pid)
        return True


class FakeLoader:
    """Records (text, activate) per load.  By default the n-th load returns
    (2, {"n:start"}, {"n:start", "n:other"}); `result` overrides that and
    `error` is raised instead; `on_load(text)` runs first."""

    def __init__(self):
        self.calls = []
        self.result = None
        self.error = None
        self.on_load = None

    def load(self, text, activate=True):
        self.calls.append((text, activate))
        if self.on_load is not None:
            self.on_load(text)
        if self.error is not None:
            raise self.error
        if self.result is not None:
            return self.result
        n = len(self.calls)
        return 2, {f"{n}:start"}, {f"{n}:start", f"{n}:other"}


@pytest.fixture
def fake_runtime():
    return FakeRuntime()


@pytest.fixture
def loader():
    return FakeLoader()


@pytest.fixture
def template_text():
    return TEMPLATE


@pytest.fixture
def executor(fake_runtime, loader, template_text):
    """An executor of `template_text` (variables cond and action) on the fake runtime and loader."""
    ex = zt.ZeZuvoRuntimeTemplateExecutor.from_string(fake_runtime, template_text)
    ex._dsl_loader = loader
    return ex


@pytest.fixture
def clock():
    """Patches the module's datetime: now() returns clock.value."""
    state = types.SimpleNamespace(value=datetime(2024, 5, 1, 9, 30))
    with mock.patch("brevant.zezuvo_templates.datetime") as patched:
        patched.now.side_effect = lambda: state.value
        yield state
