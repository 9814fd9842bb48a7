// The five built-in templates, in catalogue order.  The map is bound once and
// read by name at every use, so entries a caller adds or replaces are seen.
#include "frame/globals.hpp"
#include "frame/subsystems.hpp"

namespace zz::templates {
namespace {

struct Builtin {
    const char* name;
    const char* text;
};

// Raw literals: each text is exactly what is between the delimiters.
constexpr Builtin kBuiltins[] = {
    {"algo_flipper.dsl",
     R"dsl(# Algo Flipper Template
# Monitors an algorithm and flips positions when it stops
# Template variables: watch_symbol, algo_symbol, trade_symbol, evict_symbol, timeframe, algo, qty, offset, profit_pts, loss_pts, flip_sides

# Build algo datafeed path like: MNQ.35.algos.temathma-5x-12x-vwap
{% set algo_path = algo_symbol + '.' + timeframe|string + '.algos.' + algo %}

# Build short action trigger
{% set short_action -%}
cancel {{ evict_symbol }}*; evict {{ evict_symbol }}* -1 0 MKT{% if flip_sides == 'short' or flip_sides == 'both' %}; buy {{ trade_symbol }} -{{ qty }} LIM @ {% if offset %}(+ live {{ offset }}){% else %}live{% endif %}{% if profit_pts %} + {{ profit_pts }}{% endif %}{% if loss_pts %} - {{ loss_pts }}{% endif %}{% endif %}
{%- endset %}

# Build long action trigger
{% set long_action -%}
cancel {{ evict_symbol }}*; evict {{ evict_symbol }}* -1 0 MKT{% if flip_sides == 'long' or flip_sides == 'both' %}; buy {{ trade_symbol }} {{ qty }} LIM @ {% if offset %}(- live {{ offset }}){% else %}live{% endif %}{% if profit_pts %} + {{ profit_pts }}{% endif %}{% if loss_pts %} - {{ loss_pts }}{% endif %}{% endif %}
{%- endset %}

check_short = "if {{ watch_symbol }} { {{ algo_path }}.stopped is True and ({{ algo_path }}.be is 'short') }: {{ short_action }}"

check_long = "if {{ watch_symbol }} { {{ algo_path }}.stopped is True and ({{ algo_path }}.be is 'long') }: {{ long_action }}"

unstopped = "if {{ watch_symbol }} { {{ algo_path }}.stopped is False }: say algo reset"

flow primary:
    check_short | check_long

flow entrypoint:
    primary -> unstopped -> @

start: entrypoint)dsl"},
    {"simple_flipper.dsl",
     R"dsl(# Simple Buy/Sell Flipper Template
# Basic pattern for alternating between buy and sell signals
# Template variables: symbol, buy_condition, sell_condition, qty, action_buy, action_sell

buy_signal = "if {{ buy_condition }}: {{ action_buy }}"
sell_signal = "if {{ sell_condition }}: {{ action_sell }}"

flow trade_signals:
    buy_signal | sell_signal

flow rotate:
    trade_signals -> @

start: rotate)dsl"},
    {"breakout_monitor.dsl",
     R"dsl(# Breakout Monitor Template
# Monitors for price breakouts above/below key levels
# Template variables: symbol, high_level, low_level, timeframe, qty

breakout_high = "if {{ symbol }} price > {{ high_level }}: buy {{ symbol }} {{ qty }} MKT; say BREAKOUT HIGH at {{ symbol }}.price"
breakout_low = "if {{ symbol }} price < {{ low_level }}: sell {{ symbol }} {{ qty }} MKT; say BREAKOUT LOW at {{ symbol }}.price"

flow breakouts:
    breakout_high | breakout_low

start: breakouts)dsl"},
    {"mean_reversion.dsl",
     R"dsl(# Mean Reversion Template
# Monitors for oversold/overbought conditions and trades mean reversion
# Template variables: symbol, timeframe, rsi_high, rsi_low, qty

oversold = "if {{ symbol }} rsi {{ timeframe }} < {{ rsi_low }}: buy {{ symbol }} {{ qty }} LIM; say OVERSOLD ENTRY"
overbought = "if {{ symbol }} rsi {{ timeframe }} > {{ rsi_high }}: sell {{ symbol }} {{ qty }} LIM; say OVERBOUGHT ENTRY"

flow mean_revert:
    oversold | overbought

start: mean_revert)dsl"},
    {"multi_symbol_flipper.dsl",
     R"dsl(# Multi-Symbol Algo Flipper Template
# Demonstrates Jinja2's power with loops and conditionals
# Template variables: symbols (list), base_timeframe, base_algo, default_qty

{% for symbol_config in symbols %}
# {{ symbol_config.name }} Configuration
{% set algo_symbol = symbol_config.name %}
{% set timeframe = symbol_config.get('timeframe', base_timeframe) %}
{% set algo = symbol_config.get('algo', base_algo) %}
{% set qty = symbol_config.get('qty', default_qty) %}
{% set watch_symbol = symbol_config.watch_symbol %}
{% set trade_symbol = symbol_config.trade_symbol %}
{% set evict_symbol = symbol_config.evict_symbol %}

{{ algo_symbol }}_check_short = "if {{ watch_symbol }} { {{ algo_symbol }}.{{ timeframe }}.algos.{{ algo }}.stopped is True and ({{ algo_symbol }}.{{ timeframe }}.algos.{{ algo }}.be is 'short') }: cancel {{ evict_symbol }}*; evict {{ evict_symbol }}* -1 0 MKT; buy {{ trade_symbol }} -{{ qty }} LIM @ live + 4 - 7"

{{ algo_symbol }}_check_long = "if {{ watch_symbol }} { {{ algo_symbol }}.{{ timeframe }}.algos.{{ algo }}.stopped is True and ({{ algo_symbol }}.{{ timeframe }}.algos.{{ algo }}.be is 'long') }: cancel {{ evict_symbol }}*; evict {{ evict_symbol }}* -1 0 MKT; buy {{ trade_symbol }} {{ qty }} LIM @ live + 4 - 7"

{{ algo_symbol }}_unstopped = "if {{ watch_symbol }} { {{ algo_symbol }}.{{ timeframe }}.algos.{{ algo }}.stopped is False }: say {{ algo_symbol }} algo reset"

flow {{ algo_symbol }}_primary:
    {{ algo_symbol }}_check_short | {{ algo_symbol }}_check_long

flow {{ algo_symbol }}_entrypoint:
    {{ algo_symbol }}_primary -> {{ algo_symbol }}_unstopped -> @

{% endfor %}

start: {% for symbol_config in symbols %}{{ symbol_config.name }}_entrypoint{% if not loop.last %}, {% endif %}{% endfor %})dsl"},
};

}  // namespace

bool define_builtin_templates(PyObject*) {
    Ref catalogue = Ref::steal(PyDict_New());
    if (!catalogue) return false;
    for (const Builtin& b : kBuiltins) {
        Ref text = Ref::steal(PyUnicode_FromString(b.text));
        if (!text || PyDict_SetItemString(catalogue.get(), b.name, text.get()) < 0) return false;
    }
    return globals::bind(globals::Name::BUILTIN_TEMPLATES, catalogue.get());
}

}  // namespace zz::templates
