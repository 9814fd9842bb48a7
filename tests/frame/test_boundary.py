"""Calling conventions shared by every public function and method, exercised through real callables."""

import inspect
from fractions import Fraction

import pytest

import brevant.zezuvo_templates as zt

Executor = zt.ZeZuvoRuntimeTemplateExecutor
algo_args = zt.create_template_args_for_algo_flipper
symbol_config = zt.create_symbol_config_for_flipper

SYMBOLS = ("MNQ", "/NQM5", "/MNQ", "MNQ")


class Text(str):
    pass


class Map(dict):
    pass


class Falsy:
    def __bool__(self):
        return False


class BrokenTruth:
    def __bool__(self):
        raise ZeroDivisionError("no truth today")


@pytest.fixture
def executor(runtime):
    return Executor.from_string(runtime, "{{ a }}", source_id="boundary")


def incorrect(parameter, expected, got):
    return f"Argument '{parameter}' has incorrect type (expected {expected}, got {got})"


# (call, message); `call` gets the executor fixture.
TYPE_ERRORS = {
    # Counts include the receiver; "exactly" when nothing has a default.
    "method, none given": (
        lambda e: e.populate_template(), "populate_template() takes exactly 2 positional arguments (1 given)"),
    "method, one too many": (
        lambda e: e.populate_template({}, {}), "populate_template() takes exactly 2 positional arguments (3 given)"),
    "method without parameters": (
        lambda e: e.get_template_variables(1), "get_template_variables() takes exactly 1 positional argument (2 given)"),
    "other class, no parameters": (
        lambda e: zt._template_cache.clear(None), "clear() takes exactly 1 positional argument (2 given)"),
    "other class, too few": (
        lambda e: zt._template_cache.get_template("k"), "get_template() takes exactly 3 positional arguments (2 given)"),
    "class method, exactly": (
        lambda e: Executor.from_builtin(e.zezuvo_runtime),
        "from_builtin() takes exactly 3 positional arguments (2 given)"),
    "class method, at least": (
        lambda e: Executor.from_string(e.zezuvo_runtime),
        "from_string() takes at least 3 positional arguments (2 given)"),
    "class method, at most": (
        lambda e: Executor.from_string(e.zezuvo_runtime, "x", None, "extra"),
        "from_string() takes at most 4 positional arguments (5 given)"),
    "function, nothing given": (
        lambda e: symbol_config(), "create_symbol_config_for_flipper() takes at least 4 positional arguments (0 given)"),
    "function, at most": (
        lambda e: symbol_config(*SYMBOLS, 1, "a", 2, 3),
        "create_symbol_config_for_flipper() takes at most 7 positional arguments (8 given)"),
    # Names fill gaps; what counts as given is the run of leading parameters that got a value.
    "gap after names": (
        lambda e: algo_args("MNQ", "/NQM5", evict_symbol="MNQ", timeframe=1, algo="a", qty=1),
        "create_template_args_for_algo_flipper() takes at least 7 positional arguments (2 given)"),
    "gap after names, class method": (
        lambda e: Executor.from_string(e.zezuvo_runtime, source_id="s"),
        "from_string() takes at least 3 positional arguments (2 given)"),
    "first parameter missing": (
        lambda e: Executor.from_builtin(template_name="algo_flipper.dsl"),
        "from_builtin() takes exactly 3 positional arguments (1 given)"),
    # Keywords.
    "unexpected keyword": (
        lambda e: e.validate_template_args({}, args={}),
        "validate_template_args() got an unexpected keyword argument 'args'"),
    "receiver by name": (
        lambda e: e.populate_template({}, self=e), "populate_template() got an unexpected keyword argument 'self'"),
    "repeated keyword": (
        lambda e: Executor.from_string(e.zezuvo_runtime, "x", template_content="y"),
        "from_string() got multiple values for keyword argument 'template_content'"),
    "repeated keyword, function": (
        lambda e: symbol_config(*SYMBOLS, 1, algo_symbol="ES"),
        "create_symbol_config_for_flipper() got multiple values for keyword argument 'algo_symbol'"),
    # Conversions.
    "int from text": (lambda e: algo_args(*SYMBOLS, "3", "a", 1), incorrect("timeframe", "int", "str")),
    "int from None": (lambda e: algo_args(*SYMBOLS, 1, "a", None), incorrect("qty", "int", "NoneType")),
    "int from complex": (lambda e: algo_args(*SYMBOLS, 1j, "a", 1), incorrect("timeframe", "int", "complex")),
    "float from text": (lambda e: algo_args(*SYMBOLS, 1, "a", 1, "0.5"), incorrect("offset", "float", "str")),
    "int-or-None from list": (lambda e: symbol_config(*SYMBOLS, qty=[1]), incorrect("qty", "int", "list")),
    # Exact types, tested after all conversions, first failing parameter reported.
    "text subtype": (lambda e: Executor.from_builtin(e.zezuvo_runtime, Text("algo_flipper.dsl")),
                     incorrect("template_name", "str", "Text")),
    "map subtype": (lambda e: e.populate_template(Map(a=1)), incorrect("template_args", "dict", "Map")),
    "text-or-None given bytes": (lambda e: Executor.from_string(e.zezuvo_runtime, "x", b"id"),
                                 incorrect("source_id", "str", "bytes")),
    "first text reported": (lambda e: zt._template_cache.get_template(1, 2), incorrect("template_path", "str", "int")),
    "int reported before earlier text": (
        lambda e: algo_args(1, *SYMBOLS[1:], 35, "a", "1"), incorrect("qty", "int", "str")),
    "float reported before earlier text": (
        lambda e: algo_args(None, *SYMBOLS[1:], 35, "a", 1, []), incorrect("offset", "float", "list")),
}


@pytest.mark.parametrize("call, message", TYPE_ERRORS.values(), ids=TYPE_ERRORS)
def test_type_errors(executor, call, message):
    with pytest.raises(TypeError) as info:
        call(executor)
    assert str(info.value) == message


def test_every_parameter_by_name(runtime):
    executor = Executor.from_string(runtime=runtime, template_content="{{ a }}", source_id="by-name")
    assert executor.template_source_id == "by-name"
    assert executor.populate_template(template_args={"a": 1}) == "1"
    assert executor.validate_template_args(template_args={}) == (False, {"a"})
    assert Executor.from_builtin(template_name="simple_flipper.dsl", runtime=runtime).template_source_id == \
        "builtin:simple_flipper.dsl"
    assert zt._template_cache.get_template(content="x", template_path="by-name-key").render() == "x"
    assert symbol_config(evict_symbol="D", trade_symbol="C", watch_symbol="B", algo_symbol="A", qty=2) == \
        {"name": "A", "watch_symbol": "B", "trade_symbol": "C", "evict_symbol": "D", "qty": 2}


@pytest.mark.parametrize("given, stored", [
    (3.9, 3), (-3.9, -3), (True, 1), (False, 0), (Fraction(9, 2), 4), (7, 7), (2**80, 2**80),
])
def test_integer_conversion(given, stored):
    value = algo_args(*SYMBOLS, given, "a", 1)["timeframe"]
    assert value == stored and type(value) is int


@pytest.mark.parametrize("given, stored", [(2, 2.0), (True, 1.0), (Fraction(1, 8), 0.125), (0.5, 0.5)])
def test_float_conversion(given, stored):
    value = algo_args(*SYMBOLS, 1, "a", 1, given)["offset"]
    assert value == stored and type(value) is float


def test_exact_values_pass_unchanged():
    big = 2**80
    offset = 0.1
    result = algo_args(*SYMBOLS, big, "a", 1, offset)
    assert result["timeframe"] is big and result["offset"] is offset


def test_none_passes_where_allowed(runtime):
    assert list(symbol_config(*SYMBOLS, None, None, None)) == ["name", "watch_symbol", "trade_symbol", "evict_symbol"]
    assert algo_args(*SYMBOLS, 1, "a", 1, None, None, None)["offset"] is None
    assert Executor.from_string(runtime, "x", None).template_source_id.startswith("string:")


def test_untested_parameters_take_anything(runtime, tmp_path):
    marker = object()
    assert algo_args(*SYMBOLS, 1, "a", 1, flip_sides=marker)["flip_sides"] is marker
    assert Executor.from_string(marker, "x").zezuvo_runtime is marker
    # A path parameter is left to the path type, whose own error passes out.
    with pytest.raises(TypeError) as info:
        Executor.from_file(runtime, 3.5)
    assert "has incorrect type" not in str(info.value)


def test_records_take_fields_by_position_or_name_without_type_tests():
    by_position = zt.CachedTemplate("not a template", "not a float", 7)
    by_name = zt.CachedTemplate(content_hash=7, mtime="not a float", template="not a template")
    assert by_position == by_name and by_position.mtime == "not a float"
    event = zt.PerformanceEvent("when", "profit", "win")
    assert event.metadata == {}
    with pytest.raises(TypeError):
        zt.CachedTemplate("t", 1.0)


# ---- truth values ----------------------------------------------------------------------

class RecordingLoader:
    """Fake loader: records the activation flag it was given."""

    def __init__(self):
        self.flags = []

    def load(self, dsl_text, activate=True):
        self.flags.append(activate)
        return 0, set(), set()


needs_activate = pytest.mark.skipif(not hasattr(Executor, "activate"), reason="activation not built on this branch")


@needs_activate
@pytest.mark.parametrize("given, flag", [
    (0, False), (0.0, False), ("", False), (None, False), ([], False), ({}, False), (Falsy(), False),
    ("no", True), (1, True), ([0], True), (object(), True), (True, True), (False, False),
])
def test_truth_value_parameter(executor, given, flag):
    loader = executor._dsl_loader = RecordingLoader()
    executor.activate("instance", "text", enable=given)
    assert loader.flags == [flag] and type(loader.flags[0]) is bool


@needs_activate
def test_failing_truth_test_is_reported_first(executor):
    loader = executor._dsl_loader = RecordingLoader()
    with pytest.raises(ZeroDivisionError, match="no truth today"):
        executor.activate(Text("instance"), "text", BrokenTruth())
    assert loader.flags == []


# ---- signatures ------------------------------------------------------------------------

@pytest.mark.parametrize("callable_, signature", [
    (lambda e: Executor.from_string, "(runtime, template_content, source_id=None)"),
    (lambda e: Executor.from_builtin, "(runtime, template_name)"),
    (lambda e: Executor._create_from_content, "(runtime, source_id, template_content)"),
    (lambda e: e.populate_template, "(template_args)"),
    (lambda e: e.get_template_variables, "()"),
    (lambda e: Executor.validate_template_args, "(self, /, template_args)"),
    (lambda e: zt._template_cache.get_template, "(template_path, content)"),
    (lambda e: zt.TemplateCache.clear, "(self, /)"),
])
def test_signatures(executor, callable_, signature):
    assert str(inspect.signature(callable_(executor))) == signature
