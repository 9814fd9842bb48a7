"""Template registry: registration, the source-conflict rule, lookup, listing and removal."""

import hashlib
import re
from pathlib import Path
from unittest import mock

import pytest

import brevant.zezuvo_templates as zt

from .conftest import ARGS, RULES

CREATE_FIRST = "You must explicitly create it first using from_builtin(), from_file(), or from_string()."
BUILTIN_NAMES = ["algo_flipper", "simple_flipper", "breakout_monitor", "mean_reversion", "multi_symbol_flipper"]


def string_id(content):
    return "string:" + hashlib.sha256(content.encode("utf-8")).hexdigest()[:12]


def builtin_conflict(name, registered, builtin):
    return (f"Template name '{name}' already exists with source '{registered}', cannot register builtin "
            f"'{builtin}' with the same name. Use a different template name.")


def file_conflict(name, registered, path):
    return (f"Template name '{name}' already exists with source '{registered}', cannot register file "
            f"'{path}' with the same name. Use a different template name.")


def string_conflict(name, registered, expected):
    return f"Template name '{name}' already exists with source '{registered}', but expected '{expected}' " \
           "for the provided content"


@pytest.fixture
def files(tmp_path):
    """Two template files with different contents."""
    (tmp_path / "strategy.dsl").write_text(RULES)
    (tmp_path / "other.dsl").write_text("# other\n")
    return tmp_path


def test_new_manager_is_empty(manager):
    assert manager.get_template_names() == []
    assert "algo_flipper" not in manager
    with pytest.raises(ValueError) as e:
        manager["algo_flipper"]
    assert str(e.value) == f"Template 'algo_flipper' not found. {CREATE_FIRST} Available templates: []"


@pytest.mark.parametrize("register, name, source_id", [
    (lambda m, d: m.from_builtin("algo_flipper.dsl"), "algo_flipper", "builtin:algo_flipper.dsl"),
    (lambda m, d: m.from_builtin("algo_flipper.dsl", "mine"), "mine", "builtin:algo_flipper.dsl"),
    (lambda m, d: m.from_file(str(d / "strategy.dsl")), "strategy", "file:{d}/strategy.dsl"),
    (lambda m, d: m.from_file(d / "strategy.dsl", "mine"), "mine", "file:{d}/strategy.dsl"),
    (lambda m, d: m.from_string(RULES, "mine"), "mine", string_id(RULES)),
])
def test_registration_names_and_source_ids(manager, files, register, name, source_id):
    executor = register(manager, files)
    assert type(executor) is zt.ZeZuvoRuntimeTemplateExecutor
    assert executor.template_source_id == source_id.format(d=files)
    assert executor.zezuvo_runtime is manager.zezuvo_runtime
    assert manager.get_template_names() == [name]
    assert manager[name] is executor and manager._get_executor(name) is executor
    assert name in manager


def test_file_default_name_drops_only_the_last_extension(manager, tmp_path):
    (tmp_path / "strategy.v2.dsl").write_text("x")
    (tmp_path / "plain").write_text("y")
    manager.from_file(tmp_path / "strategy.v2.dsl")
    manager.from_file(str(tmp_path / "plain"))
    assert manager.get_template_names() == ["strategy.v2", "plain"]


# (first registration, second registration, None when the second returns the
# first's executor, else the conflict message); registration callables take
# (manager, directory with strategy.dsl and other.dsl).
CONFLICT_TABLE = [
    pytest.param(lambda m, d: m.from_builtin("algo_flipper.dsl"), lambda m, d: m.from_builtin("algo_flipper.dsl"),
                 None, id="builtin-same"),
    pytest.param(lambda m, d: m.from_builtin("algo_flipper.dsl"),
                 lambda m, d: m.from_builtin("simple_flipper.dsl", "algo_flipper"),
                 builtin_conflict("algo_flipper", "builtin:algo_flipper.dsl", "simple_flipper.dsl"),
                 id="builtin-other"),
    pytest.param(lambda m, d: m.from_builtin("algo_flipper.dsl"), lambda m, d: m.from_builtin("algo_flipper"),
                 builtin_conflict("algo_flipper", "builtin:algo_flipper.dsl", "algo_flipper"),
                 id="builtin-without-suffix"),
    pytest.param(lambda m, d: m.from_builtin("algo_flipper.dsl"), lambda m, d: m.from_builtin("nope.dsl", "algo_flipper"),
                 builtin_conflict("algo_flipper", "builtin:algo_flipper.dsl", "nope.dsl"),
                 id="unknown-builtin-under-registered-name"),
    pytest.param(lambda m, d: m.from_builtin("algo_flipper.dsl", "t"), lambda m, d: m.from_string("different content", "t"),
                 string_conflict("t", "builtin:algo_flipper.dsl", string_id("different content")),
                 id="builtin-then-string"),
    pytest.param(lambda m, d: m.from_string("abc", "t"), lambda m, d: m.from_string("abc", "t"), None, id="string-same"),
    pytest.param(lambda m, d: m.from_string("abc", "t"), lambda m, d: m.from_string("abc ", "t"),
                 string_conflict("t", string_id("abc"), string_id("abc ")), id="string-trailing-space"),
    pytest.param(lambda m, d: m.from_string("abc", "t"), lambda m, d: m.from_builtin("algo_flipper.dsl", "t"),
                 builtin_conflict("t", string_id("abc"), "algo_flipper.dsl"), id="string-then-builtin"),
    pytest.param(lambda m, d: m.from_file(str(d / "strategy.dsl")), lambda m, d: m.from_file(d / "strategy.dsl"),
                 None, id="file-str-then-path"),
    pytest.param(lambda m, d: m.from_file(d / "strategy.dsl"), lambda m, d: m.from_file(f"{d}//./strategy.dsl"),
                 None, id="file-same-rendering"),
    pytest.param(lambda m, d: m.from_file(d / "strategy.dsl", "t"), lambda m, d: m.from_file(d / "other.dsl", "t"),
                 file_conflict("t", "file:{d}/strategy.dsl", "{d}/other.dsl"), id="file-other"),
    pytest.param(lambda m, d: m.from_file(d / "strategy.dsl", "t"), lambda m, d: m.from_string(RULES, "t"),
                 string_conflict("t", "file:{d}/strategy.dsl", string_id(RULES)), id="file-then-string"),
]


@pytest.mark.parametrize("first, second, conflict", CONFLICT_TABLE)
def test_registering_a_name_again(manager, files, first, second, conflict):
    executor = first(manager, files)
    names = manager.get_template_names()
    if conflict is None:
        assert second(manager, files) is executor
    else:
        with pytest.raises(ValueError) as e:
            second(manager, files)
        assert str(e.value) == conflict.format(d=files)
    assert manager.get_template_names() == names
    assert manager[names[0]] is executor


def test_file_conflict_shows_the_path_as_passed(manager, files):
    manager.from_file(files / "strategy.dsl", "t")
    relative = "./x/../other.dsl"
    with pytest.raises(ValueError) as e:
        manager.from_file(relative, "t")
    assert str(e.value) == file_conflict("t", f"file:{files}/strategy.dsl", relative)


def test_registered_name_needs_no_file_and_no_new_executor(manager, files, spy):
    path = files / "strategy.dsl"
    executor = manager.from_file(path)
    path.unlink()
    made = spy("from_file")
    assert manager.from_file(str(path)) is executor
    assert made == []


def test_string_registration_passes_its_own_source_id(manager, spy):
    made = spy("from_string")
    manager.from_string(RULES, "t")
    assert made == [((RULES, string_id(RULES)), {})]


@pytest.mark.parametrize("register, name, factory, args", [
    (lambda m: m.from_builtin("algo_flipper.dsl"), "algo_flipper", "from_builtin", ("algo_flipper.dsl",)),
    (lambda m: m.from_file("/no/such/strategy.dsl"), "strategy", "from_file", ("/no/such/strategy.dsl",)),
    (lambda m: m.from_string(RULES, "t"), "t", "from_string", (RULES, string_id(RULES))),
])
def test_registration_finds_the_executor_class_by_its_module_name(manager, runtime, register, name, factory, args):
    with mock.patch("brevant.zezuvo_templates.ZeZuvoRuntimeTemplateExecutor") as cls:
        executor = register(manager)
    made = getattr(cls, factory)
    made.assert_called_once_with(runtime, *args)
    assert executor is made.return_value
    assert manager._executors == {name: executor}


@pytest.mark.parametrize("register, error, message", [
    (lambda m, d: m.from_builtin("nope.dsl"), ValueError, "Built-in template 'nope.dsl' not found"),
    (lambda m, d: m.from_builtin("algo_flipper"), ValueError, "Built-in template 'algo_flipper' not found"),
    (lambda m, d: m.from_builtin("ALGO_FLIPPER.DSL"), ValueError, "Built-in template 'ALGO_FLIPPER.DSL' not found"),
    (lambda m, d: m.from_file(d / "missing.dsl"), FileNotFoundError, "Template file not found"),
    (lambda m, d: m.from_file(d), OSError, "Failed to read template file"),
    (lambda m, d: m.from_string(" \t\n", "t"), ValueError, "Template content cannot be empty"),
    (lambda m, d: m.from_string("{% if %}", "t"), zt.jinja2.TemplateSyntaxError, None),
])
def test_failed_creation_registers_nothing(manager, files, register, error, message):
    with pytest.raises(error, match=message and re.escape(message)):
        register(manager, files)
    assert manager.get_template_names() == []


def test_lookup_messages(manager):
    manager.from_string("a", "it's")
    manager.from_string("b", "plain")
    with pytest.raises(ValueError) as e:
        manager["missing"]
    assert str(e.value) == f"Template 'missing' not found. {CREATE_FIRST} Available templates: [\"it's\", 'plain']"
    with pytest.raises(ValueError) as e:
        manager._get_executor("missing")
    assert str(e.value) == f"Template 'missing' not found. {CREATE_FIRST}"


class Text(str):
    pass


@pytest.mark.parametrize("call, parameter, got", [
    (lambda m: m[5], "template_name", "int"),
    (lambda m: 5 in m, "template_name", "int"),
    (lambda m: Text("x") in m, "template_name", "Text"),
    (lambda m: m._get_executor(None), "template_name", "NoneType"),
    (lambda m: m.from_builtin(b"algo_flipper.dsl"), "builtin_name", "bytes"),
    (lambda m: m.from_builtin("algo_flipper.dsl", 5), "template_name", "int"),
    (lambda m: m.from_file("x.dsl", 5), "template_name", "int"),
    (lambda m: m.from_string("abc", None), "template_name", "NoneType"),
    (lambda m: m.from_string(5, "t"), "template_content", "int"),
    (lambda m: m.remove_template(5), "template_name", "int"),
])
def test_wrong_argument_types(manager, call, parameter, got):
    with pytest.raises(TypeError) as e:
        call(manager)
    assert str(e.value) == f"Argument '{parameter}' has incorrect type (expected str, got {got})"
    assert manager.get_template_names() == []


def test_builtin_names_do_not_depend_on_the_registry(manager):
    assert manager.get_available_builtin_names() == BUILTIN_NAMES
    manager.from_builtin("simple_flipper.dsl")
    assert manager.get_available_builtin_names() == BUILTIN_NAMES


def test_executors_map_given_to_the_constructor_is_the_registry(runtime):
    own = zt.ZeZuvoMultiTemplateManager(runtime).from_string("x", "x")
    registry = {"pre": own}
    manager = zt.ZeZuvoMultiTemplateManager(runtime, registry)
    assert manager._executors is registry
    assert manager["pre"] is own and manager.from_string("x", "pre") is own
    made = manager.from_string("y", "new")
    assert registry == {"pre": own, "new": made}
    assert manager.remove_template("pre") is True
    assert list(registry) == ["new"]


class ForeignExecutor:
    """An object of the caller's own in the registry: used only through its attributes and methods."""

    def __init__(self, source_id):
        self.calls = []
        self._source_id = source_id

    @property
    def template_source_id(self):
        self.calls.append("template_source_id")
        return self._source_id

    def deactivate_all(self):
        self.calls.append("deactivate_all")
        return 0


def test_foreign_executor_in_the_registry(runtime):
    foreign = ForeignExecutor("builtin:algo_flipper.dsl")
    manager = zt.ZeZuvoMultiTemplateManager(runtime, _executors={"algo_flipper": foreign})
    assert manager.from_builtin("algo_flipper.dsl") is foreign
    with pytest.raises(ValueError, match="cannot register builtin 'simple_flipper.dsl'"):
        manager.from_builtin("simple_flipper.dsl", "algo_flipper")
    assert manager.remove_template("algo_flipper") is True
    assert foreign.calls == ["template_source_id", "template_source_id", "deactivate_all"]


def test_remove_template(manager, runtime):
    executor = manager.from_string(RULES, "t")
    manager.activate("t", "a", ARGS)
    manager.activate("t", "b", ARGS)
    assert len(runtime) == 6
    assert manager.remove_template("t") is True
    assert len(runtime) == 0 and executor.list_active() == []
    assert manager.remove_template("t") is False
    with pytest.raises(ValueError, match="Available templates: \\[\\]"):
        manager["t"]
    again = manager.from_builtin("algo_flipper.dsl", "t")
    assert again is not executor and again.template_source_id == "builtin:algo_flipper.dsl"


def test_remove_unregistered_template_calls_nothing(manager, spy):
    manager.from_string(RULES, "t")
    called = spy("deactivate_all")
    assert manager.remove_template("other") is False
    assert called == []
    assert manager.get_template_names() == ["t"]


def test_remove_template_keeps_the_name_when_deactivation_fails(runtime):
    class Failing(ForeignExecutor):
        def deactivate_all(self):
            raise RuntimeError("runtime gone")

    manager = zt.ZeZuvoMultiTemplateManager(runtime, {"t": Failing("x")})
    with pytest.raises(RuntimeError, match="runtime gone"):
        manager.remove_template("t")
    assert "t" in manager


def test_clear_template_cache(manager, monkeypatch):
    executor = manager.from_string(RULES, "t")
    assert string_id(RULES) in zt._template_cache._cache
    assert manager.clear_template_cache() is None
    assert zt._template_cache._cache == {}
    assert manager.get_template_names() == ["t"]
    assert "mnq_check" in executor.populate_template(ARGS)
    # The cache is the module's current one.
    replacement = zt.TemplateCache()
    replacement.get_template("k", "x")
    monkeypatch.setattr(zt, "_template_cache", replacement)
    manager.from_string("y", "u")
    manager.clear_template_cache()
    assert replacement._cache == {}
