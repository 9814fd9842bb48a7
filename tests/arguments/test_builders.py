"""Argument maps for the flipper templates: conversions, presence of keys, boundary errors."""

import inspect
from fractions import Fraction

import pytest

import brevant.zezuvo_templates as zt

algo_args = zt.create_template_args_for_algo_flipper
symbol_config = zt.create_symbol_config_for_flipper

BASE = ("MNQ", "/NQM5", "/MNQ", "MNQ", 35, "temathma-5x-12x-vwap", 1)
ALGO_KEYS = ["algo_symbol", "watch_symbol", "trade_symbol", "evict_symbol", "timeframe", "algo", "qty", "offset",
             "profit_pts", "loss_pts", "flip_sides"]


def test_algo_flipper_defaults():
    result = algo_args(*BASE)
    assert list(result) == ALGO_KEYS
    assert result == dict(zip(ALGO_KEYS, [*BASE, None, None, None, "both"]))


def test_algo_flipper_by_name_in_any_order():
    kwargs = dict(zip(ALGO_KEYS, [*BASE, 0.5, 4, 7, "long"]))
    result = algo_args(**dict(reversed(kwargs.items())))
    assert list(result) == ALGO_KEYS and result == kwargs


# (keyword, given, stored)
CONVERSIONS = [
    ("timeframe", 35.9, 35),
    ("timeframe", -2.7, -2),
    ("timeframe", True, 1),
    ("timeframe", Fraction(7, 2), 3),
    ("qty", True, 1),
    ("qty", 2**70, 2**70),
    ("offset", 2, 2.0),
    ("offset", 0.5, 0.5),
    ("offset", False, 0.0),
    ("offset", Fraction(1, 4), 0.25),
    ("offset", None, None),
    ("profit_pts", 4.8, 4),
    ("profit_pts", None, None),
    ("loss_pts", 0, 0),
    ("flip_sides", "sideways", "sideways"),
    ("flip_sides", None, None),
]


@pytest.mark.parametrize("keyword, given, stored", CONVERSIONS)
def test_algo_flipper_conversions(keyword, given, stored):
    value = algo_args(**(dict(zip(ALGO_KEYS, BASE)) | {keyword: given}))[keyword]
    assert value == stored and type(value) is type(stored)


def test_flip_sides_is_passed_on_as_is():
    marker = object()
    assert algo_args(*BASE, flip_sides=marker)["flip_sides"] is marker


def test_symbol_config_minimal():
    result = symbol_config("ES", "/ESZ4", "/ESZ5", "ES")
    assert result == {"name": "ES", "watch_symbol": "/ESZ4", "trade_symbol": "/ESZ5", "evict_symbol": "ES"}
    assert list(result) == ["name", "watch_symbol", "trade_symbol", "evict_symbol"]


# (optional arguments, the optional entries of the result in order)
PRESENCE = [
    ({"timeframe": 60}, {"timeframe": 60}),
    ({"qty": 3, "algo": "fast"}, {"algo": "fast", "qty": 3}),
    ({"timeframe": 0, "algo": ""}, {"timeframe": 0, "algo": ""}),
    ({"qty": 0}, {"qty": 0}),
    ({"timeframe": 59.9, "qty": True}, {"timeframe": 59, "qty": 1}),
    ({"timeframe": None, "algo": None, "qty": None}, {}),
    ({"qty": 2, "timeframe": 5, "algo": "x"}, {"timeframe": 5, "algo": "x", "qty": 2}),
]


@pytest.mark.parametrize("optional, entries", PRESENCE)
def test_symbol_config_presence(optional, entries):
    result = symbol_config("ES", "/ESZ4", "/ESZ5", "ES", **optional)
    assert list(result.items())[4:] == list(entries.items())
    assert all(type(result[k]) is type(v) for k, v in entries.items())


class Text(str):
    pass


# (function, arguments, message)
BOUNDARY_ERRORS = [
    (algo_args, (*BASE[:6], None), "Argument 'qty' has incorrect type (expected int, got NoneType)"),
    (algo_args, (*BASE[:4], None, *BASE[5:]), "Argument 'timeframe' has incorrect type (expected int, got NoneType)"),
    # Conversions come first: the integer is reported although a text argument before it is wrong too.
    (algo_args, (1, *BASE[1:4], "35", *BASE[5:]), "Argument 'timeframe' has incorrect type (expected int, got str)"),
    (algo_args, (*BASE, "0.5"), "Argument 'offset' has incorrect type (expected float, got str)"),
    (algo_args, (*BASE, None, "4"), "Argument 'profit_pts' has incorrect type (expected int, got str)"),
    (algo_args, (Text("MNQ"), *BASE[1:]), "Argument 'algo_symbol' has incorrect type (expected str, got Text)"),
    (algo_args, (*BASE[:5], None, 1), "Argument 'algo' has incorrect type (expected str, got NoneType)"),
    (algo_args, BASE[:6], "create_template_args_for_algo_flipper() takes at least 7 positional arguments (6 given)"),
    (algo_args, (*BASE, 1, 2, 3, "both", "x"),
     "create_template_args_for_algo_flipper() takes at most 11 positional arguments (12 given)"),
    (symbol_config, ("ES", "/ES", "/MES", "ES", None, 5), "Argument 'algo' has incorrect type (expected str, got int)"),
    (symbol_config, ("ES", "/ES", "/MES", "ES", "60"), "Argument 'timeframe' has incorrect type (expected int, got str)"),
    (symbol_config, ("ES", "/ES", "/MES", b"ES"), "Argument 'evict_symbol' has incorrect type (expected str, got bytes)"),
    (symbol_config, ("ES",), "create_symbol_config_for_flipper() takes at least 4 positional arguments (1 given)"),
]


@pytest.mark.parametrize("function, args, message", BOUNDARY_ERRORS)
def test_boundary_errors(function, args, message):
    with pytest.raises(TypeError) as info:
        function(*args)
    assert str(info.value) == message


def test_each_call_returns_a_new_map():
    first, second = symbol_config("ES", "/ES", "/MES", "ES"), symbol_config("ES", "/ES", "/MES", "ES")
    first["qty"] = 5
    assert "qty" not in second
    a, b = algo_args(*BASE), algo_args(*BASE)
    assert a == b and a is not b


@pytest.mark.parametrize("function, signature", [
    (algo_args, "(algo_symbol, watch_symbol, trade_symbol, evict_symbol, timeframe, algo, qty, offset=None, "
                "profit_pts=None, loss_pts=None, flip_sides='both')"),
    (symbol_config, "(algo_symbol, watch_symbol, trade_symbol, evict_symbol, timeframe=None, algo=None, qty=None)"),
])
def test_signature_and_module(function, signature):
    assert str(inspect.signature(function)) == signature
    assert function.__module__ == "brevant.zezuvo_templates"


def test_built_symbols_render_with_the_template_fallbacks(runtime):
    executor = zt.ZeZuvoRuntimeTemplateExecutor.from_builtin(runtime, "multi_symbol_flipper.dsl")
    rendered = executor.populate_template(dict(
        symbols=[symbol_config("ES", "/ES", "/MES", "ES", qty=0), symbol_config("NQ", "/NQ", "/MNQ", "NQ", 60)],
        base_timeframe=35, base_algo="slow", default_qty=4))
    assert "ES.35.algos.slow.stopped is False" in rendered and "buy /MES 0 LIM" in rendered
    assert "NQ.60.algos.slow.stopped is False" in rendered and "buy /MNQ 4 LIM" in rendered
