"""The five built-in templates: their texts, their variables and the rule text they render."""

from unittest import mock

import pytest

import brevant.zezuvo_templates as zt

Executor = zt.ZeZuvoRuntimeTemplateExecutor

# name: (length, lines, variables)
CATALOGUE = {
    "algo_flipper.dsl": (1609, 30, {"algo_symbol", "timeframe", "algo", "evict_symbol", "flip_sides",
                                    "trade_symbol", "qty", "offset", "profit_pts", "loss_pts", "watch_symbol"}),
    "simple_flipper.dsl": (403, 14, {"buy_condition", "action_buy", "sell_condition", "action_sell"}),
    "breakout_monitor.dsl": (480, 11, {"symbol", "high_level", "qty", "low_level"}),
    "mean_reversion.dsl": (467, 11, {"symbol", "timeframe", "rsi_low", "qty", "rsi_high"}),
    "multi_symbol_flipper.dsl": (1755, 29, {"symbols", "base_timeframe", "base_algo", "default_qty"}),
}

MNQ_ARGS = dict(algo_symbol="MNQ", watch_symbol="/NQM5", trade_symbol="/MNQ", evict_symbol="MNQ", timeframe=35,
                algo="temathma-5x-12x-vwap", qty=1, offset=0.5, profit_pts=4, loss_pts=7, flip_sides="both")

SYMBOLS = [
    zt.create_symbol_config_for_flipper("ES", "/ESZ4", "/MES", "ES"),
    zt.create_symbol_config_for_flipper("NQ", "/NQM5", "/MNQ", "NQ", timeframe=60, algo="fast", qty=2),
]

# Sensible arguments for every built-in template.
RENDER_ARGS = {
    "algo_flipper.dsl": MNQ_ARGS,
    "simple_flipper.dsl": dict(buy_condition="/ES price < 5000", action_buy="buy /ES 1 MKT",
                               sell_condition="/ES price > 5100", action_sell="sell /ES 1 MKT"),
    "breakout_monitor.dsl": dict(symbol="/ES", high_level=5100, low_level=4900, qty=2),
    "mean_reversion.dsl": dict(symbol="/ES", timeframe=300, rsi_low=30, rsi_high=70, qty=1),
    "multi_symbol_flipper.dsl": dict(symbols=SYMBOLS, base_timeframe=35, base_algo="slow", default_qty=1),
}


def render(runtime, name, **args):
    return Executor.from_builtin(runtime, name).populate_template(args)


def test_catalogue_lists_the_five_templates_in_order():
    assert list(zt.BUILTIN_TEMPLATES) == list(CATALOGUE)
    assert type(zt.BUILTIN_TEMPLATES) is dict


@pytest.mark.parametrize("name", CATALOGUE)
def test_text_shape(name):
    length, lines, _ = CATALOGUE[name]
    text = zt.BUILTIN_TEMPLATES[name]
    assert (len(text), len(text.split("\n"))) == (length, lines)
    assert text.isascii()
    assert "\t" not in text and "\r" not in text
    assert not text.endswith("\n")
    assert all(line == line.rstrip(" ") for line in text.split("\n"))
    title, description, variables_line = text.split("\n")[:3]
    assert title.startswith("# ") and title.endswith("Template")
    assert description.startswith("# ")
    assert variables_line.startswith("# Template variables: ")


@pytest.mark.parametrize("name", CATALOGUE)
def test_discovered_variables(runtime, name):
    assert Executor.from_builtin(runtime, name).get_template_variables() == CATALOGUE[name][2]


@pytest.mark.parametrize("name", CATALOGUE)
def test_comment_header_passes_through_unchanged(runtime, name):
    text = zt.BUILTIN_TEMPLATES[name]
    rendered = render(runtime, name, **RENDER_ARGS[name])
    assert rendered.split("\n")[:3] == text.split("\n")[:3]


@pytest.mark.parametrize("name", CATALOGUE)
def test_rendered_text_loads_into_the_runtime(name):
    pytest.importorskip("brevant.zezuvo")
    from brevant.zezuvo import ZeZuvoRuntime
    from brevant.zezuvo_dsl import ZeZuvoDSLLoader

    runtime = ZeZuvoRuntime()
    loader = ZeZuvoDSLLoader()
    loader.zezuvoRuntime = runtime
    created, start_ids, all_ids = loader.load(render(runtime, name, **RENDER_ARGS[name]))
    assert created == len(all_ids) == len(runtime) > 0
    assert start_ids <= all_ids
    start_line = render(runtime, name, **RENDER_ARGS[name]).split("\n")[-1]
    assert sorted(pid.name for pid in start_ids) == sorted(start_line.removeprefix("start: ").split(", "))


# ---- algo_flipper.dsl ------------------------------------------------------

PATH = "MNQ.35.algos.temathma-5x-12x-vwap"
WORKED_EXAMPLE = "\n".join([
    "# Algo Flipper Template",
    "# Monitors an algorithm and flips positions when it stops",
    "# Template variables: watch_symbol, algo_symbol, trade_symbol, evict_symbol, timeframe, algo, qty, offset, "
    "profit_pts, loss_pts, flip_sides",
    "",
    "# Build algo datafeed path like: MNQ.35.algos.temathma-5x-12x-vwap",
    "",  # the set tag's line stays as an empty line: the compiled template does not trim
    "",
    "# Build short action trigger",
    "",
    "",
    "# Build long action trigger",
    "",
    "",
    f"check_short = \"if /NQM5 {{ {PATH}.stopped is True and ({PATH}.be is 'short') }}: "
    "cancel MNQ*; evict MNQ* -1 0 MKT; buy /MNQ -1 LIM @ (+ live 0.5) + 4 - 7\"",
    "",
    f"check_long = \"if /NQM5 {{ {PATH}.stopped is True and ({PATH}.be is 'long') }}: "
    "cancel MNQ*; evict MNQ* -1 0 MKT; buy /MNQ 1 LIM @ (- live 0.5) + 4 - 7\"",
    "",
    f"unstopped = \"if /NQM5 {{ {PATH}.stopped is False }}: say algo reset\"",
    "",
    "flow primary:",
    "    check_short | check_long",
    "",
    "flow entrypoint:",
    "    primary -> unstopped -> @",
    "",
    "start: entrypoint",
])


def test_algo_flipper_worked_example(runtime):
    assert render(runtime, "algo_flipper.dsl", **MNQ_ARGS).split("\n") == WORKED_EXAMPLE.split("\n")


def actions(rendered):
    """The action part of check_short and check_long."""
    rules = dict(line.split(" = ", 1) for line in rendered.split("\n") if line.startswith("check_"))
    return tuple(rules[name].rsplit(" }: ", 1)[1].rstrip('"') for name in ("check_short", "check_long"))


EVICT = "cancel MNQ*; evict MNQ* -1 0 MKT"


@pytest.mark.parametrize("changes, short_action, long_action", [
    ({"flip_sides": "long"}, EVICT, EVICT + "; buy /MNQ 1 LIM @ (- live 0.5) + 4 - 7"),
    ({"flip_sides": "short"}, EVICT + "; buy /MNQ -1 LIM @ (+ live 0.5) + 4 - 7", EVICT),
    ({"flip_sides": "sideways"}, EVICT, EVICT),
    ({"flip_sides": None}, EVICT, EVICT),
    ({"offset": 0, "profit_pts": None}, EVICT + "; buy /MNQ -1 LIM @ live - 7", EVICT + "; buy /MNQ 1 LIM @ live - 7"),
    ({"offset": None, "profit_pts": 0, "loss_pts": None}, EVICT + "; buy /MNQ -1 LIM @ live",
     EVICT + "; buy /MNQ 1 LIM @ live"),
    ({"offset": "", "loss_pts": 0}, EVICT + "; buy /MNQ -1 LIM @ live + 4", EVICT + "; buy /MNQ 1 LIM @ live + 4"),
    ({"qty": 3, "offset": 2.0, "trade_symbol": "/ES"}, EVICT + "; buy /ES -3 LIM @ (+ live 2.0) + 4 - 7",
     EVICT + "; buy /ES 3 LIM @ (- live 2.0) + 4 - 7"),
])
def test_algo_flipper_actions(runtime, changes, short_action, long_action):
    assert actions(render(runtime, "algo_flipper.dsl", **(MNQ_ARGS | changes))) == (short_action, long_action)


def test_algo_flipper_timeframe_may_be_any_value_but_symbol_must_be_text(runtime):
    rendered = render(runtime, "algo_flipper.dsl", **(MNQ_ARGS | {"timeframe": "5m"}))
    assert "MNQ.5m.algos.temathma-5x-12x-vwap.stopped is False" in rendered
    with pytest.raises(TypeError):
        render(runtime, "algo_flipper.dsl", **(MNQ_ARGS | {"algo_symbol": 5}))


def test_algo_flipper_with_built_arguments(runtime):
    args = zt.create_template_args_for_algo_flipper("MNQ", "/NQM5", "/MNQ", "MNQ", 35, "temathma-5x-12x-vwap", 1,
                                                    offset=0.5, profit_pts=4, loss_pts=7)
    assert render(runtime, "algo_flipper.dsl", **args) == WORKED_EXAMPLE


# ---- the three plain substitution templates ---------------------------------

def test_simple_flipper(runtime):
    args = RENDER_ARGS["simple_flipper.dsl"]
    rendered = render(runtime, "simple_flipper.dsl", **args)
    assert rendered.split("\n")[3:] == [
        "",
        'buy_signal = "if /ES price < 5000: buy /ES 1 MKT"',
        'sell_signal = "if /ES price > 5100: sell /ES 1 MKT"',
        "",
        "flow trade_signals:",
        "    buy_signal | sell_signal",
        "",
        "flow rotate:",
        "    trade_signals -> @",
        "",
        "start: rotate",
    ]
    # The comment line names symbol and qty: they are neither required nor used.
    executor = Executor.from_builtin(runtime, "simple_flipper.dsl")
    assert executor.validate_template_args(args) == (True, set())
    assert executor.populate_template(args | {"symbol": "/NQ", "qty": 9}) == rendered


def test_breakout_monitor(runtime):
    rendered = render(runtime, "breakout_monitor.dsl", **RENDER_ARGS["breakout_monitor.dsl"])
    assert rendered.split("\n")[3:] == [
        "",
        'breakout_high = "if /ES price > 5100: buy /ES 2 MKT; say BREAKOUT HIGH at /ES.price"',
        'breakout_low = "if /ES price < 4900: sell /ES 2 MKT; say BREAKOUT LOW at /ES.price"',
        "",
        "flow breakouts:",
        "    breakout_high | breakout_low",
        "",
        "start: breakouts",
    ]


def test_mean_reversion(runtime):
    rendered = render(runtime, "mean_reversion.dsl", **RENDER_ARGS["mean_reversion.dsl"])
    assert rendered.split("\n")[3:] == [
        "",
        'oversold = "if /ES rsi 300 < 30: buy /ES 1 LIM; say OVERSOLD ENTRY"',
        'overbought = "if /ES rsi 300 > 70: sell /ES 1 LIM; say OVERBOUGHT ENTRY"',
        "",
        "flow mean_revert:",
        "    oversold | overbought",
        "",
        "start: mean_revert",
    ]


# ---- multi_symbol_flipper.dsl ------------------------------------------------

def section(name, watch, trade, evict, timeframe, algo, qty):
    path = f"{name}.{timeframe}.algos.{algo}"
    return [
        f"# {name} Configuration",
        *[""] * 8,
        f"{name}_check_short = \"if {watch} {{ {path}.stopped is True and ({path}.be is 'short') }}: "
        f"cancel {evict}*; evict {evict}* -1 0 MKT; buy {trade} -{qty} LIM @ live + 4 - 7\"",
        "",
        f"{name}_check_long = \"if {watch} {{ {path}.stopped is True and ({path}.be is 'long') }}: "
        f"cancel {evict}*; evict {evict}* -1 0 MKT; buy {trade} {qty} LIM @ live + 4 - 7\"",
        "",
        f"{name}_unstopped = \"if {watch} {{ {path}.stopped is False }}: say {name} algo reset\"",
        "",
        f"flow {name}_primary:",
        f"    {name}_check_short | {name}_check_long",
        "",
        f"flow {name}_entrypoint:",
        f"    {name}_primary -> {name}_unstopped -> @",
        "",
        "",
    ]


def test_multi_symbol_flipper_sections_and_fallbacks(runtime):
    lines = render(runtime, "multi_symbol_flipper.dsl", **RENDER_ARGS["multi_symbol_flipper.dsl"]).split("\n")
    header = zt.BUILTIN_TEMPLATES["multi_symbol_flipper.dsl"].split("\n")[:3]
    assert lines == [
        *header, "", "",
        # ES has no timeframe, algo or qty: the template-wide values apply to it alone.
        *section("ES", "/ESZ4", "/MES", "ES", 35, "slow", 1),
        *section("NQ", "/NQM5", "/MNQ", "NQ", 60, "fast", 2),
        "",
        "start: ES_entrypoint, NQ_entrypoint",
    ]


def test_multi_symbol_flipper_without_symbols(runtime):
    rendered = render(runtime, "multi_symbol_flipper.dsl", symbols=[], base_timeframe=35, base_algo="a",
                      default_qty=1)
    header = zt.BUILTIN_TEMPLATES["multi_symbol_flipper.dsl"].split("\n")[:3]
    assert rendered.split("\n") == [*header, "", "", "", "start: "]


def test_multi_symbol_flipper_missing_entry_renders_empty(runtime):
    rendered = render(runtime, "multi_symbol_flipper.dsl", symbols=[{"name": "ES", "trade_symbol": "/MES"}],
                      base_timeframe=35, base_algo="a", default_qty=1)
    assert 'ES_unstopped = "if  { ES.35.algos.a.stopped is False }: say ES algo reset"' in rendered
    assert "cancel *; evict * -1 0 MKT; buy /MES 1 LIM" in rendered


# ---- the map is read at the moment of use ------------------------------------

def test_entries_added_at_run_time_are_found(runtime):
    with mock.patch.dict(zt.BUILTIN_TEMPLATES, {"extra.dsl": "x = {{ value }}"}):
        executor = Executor.from_builtin(runtime, "extra.dsl")
        assert executor.template_source_id == "builtin:extra.dsl"
        assert executor.populate_template({"value": 1}) == "x = 1"
    with pytest.raises(ValueError, match=r"Built-in template 'extra.dsl' not found"):
        Executor.from_builtin(runtime, "extra.dsl")


def test_a_replaced_catalogue_is_used(runtime):
    with mock.patch.object(zt, "BUILTIN_TEMPLATES", {"only.dsl": "{{ a }}"}):
        assert Executor.from_builtin(runtime, "only.dsl").get_template_variables() == {"a"}
        with pytest.raises(ValueError, match=r"Available: only\.dsl$"):
            Executor.from_builtin(runtime, "algo_flipper.dsl")
