from unittest import mock

import pytest

import brevant.zezuvo_templates as zt


def test_empty_manager(manager):
    assert manager.validate_all_templates() == {}


def test_template_without_variables_or_instances_gets_both_warnings(manager, activate, idle_template):
    activate("idle", content=idle_template)
    result = manager.validate_all_templates()["idle"]
    assert result == zt.TemplateValidationResult(
        status="valid",
        template_variables=[],
        active_instances=0,
        source_id=manager["idle"].template_source_id,
        errors=[],
        warnings=["No template variables found", "No active instances"],
    )


def test_template_in_use(manager, activate, idle_template):
    activate("algo", "a", "b")
    activate("idle", "x", content=idle_template)
    results = manager.validate_all_templates()
    assert list(results) == ["algo", "idle"]
    algo = results["algo"]
    assert algo.status == "valid"
    assert sorted(algo.template_variables) == ["level", "symbol"]
    assert algo.active_instances == 2
    assert algo.source_id == manager["algo"].template_source_id
    assert algo.source_id.startswith("string:")
    assert algo.errors == [] and algo.warnings == []
    assert results["idle"].warnings == ["No template variables found"]


@pytest.fixture
def failing_info(manager, activate):
    """Three templates; get_template_info raises `failing_info.error` for the second."""
    for name in ("first", "second", "third"):
        activate(name, "i")
    original = zt.ZeZuvoMultiTemplateManager.get_template_info

    def get_template_info(self, name):
        if name == "second":
            raise get_template_info.error
        return original(self, name)

    with mock.patch.object(zt.ZeZuvoMultiTemplateManager, "get_template_info", get_template_info):
        yield get_template_info


@pytest.mark.parametrize(
    "error, text",
    [(ValueError("inspection failed"), "inspection failed"), (KeyError("gone"), "'gone'"), (RuntimeError(), "")],
)
def test_one_failing_template_among_three(manager, failing_info, error, text):
    failing_info.error = error
    results = manager.validate_all_templates()
    assert list(results) == ["first", "second", "third"]
    assert results["second"] == zt.TemplateValidationResult(
        status="error", template_variables=[], active_instances=0, source_id="", errors=[text], warnings=[]
    )
    for name in ("first", "third"):
        assert results[name].status == "valid"
        assert results[name].active_instances == 1
        assert results[name].source_id == manager[name].template_source_id


@pytest.mark.parametrize("interruption", [KeyboardInterrupt, SystemExit])
def test_interruptions_are_not_captured(manager, failing_info, interruption):
    failing_info.error = interruption()
    with pytest.raises(interruption):
        manager.validate_all_templates()


class RecordingExecutor:
    """A foreign object in the registry, recording what the report asks of it."""

    def __init__(self, calls, fail_on=None):
        self.calls = calls
        self.fail_on = fail_on

    def _note(self, what):
        self.calls.append(what)
        if what == self.fail_on:
            raise LookupError(f"{what} failed")

    def get_template_variables(self):
        self._note("get_template_variables")
        return {"v"}

    def list_active(self):
        self._note("list_active")
        return ["t.a", "t.b"]

    @property
    def template_source_id(self):
        self._note("template_source_id")
        return "custom:source"


@pytest.mark.parametrize(
    "fail_on, expected_calls",
    [
        (None, ["get_template_variables", "get_template_info", "list_active", "template_source_id"]),
        ("get_template_variables", ["get_template_variables"]),
        ("list_active", ["get_template_variables", "get_template_info", "list_active"]),
    ],
)
def test_inspection_order_on_a_foreign_executor(runtime, fail_on, expected_calls):
    calls = []
    manager = zt.ZeZuvoMultiTemplateManager(runtime, {"t": RecordingExecutor(calls, fail_on)})

    def get_template_info(self, name):
        calls.append("get_template_info")
        return zt.TemplateInfo(name, "custom:source", ["v"], ["t.a", "t.b"], 2)

    with mock.patch.object(zt.ZeZuvoMultiTemplateManager, "get_template_info", get_template_info):
        result = manager.validate_all_templates()["t"]
    assert calls == expected_calls
    if fail_on is None:
        assert result == zt.TemplateValidationResult("valid", ["v"], 2, "custom:source", [], [])
    else:
        assert result.status == "error" and result.errors == [f"{fail_on} failed"]
