"""Executor factories, source identifiers and the creation steps."""

import gc
import hashlib
from pathlib import Path
from unittest import mock

import jinja2
import pytest

import brevant.zezuvo_templates as zt
from brevant.zezuvo_dsl import ZeZuvoDSLLoader

Executor = zt.ZeZuvoRuntimeTemplateExecutor
AVAILABLE = "algo_flipper.dsl, simple_flipper.dsl, breakout_monitor.dsl, mean_reversion.dsl, multi_symbol_flipper.dsl"


def executor_count():
    return sum(isinstance(o, Executor) for o in gc.get_objects())


# ---- source identifiers and content ----------------------------------------------------------

def short_md5(text):
    return hashlib.md5(text.encode("utf-8")).hexdigest()[:12]


@pytest.mark.parametrize("make, source_id, content", [
    (lambda rt: Executor.from_builtin(rt, "algo_flipper.dsl"), "builtin:algo_flipper.dsl",
     zt.BUILTIN_TEMPLATES["algo_flipper.dsl"]),
    (lambda rt: Executor.from_string(rt, "a {{ b }}"), "string:" + short_md5("a {{ b }}"), "a {{ b }}"),
    (lambda rt: Executor.from_string(rt, "é {{ b }}\n"), "string:" + short_md5("é {{ b }}\n"), "é {{ b }}\n"),
    (lambda rt: Executor.from_string(rt, "  x  ", source_id="mine"), "mine", "  x  "),
    (lambda rt: Executor.from_string(rt, "x", source_id=""), "", "x"),
    (lambda rt: Executor.from_string(rt, "x", None), "string:" + short_md5("x"), "x"),
])
def test_identifier_and_content(runtime, make, source_id, content):
    executor = make(runtime)
    assert executor.template_source_id == source_id
    assert executor._template_content == content


def test_string_identifier_follows_the_text(runtime):
    first = Executor.from_string(runtime, "same {{ a }}")
    assert Executor.from_string(runtime, "same {{ a }}").template_source_id == first.template_source_id
    assert Executor.from_string(runtime, "same {{ a }}\n").template_source_id != first.template_source_id
    assert Executor.from_string(runtime, "Same {{ a }}").template_source_id != first.template_source_id


@pytest.mark.parametrize("text", ["", " ", "\t\n \r\n", "\u2003\u3000\x1c"])
@pytest.mark.parametrize("source_id", [None, "given"])
def test_blank_text_is_rejected(runtime, text, source_id):
    with pytest.raises(ValueError, match=r"^Template content cannot be empty$"):
        Executor.from_string(runtime, text, source_id)


@pytest.mark.parametrize("name", ["ALGO_FLIPPER.DSL", "algo_flipper", "", "algo_flipper.dsl "])
def test_unknown_builtin(runtime, name):
    with pytest.raises(ValueError) as info:
        Executor.from_builtin(runtime, name)
    assert str(info.value) == f"Built-in template '{name}' not found. Available: {AVAILABLE}"


# ---- fields after creation ---------------------------------------------------------------------

def test_fields_after_creation(runtime):
    executor = Executor.from_builtin(runtime, "mean_reversion.dsl")
    assert executor.zezuvo_runtime is runtime
    env = executor.jinja_env
    assert type(env) is jinja2.Environment and type(env.loader) is jinja2.BaseLoader
    assert env.trim_blocks is True and env.lstrip_blocks is True
    assert env.autoescape is False and env.line_comment_prefix is None
    assert type(executor._dsl_loader) is ZeZuvoDSLLoader
    assert executor._dsl_loader.zezuvoRuntime is runtime
    assert executor._template_vars == {"symbol", "timeframe", "rsi_low", "qty", "rsi_high"}
    assert executor._compiled_template is zt._template_cache._cache["builtin:mean_reversion.dsl"].template
    assert executor._active_templates == {} and executor._performance_events == {}


def test_executors_share_nothing_but_the_runtime_and_compiled_template(runtime):
    a = Executor.from_builtin(runtime, "simple_flipper.dsl")
    b = Executor.from_builtin(runtime, "simple_flipper.dsl")
    assert a.zezuvo_runtime is b.zezuvo_runtime
    for name in ["jinja_env", "_dsl_loader", "_template_vars", "_active_templates", "_performance_events"]:
        assert getattr(a, name) is not getattr(b, name), name


def test_set_and_loop_names_are_not_variables(runtime):
    executor = Executor.from_string(
        runtime, "{% set x = y %}{{ x }}{% for item in items %}{{ item }}{{ z if w }}{% endfor %}"
        "{% macro m(arg) %}{{ arg }}{% endmacro %}")
    assert executor._template_vars == {"y", "items", "z", "w"}


# ---- template files --------------------------------------------------------------------------

def test_from_file_reads_the_text(runtime, tmp_path):
    path = tmp_path / "t.dsl"
    path.write_text("hello {{ who }}", encoding="utf-8")
    for given in (str(path), path):
        executor = Executor.from_file(runtime, given)
        assert executor.template_source_id == f"file:{path}"
        assert executor._template_content == "hello {{ who }}"
        assert executor.populate_template({"who": "you"}) == "hello you"


def test_from_file_relative_path_stays_relative(runtime, tmp_path, monkeypatch):
    (tmp_path / "dir").mkdir()
    (tmp_path / "dir" / "t.dsl").write_text("x")
    monkeypatch.chdir(tmp_path)
    assert Executor.from_file(runtime, "./dir//t.dsl").template_source_id == "file:dir/t.dsl"


@pytest.mark.parametrize("data, content", [
    (b"", ""),
    (b"a\r\nb\rc\n", "a\nb\nc\n"),
    ("\ufeff{{ x }}".encode("utf-8"), "\ufeff{{ x }}"),
    ("caf\u00e9".encode("utf-8"), "caf\u00e9"),
])
def test_from_file_text_mode(runtime, tmp_path, data, content):
    path = tmp_path / "t.dsl"
    path.write_bytes(data)
    executor = Executor.from_file(runtime, path)
    assert executor._template_content == content
    assert executor.get_template_variables() == ({"x"} if "{{ x }}" in content else set())


def test_from_file_missing(runtime, tmp_path):
    path = tmp_path / "absent.dsl"
    with pytest.raises(FileNotFoundError) as info:
        Executor.from_file(runtime, str(path))
    assert str(info.value) == f"Template file not found: {path}"
    assert info.value.args == (f"Template file not found: {path}",)


def test_from_file_directory(runtime, tmp_path):
    with pytest.raises(OSError) as info:
        Executor.from_file(runtime, tmp_path)
    error = info.value
    assert type(error) is OSError
    assert type(error.__context__) is IsADirectoryError
    assert error.__cause__ is None and not error.__suppress_context__
    assert str(error) == f"Failed to read template file {tmp_path}: {error.__context__}"


def test_from_file_open_failure(runtime, tmp_path):
    path = tmp_path / "t.dsl"
    path.write_text("x")
    denied = PermissionError(13, "Permission denied")
    with mock.patch("builtins.open", side_effect=denied) as opened:
        with pytest.raises(OSError) as info:
            Executor.from_file(runtime, path)
    opened.assert_called_once_with(path, "r", encoding="utf-8")
    assert str(info.value) == f"Failed to read template file {path}: [Errno 13] Permission denied"
    assert info.value.__context__ is denied


def test_from_file_read_failure_closes_the_file(runtime, tmp_path):
    path = tmp_path / "t.dsl"
    path.write_text("x")
    opener = mock.mock_open()
    opener.return_value.read.side_effect = OSError(5, "Input/output error")
    with mock.patch("builtins.open", opener), pytest.raises(OSError, match=r"Input/output error$") as info:
        Executor.from_file(runtime, path)
    assert str(info.value).startswith(f"Failed to read template file {path}: ")
    opener.return_value.__exit__.assert_called_once()


def test_from_file_undecodable_passes_out(runtime, tmp_path):
    path = tmp_path / "t.dsl"
    path.write_bytes(b"ok \xff\xfe")
    with pytest.raises(UnicodeDecodeError):
        Executor.from_file(runtime, path)


def test_from_file_path_conversion_rejects_other_types(runtime):
    with pytest.raises(TypeError):
        Executor.from_file(runtime, 42)


def test_from_file_uses_the_module_path_type(runtime, tmp_path):
    path = tmp_path / "t.dsl"
    path.write_text("x")
    with mock.patch.object(zt, "Path", wraps=Path) as path_type:
        Executor.from_file(runtime, str(path))
    assert path_type.call_args_list[0] == mock.call(str(path))


# ---- failures leave nothing behind ------------------------------------------------------------

@pytest.mark.parametrize("make, error", [
    (lambda rt: Executor.from_string(rt, "{% for %}"), jinja2.TemplateSyntaxError),
    (lambda rt: Executor.from_string(rt, "{{ a }"), jinja2.TemplateSyntaxError),
    (lambda rt: Executor.from_builtin(rt, "nope"), ValueError),
    (lambda rt: Executor(rt, "field-wise"), AttributeError),
])
def test_failed_creation_leaves_no_executor(runtime, make, error):
    gc.collect()
    before = executor_count()
    for _ in range(3):
        with pytest.raises(error):
            make(runtime)
    gc.collect()
    assert executor_count() == before


def test_field_wise_constructor_is_not_a_creation_path(runtime):
    with pytest.raises(AttributeError, match="_template_content"):
        Executor(runtime, "id")


def test_loader_errors_pass_out(runtime):
    class BrokenLoader:
        def __init__(self):
            raise RuntimeError("no loader today")

    with mock.patch.object(zt, "ZeZuvoDSLLoader", BrokenLoader):
        with pytest.raises(RuntimeError, match="no loader today"):
            Executor.from_builtin(runtime, "algo_flipper.dsl")


# ---- the steps are Python-level calls ----------------------------------------------------------

@pytest.mark.parametrize("make, expected_id", [
    (lambda rt: Executor.from_builtin(rt, "simple_flipper.dsl"), "builtin:simple_flipper.dsl"),
    (lambda rt: Executor.from_string(rt, "text", "sid"), "sid"),
])
def test_factories_end_in_create_from_content(runtime, make, expected_id):
    sentinel = object()
    with mock.patch.object(Executor, "_create_from_content", return_value=sentinel) as create:
        assert make(runtime) is sentinel
    runtime_arg, source_id, content = create.call_args.args
    assert runtime_arg is runtime and source_id == expected_id and isinstance(content, str)


def test_create_from_content_directly(runtime):
    executor = Executor._create_from_content(runtime, "direct", "{{ a }}")
    assert (executor.template_source_id, executor._template_vars) == ("direct", {"a"})
    with pytest.raises(TypeError, match=r"Argument 'source_id' has incorrect type \(expected str, got NoneType\)"):
        Executor._create_from_content(runtime, None, "x")


def test_post_init_runs_once_per_creation(runtime):
    seen = []
    with mock.patch.object(Executor, "__post_init__", lambda self: seen.append(self)):
        executor = Executor.from_string(runtime, "x")
    assert len(seen) == 1 and seen[0] is executor


class Logged(Executor):
    log = []

    def __post_init__(self):
        self.log.append("post_init")
        super().__post_init__()

    def _compile_template(self):
        self.log.append(("compile", self._template_content))
        super()._compile_template()

    def _extract_template_variables(self):
        self.log.append("extract")
        super()._extract_template_variables()


def test_subclass_creation_runs_the_overridden_steps(runtime):
    Logged.log.clear()
    executor = Logged.from_builtin(runtime, "breakout_monitor.dsl")
    assert type(executor) is Logged
    assert Logged.log == ["post_init", ("compile", zt.BUILTIN_TEMPLATES["breakout_monitor.dsl"]), "extract"]
    assert executor.zezuvo_runtime is runtime and executor._dsl_loader.zezuvoRuntime is runtime
    assert executor._active_templates == {} and executor._performance_events == {}
    assert executor.get_template_variables() == {"symbol", "high_level", "qty", "low_level"}
    assert "BREAKOUT HIGH" in executor.populate_template(dict(symbol="/ES", high_level=1, low_level=0, qty=1))
