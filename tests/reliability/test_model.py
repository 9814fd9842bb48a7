"""Model-based check of a manager, its executors and the stand-in runtime.

A state machine drives one manager through random registrations, activations (through the
manager and directly on executors), deactivations, events, removals and reports.  After every
step a small Python model of what must hold is compared with what the module answers: the
registry, the active instances and their order, the events and their summaries, the metadata
records, the five reports, and the predicates that the runtime holds.
"""

import dataclasses
import hashlib
import re
import shutil
import tempfile
from datetime import datetime, timedelta
from pathlib import Path
from unittest import mock

import jinja2
import pytest
from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule

import brevant.zezuvo_templates as zt
from brevant.zezuvo import ZeZuvoRuntime

# ---------------------------------------------------------------- template sources


@dataclasses.dataclass(frozen=True)
class Text:
    """What the model knows of a template text: its variables and argument maps to try,
    each with whether rendering succeeds once no variable is missing."""

    variables: frozenset
    complete: dict
    unrenderable: tuple = ()

    def arguments(self):
        options = [(self.complete, True), ({**self.complete, "unused": 1}, True)]
        if self.variables:
            dropped = min(self.variables)
            options.append(({k: v for k, v in self.complete.items() if k != dropped}, True))
        return options + [(args, False) for args in self.unrenderable]


ENTRY = 'entry_{{ symbol }} = "if price > {{ level }}: buy {{ symbol }} 1 MKT"\n'
IDLE = 'idle = "if a: b"\n'
FLAG = '{% if flag %}on = "if a: b"\n{% endif %}off = "if c: d"\n'
CFG = 'r_{{ cfg.name.upper() }} = "if a: b"\n'
BLANK = " \n\t "
BROKEN = "{% if %}"

TEXTS = {
    ENTRY: Text(frozenset({"symbol", "level"}), {"symbol": "MNQ", "level": 10}),
    ENTRY + " ": Text(frozenset({"symbol", "level"}), {"symbol": "ES", "level": 5}),
    IDLE: Text(frozenset(), {}),
    FLAG: Text(frozenset({"flag"}), {"flag": None}),
    CFG: Text(frozenset({"cfg"}), {"cfg": {"name": "ab"}}, unrenderable=({"cfg": {}},)),
}

BUILTINS = {
    "simple_flipper.dsl": Text(
        frozenset({"buy_condition", "action_buy", "sell_condition", "action_sell"}),
        {"buy_condition": "x > 1", "action_buy": "buy X 1 MKT", "sell_condition": "x < 1", "action_sell": "say s"},
    ),
    "breakout_monitor.dsl": Text(
        frozenset({"symbol", "high_level", "qty", "low_level"}),
        {"symbol": "ES", "high_level": 10, "low_level": 5, "qty": 1},
    ),
    "mean_reversion.dsl": Text(
        frozenset({"symbol", "timeframe", "rsi_low", "qty", "rsi_high"}),
        {"symbol": "ES", "timeframe": 5, "rsi_low": 30, "rsi_high": 70, "qty": 1},
    ),
    "algo_flipper.dsl": Text(
        frozenset(zt.create_template_args_for_algo_flipper("A", "B", "C", "D", 1, "E", 1)),
        zt.create_template_args_for_algo_flipper("MNQ", "/NQM5", "/MNQ", "MNQ", 35, "algo-x", 1, offset=0.5),
    ),
    "multi_symbol_flipper.dsl": Text(
        frozenset({"symbols", "base_timeframe", "base_algo", "default_qty"}),
        {
            "symbols": [
                zt.create_symbol_config_for_flipper("ES", "/ESZ4", "/ESZ5", "ES"),
                zt.create_symbol_config_for_flipper("NQ", "/NQZ4", "/NQZ5", "NQ", timeframe=0, algo="b", qty=2),
            ],
            "base_timeframe": 5,
            "base_algo": "a",
            "default_qty": 1,
        },
    ),
}
CATALOGUE = ", ".join(zt.BUILTIN_TEMPLATES)

# Pre-rendered rule texts; the last one the loader rejects.
DSL_TEXTS = ['x = "if a: b"\n', 'p = "if a: b"\nq = "if c: d"\n\nflow f:\n    p | q\n\nstart: f\n', "# nothing\n",
             "not valid dsl"]
INVALID_DSL = DSL_TEXTS[-1]

# Never registered: what every operation answers for an unknown template.
UNKNOWN = "nope"
INSTANCE_NAMES = ["fast", "slow", "", "x.y"]
# Names given straight to an executor: plain ones, and ones that look like other templates' full names.
DIRECT_NAMES = ["fast", "", "alpha.fast", "beta.slow", "dot.ted.x"]
FILES = ["alpha.dsl", "dot.ted.dsl", "gamma.dsl", "missing.dsl"]  # gamma.dsl is a directory

START = datetime(2024, 5, 1, 9, 30)

# ---------------------------------------------------------------- the model


@dataclasses.dataclass
class Event:
    ts: datetime
    profit: float
    win: bool
    metadata: dict


@dataclasses.dataclass
class Instance:
    activated_at: datetime
    parameters: dict | None
    dsl_text: str
    created_count: int
    start_ids: set
    all_ids: set
    enabled: bool


@dataclasses.dataclass
class Executor:
    real: object
    source_id: str
    content: str
    text: Text
    active: dict = dataclasses.field(default_factory=dict)  # name -> Instance, in activation order
    events: dict = dataclasses.field(default_factory=dict)  # name -> [Event], in recording order


def neumaier(values):
    total = compensation = 0.0
    for x in values:
        t = total + x
        compensation += (total - t) + x if abs(total) >= abs(x) else (x - t) + total
        total = t
    return total + compensation


def summary(name, events):
    if not events:
        return zt.PerformanceSummary(name, 0, 0.0, 0, 0, 0.0, 0, "none", 0.0, None, None, 0.0)
    ordered = sorted(events, key=lambda e: e.ts)  # stable: equal times keep recording order
    n, wins = len(ordered), sum(e.win for e in ordered)
    total = neumaier(e.profit for e in ordered)
    last, streak = ordered[-1].win, 0
    for e in reversed(ordered):
        if e.win != last:
            break
        streak += 1
    span = (ordered[-1].ts - ordered[0].ts).total_seconds()
    return zt.PerformanceSummary(name, n, total, wins, n - wins, wins / n, streak, "win" if last else "loss", span,
                                 ordered[0].ts, ordered[-1].ts, total / n)


def part(name):
    return name.split(".", 1)[0]


def raises(exception, message=None, prefix=None):
    """pytest.raises that checks the whole message, or how it begins."""
    if message is not None:
        return pytest.raises(exception, match=rf"\A{re.escape(message)}\Z")
    return pytest.raises(exception, match=None if prefix is None else rf"\A{re.escape(prefix)}")


# ---------------------------------------------------------------- strategies

# Valid values come twice as often as each kind of fault.
_valid_profits = [0.1, -0.3, 150.0, -25.0, 1e16, 2, True, "12.5", " -1.5 "]
profits = st.sampled_from([("v", p) for p in _valid_profits] * 2
                          + [("bad", "abc"), ("bad", [1]), ("missing", None), ("missing", ...)])
wins = st.sampled_from([("v", True), ("v", False)] * 3 + [("bad", 1), ("missing", None), ("missing", ...)])


class Stamp(datetime):
    """A caller's own date-time type: compared and subtracted as the host does, not by the fast path."""


# Seconds and microseconds from the model clock, and the type of the stamp; None leaves "ts" out.
offsets = st.sampled_from([None, None, (0, 0, datetime), (-120, 0, datetime), (-1, 250000, Stamp), (30, 0, Stamp),
                           (-30, 500000, datetime), (0, 0, Stamp)])
# The flag is taken by its truth value.
enables = st.sampled_from([True, False, 0, "no", None])
extras = st.sampled_from([{}, {"note": "n"}, {"metadata": {"k": 1}}])


class ModelMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.now = START
        machine = self

        class Clock(datetime):
            @classmethod
            def now(cls, tz=None):
                return machine.now

        self.clock = mock.patch("brevant.zezuvo_templates.datetime", Clock)
        self.clock.start()
        self.dir = Path(tempfile.mkdtemp())
        (self.dir / "gamma.dsl").mkdir()
        self.files = {"alpha.dsl": ENTRY, "dot.ted.dsl": IDLE}
        for file, content in self.files.items():
            (self.dir / file).write_text(content)

        self.runtime = ZeZuvoRuntime()
        # Not the module's: it must survive everything the module does.
        self.foreign = self.runtime.create_predicate("foreign", "rule", "if a: b", True)
        self.manager = zt.ZeZuvoMultiTemplateManager(self.runtime)
        self.registry = {}  # template name -> Executor, in registration order

    def teardown(self):
        try:
            self.manager.deactivate_all()
            assert self.runtime.predicates() == [self.foreign]
        finally:
            self.clock.stop()
            shutil.rmtree(self.dir)

    # -- helpers --------------------------------------------------------------

    def pick(self, data):
        """A registered template name, or now and then one that is not registered."""
        return data.draw(st.sampled_from([*self.registry, UNKNOWN]) if self.registry else st.just(UNKNOWN))

    def executor(self, template):
        model = self.registry[template]
        real = self.manager[template]
        assert real is model.real
        return model

    def load(self, model, name, call, dsl_text=None, parameters=None, enable=True):
        """Runs an activation that must succeed and records what it created."""
        before = set(self.runtime.predicates())
        created, start_ids, all_ids = call()
        assert all_ids == set(self.runtime.predicates()) - before
        assert start_ids <= all_ids
        record = model.real.get_active_info(name)
        if dsl_text is not None:
            assert record.dsl_text == dsl_text
        model.active[name] = Instance(self.now, parameters, record.dsl_text, created, start_ids, all_ids,
                                      bool(enable))
        return record

    def register(self, name, expected_id, conflict, call, outcome):
        """outcome: (content, text) of a new executor, or (exception, message, prefix) of a failed creation."""
        if name in self.registry:
            registered = self.registry[name]
            if registered.source_id == expected_id:
                assert call() is registered.real
            else:
                with raises(ValueError, conflict(registered.source_id)):
                    call()
            return
        if isinstance(outcome[0], type):
            with raises(*outcome):
                call()
            return
        real = call()
        content, text = outcome
        assert (real.template_source_id, real._template_content) == (expected_id, content)
        assert real.get_template_variables() == text.variables
        self.registry[name] = Executor(real, expected_id, content, text)

    def activation_outcome(self, model, name, args, renders):
        missing = model.text.variables - args.keys()
        if missing:  # the argument maps tried lack one variable at most
            return raises(ValueError, f"Missing required template variables: {missing}")
        if not renders:
            return raises(ValueError, prefix="Template rendering failed: ")
        if name in model.active:
            return raises(ValueError, f"Template '{name}' is already active")
        return None

    def record_event(self, events_of, name, profit, win, offset, extra, call):
        data = dict(extra)
        if profit[1] is not ...:
            data["profit"] = profit[1]
        if win[1] is not ...:
            data["win"] = win[1]
        if offset is not None:
            seconds, micros, kind = offset
            moment = self.now + timedelta(seconds=seconds, microseconds=micros)
            data["ts"] = kind.combine(moment.date(), moment.time())
        if profit[0] == "missing":
            error = "Event data must contain 'profit' field"
        elif win[0] == "missing":
            error = "Event data must contain 'win' field"
        elif profit[0] == "bad":
            error = f"Event data 'profit' must be a number, got {type(profit[1]).__name__}"
        elif win[0] == "bad":
            error = f"Event data 'win' must be a boolean, got {type(win[1]).__name__}"
        else:
            error = None
        if error is not None:
            with raises(ValueError, error):
                call(data)
            return
        assert call(data) is None
        ts = data["ts"] if offset is not None else self.now
        events_of.setdefault(name, []).append(Event(ts, float(profit[1]), win[1], extra))

    def merged(self):
        """The metadata map's keys and, for each, the (executor, instance) whose record it holds."""
        merged = {}
        for model in self.registry.values():
            for name, instance in model.active.items():
                merged[name] = (model, instance)
        return merged

    def expected_metadata(self, model, name, instance):
        parameters = instance.parameters
        status = "invalid" if parameters and model.text.variables - parameters.keys() else "valid"
        events = model.events.get(name)
        return zt.TemplateMetadata(
            name, model.source_id, model.content, parameters or {}, instance.dsl_text, instance.activated_at,
            instance.created_count, len(instance.all_ids), len(instance.start_ids),
            summary(name, events) if events else None, set(model.text.variables), status, self.now)

    # -- registrations ----------------------------------------------------------

    @initialize(key=st.sampled_from(list(BUILTINS)), content=st.sampled_from(list(TEXTS)))
    def start_with_two_templates(self, key, content):
        self.register_builtin(key, None)
        self.register_string(content, "alpha")

    @rule(key=st.sampled_from([*BUILTINS, "algo_flipper", "nope.dsl"]),
          name=st.sampled_from([None, None, "alpha", "beta"]))
    def register_builtin(self, key, name):
        settled = name if name is not None else key.replace(".dsl", "") if key.endswith(".dsl") else key
        outcome = ((zt.BUILTIN_TEMPLATES[key], BUILTINS[key]) if key in BUILTINS else
                   (ValueError, f"Built-in template '{key}' not found. Available: {CATALOGUE}", None))
        self.register(
            settled, f"builtin:{key}",
            lambda registered: f"Template name '{settled}' already exists with source '{registered}', cannot register "
                               f"builtin '{key}' with the same name. Use a different template name.",
            lambda: self.manager.from_builtin(key, name), outcome)

    @rule(content=st.sampled_from([*TEXTS, BLANK, BROKEN]), name=st.sampled_from(["alpha", "beta", "dot.ted"]))
    def register_string(self, content, name):
        expected = "string:" + hashlib.sha256(content.encode()).hexdigest()[:12]
        if content in TEXTS:
            outcome = (content, TEXTS[content])
        elif content == BLANK:
            outcome = (ValueError, "Template content cannot be empty", None)
        else:
            outcome = (jinja2.TemplateSyntaxError, None, None)
        self.register(
            name, expected,
            lambda registered: f"Template name '{name}' already exists with source '{registered}', but expected "
                               f"'{expected}' for the provided content",
            lambda: self.manager.from_string(content, name), outcome)

    @rule(file=st.sampled_from(FILES), as_path=st.booleans(), name=st.sampled_from([None, None, "alpha", "beta"]))
    def register_file(self, file, as_path, name):
        path = self.dir / file
        given = path if as_path else str(path)
        settled = name if name is not None else path.stem
        if file in self.files:
            outcome = (self.files[file], TEXTS[self.files[file]])
        elif path.is_dir():
            outcome = (OSError, None, f"Failed to read template file {path}: ")
        else:
            outcome = (FileNotFoundError, f"Template file not found: {path}", None)
        self.register(
            settled, f"file:{path}",
            lambda registered: f"Template name '{settled}' already exists with source '{registered}', cannot register "
                               f"file '{path}' with the same name. Use a different template name.",
            lambda: self.manager.from_file(given, name), outcome)

    @rule(content=st.sampled_from([None, ENTRY, FLAG]))
    def change_file(self, content):
        """Deletes alpha.dsl or writes it anew: registered executors keep what they read."""
        path = self.dir / "alpha.dsl"
        if content is None:
            path.unlink(missing_ok=True)
            self.files.pop("alpha.dsl", None)
        else:
            path.write_text(content)
            self.files["alpha.dsl"] = content

    @rule(pick=st.data())
    def remove_template(self, pick):
        template = self.pick(pick)
        removed = self.registry.pop(template, None)
        assert self.manager.remove_template(template) is (removed is not None)
        if removed is not None:
            with raises(ValueError, prefix=f"Template '{template}' not found."):
                self.manager[template]
            assert removed.real.list_active() == []

    @rule()
    def clear_template_cache(self):
        assert self.manager.clear_template_cache() is None

    # -- activations ------------------------------------------------------------

    @rule(pick=st.data(), instance=st.sampled_from(INSTANCE_NAMES),
          choice=st.integers(0, 3), enable=enables)
    def activate(self, pick, instance, choice, enable):
        template = self.pick(pick)
        if template not in self.registry:
            with raises(ValueError, prefix=f"Template '{template}' not found. You must explicitly create it first"):
                self.manager.activate(template, instance, {}, enable)
            return
        model = self.executor(template)
        options = model.text.arguments()
        args, renders = options[choice % len(options)]
        args = dict(args)
        name = f"{template}.{instance}"
        failure = self.activation_outcome(model, name, args, renders)
        if failure is not None:
            with failure:
                self.manager.activate(template, instance, args, enable)
            return
        preview = self.manager.preview_template(template, args)
        record = self.load(model, name, lambda: self.manager.activate(template, instance, args, enable),
                           dsl_text=preview, parameters=args, enable=enable)
        assert record.template_parameters is args

    @rule(pick=st.data(), instance=st.sampled_from(INSTANCE_NAMES),
          dsl_text=st.sampled_from(DSL_TEXTS), enable=enables)
    def activate_from_populated_dsl(self, pick, instance, dsl_text, enable):
        template = self.pick(pick)
        def call():
            return self.manager.activate_from_populated_dsl(template, instance, dsl_text, enable=enable)

        name = f"{template}.{instance}"
        if template not in self.registry:
            with raises(ValueError, prefix=f"Template '{template}' not found. You must explicitly create it first"):
                call()
        elif name in self.registry[template].active:
            with raises(ValueError, f"Template '{name}' is already active"):
                call()
        elif dsl_text == INVALID_DSL:
            with raises(ValueError):
                call()
        else:
            self.load(self.executor(template), name, call, dsl_text=dsl_text, enable=enable)

    @rule(pick=st.data(), name=st.sampled_from(DIRECT_NAMES),
          dsl_text=st.sampled_from(DSL_TEXTS), choice=st.integers(0, 4), enable=enables)
    def activate_on_executor(self, pick, name, dsl_text, choice, enable):
        """activate() straight on a registered executor, with or without template parameters."""
        template = self.pick(pick)
        if template not in self.registry:
            return
        model = self.executor(template)
        options = [None, {}] + [args for args, _ in model.text.arguments()]
        parameters = options[choice % len(options)]
        parameters = None if parameters is None else dict(parameters)
        def call():
            return model.real.activate(name, dsl_text, enable, parameters)

        if name in model.active:
            with raises(ValueError, f"Template '{name}' is already active"):
                call()
        elif dsl_text == INVALID_DSL:
            with raises(ValueError):
                call()
        else:
            record = self.load(model, name, call, dsl_text=dsl_text, parameters=parameters, enable=enable)
            assert record.template_parameters is parameters

    @rule(pick=st.data(), name=st.sampled_from(DIRECT_NAMES), choice=st.integers(0, 3))
    def create_and_activate_on_executor(self, pick, name, choice):
        template = self.pick(pick)
        if template not in self.registry:
            return
        model = self.executor(template)
        options = model.text.arguments()
        args, renders = options[choice % len(options)]
        args = dict(args)
        failure = self.activation_outcome(model, name, args, renders)
        if failure is not None:
            with failure:
                model.real.create_and_activate(name, args)
            return
        self.load(model, name, lambda: model.real.create_and_activate(name, args),
                  dsl_text=model.real.populate_template(args), parameters=args)

    # -- deactivations ----------------------------------------------------------

    @rule(pick=st.data(), instance=st.sampled_from(INSTANCE_NAMES))
    def deactivate(self, pick, instance):
        template = self.pick(pick)
        model = self.registry.get(template)
        was_active = model is not None and model.active.pop(f"{template}.{instance}", None) is not None
        assert self.manager.deactivate(template, instance) is was_active

    @rule(pick=st.data(), name=st.sampled_from(DIRECT_NAMES + INSTANCE_NAMES))
    def deactivate_on_executor(self, pick, name):
        template = self.pick(pick)
        if template not in self.registry:
            return
        model = self.executor(template)
        assert model.real.deactivate(name) is (model.active.pop(name, None) is not None)

    @rule(pick=st.data())
    def deactivate_template(self, pick):
        template = self.pick(pick)
        model = self.registry.get(template)
        count = len(model.active) if model is not None else 0
        assert self.manager.deactivate_template(template) == count
        if model is not None:
            model.active.clear()

    @rule()
    def deactivate_all(self):
        count = sum(len(model.active) for model in self.registry.values())
        assert self.manager.deactivate_all() == count
        for model in self.registry.values():
            model.active.clear()
        assert self.runtime.predicates() == [self.foreign]

    # -- events -----------------------------------------------------------------

    @rule(pick=st.data(), instance=st.sampled_from(INSTANCE_NAMES), profit=profits,
          win=wins, offset=offsets, extra=extras)
    def state_update(self, pick, instance, profit, win, offset, extra):
        template = self.pick(pick)
        def call(data):
            return self.manager.state_update(template, instance, data)

        if template not in self.registry:
            with raises(ValueError, f"Template '{template}' not found"):
                call({"profit": 1.0, "win": True})
            return
        self.record_event(self.registry[template].events, f"{template}.{instance}", profit, win, offset, extra, call)

    @rule(pick=st.data(), name=st.sampled_from(DIRECT_NAMES), profit=profits, win=wins,
          offset=offsets, extra=extras)
    def state_update_on_executor(self, pick, name, profit, win, offset, extra):
        template = self.pick(pick)
        if template not in self.registry:
            return
        model = self.executor(template)
        self.record_event(model.events, name, profit, win, offset, extra,
                          lambda data: model.real.state_update(name, data))

    @rule(profit=profits, win=wins, offset=offsets)
    def same_event_everywhere(self, profit, win, offset):
        """One event for every active instance: equal results make the reports break ties."""
        for model in self.registry.values():
            for name in list(model.active):
                self.record_event(model.events, name, profit, win, offset, {},
                                  lambda data: model.real.state_update(name, data))

    @rule(seconds=st.sampled_from([0, 1, 59]), micros=st.sampled_from([0, 1, 500000]),
          kind=st.sampled_from([datetime, datetime, Stamp]))
    def tick(self, seconds, micros, kind):
        """Moves the clock; with Stamp the clock itself answers with a caller's date-time type."""
        moment = self.now + timedelta(seconds=seconds, microseconds=micros)
        self.now = kind.combine(moment.date(), moment.time())

    # -- what must hold after every step -----------------------------------------

    @invariant()
    def registry_and_instances(self):
        manager = self.manager
        assert manager.get_template_names() == list(self.registry)
        expected_active = [name for model in self.registry.values() for name in model.active]
        assert manager.list_all_active() == expected_active
        for template, model in self.registry.items():
            assert template in manager and manager[template] is model.real
            assert manager.list_active_for_template(template) == list(model.active)
            info = manager.get_template_info(template)
            assert (info.template_name, info.source_id, set(info.template_variables), info.active_instances,
                    info.active_count) == (template, model.source_id, model.text.variables, list(model.active),
                                           len(model.active))
            for name, instance in model.active.items():
                assert model.real.get_active_info(name) == zt.ActiveTemplate(
                    name, instance.dsl_text, instance.created_count, instance.start_ids, instance.all_ids,
                    instance.activated_at, model.content, instance.parameters, model.source_id)

    @invariant()
    def runtime_holds_exactly_the_tracked_predicates(self):
        tracked = {self.foreign}
        for model in self.registry.values():
            for instance in model.active.values():
                assert tracked.isdisjoint(instance.all_ids)
                tracked |= instance.all_ids
                assert all(self.runtime.is_active(p) is instance.enabled for p in instance.all_ids)
        assert set(self.runtime.predicates()) == tracked
        assert self.runtime.is_active(self.foreign)

    @invariant()
    def events_and_summaries(self):
        for template, model in self.registry.items():
            for name in {*model.events, *model.active}:
                events = model.events.get(name, [])
                assert model.real.score_summary(name) == summary(name, events)
                ordered = sorted(events, key=lambda e: e.ts)
                expected = [[("ts", e.ts), ("profit", e.profit), ("win", e.win), *e.metadata.items()] for e in ordered]
                assert [list(m.items()) for m in model.real.score_get(name)] == expected
            for instance in INSTANCE_NAMES:
                name = f"{template}.{instance}"
                events = model.events.get(name, [])
                assert self.manager.get_performance_summary(template, instance) == summary(name, events)
                assert [e["ts"] for e in self.manager.get_performance_events(template, instance)] == sorted(
                    e.ts for e in events)

    @invariant()
    def metadata(self):
        merged = self.merged()
        expected = {name: self.expected_metadata(model, name, instance) for name, (model, instance) in merged.items()}
        actual = self.manager.get_all_active_templates_comprehensive()
        assert list(actual) == list(expected) and actual == expected
        assert self.manager.get_active_summary() == {
            name: zt.ActiveTemplateSummary(i.activated_at, i.created_count, len(i.all_ids), len(i.start_ids))
            for name, (_, i) in merged.items()}
        assert self.manager.get_all_performance_summaries() == {
            name: summary(name, model.events.get(name, [])) for name, (model, _) in merged.items()}
        for template, model in self.registry.items():
            for name, instance in model.active.items():
                events = model.events.get(name, [])
                debug = model.real.get_template_debug_info(name)
                assert dataclasses.replace(debug, template_variables=set(debug.template_variables)) == \
                    zt.TemplateDebugInfo(
                        name, model.source_id, set(model.text.variables),
                        self.expected_metadata(model, name, instance).validation_status,
                        instance.activated_at.isoformat(), (self.now - instance.activated_at).total_seconds(),
                        len(instance.all_ids), len(instance.start_ids), len(events), bool(events),
                        instance.parameters or {}, len(instance.dsl_text), len(model.content))
            for instance in INSTANCE_NAMES:
                name = f"{template}.{instance}"
                active = model.active.get(name)
                assert self.manager.get_template_instance_metadata(template, instance) == (
                    None if active is None else self.expected_metadata(model, name, active))

    @invariant()
    def reports(self):
        merged = self.merged()
        with_data = [(name, summary(name, model.events[name])) for name, (model, _) in merged.items()
                     if model.events.get(name)]
        names = list(self.registry)

        top = sorted(((name, s.total_profit) for name, s in with_data), key=lambda p: p[1], reverse=True)[:5]
        assert self.manager.get_system_health_report() == zt.SystemHealthReport(
            len(names), len(merged), len({part(n) for n in merged}), len(with_data),
            neumaier(s.total_profit for _, s in with_data), sum(s.total_events for _, s in with_data), top, names,
            list(merged), self.now.isoformat())

        usage = {}
        for name in merged:
            usage[part(name)] = usage.get(part(name), 0) + 1
        most = least = None
        for pair in usage.items():
            most = pair if most is None or pair[1] > most[1] else most
            least = pair if least is None or pair[1] < least[1] else least
        assert self.manager.get_template_usage_statistics() == zt.TemplateUsageStatistics(
            len(merged), len(names), usage, most, least, sum(usage.values()) / len(usage) if usage else 0.0,
            [n for n in names if n not in usage])

        instances = [zt.InstancePerformanceData(name, part(name), s.total_profit, s.win_rate, s.total_events,
                                                s.current_streak) for name, s in with_data]
        aggregates = {}
        for name, s in with_data:
            a = aggregates.setdefault(part(name), zt.TemplatePerformanceAggregate(0.0, 0, 0, 0))
            a.total_profit += s.total_profit
            a.total_events += s.total_events
            a.total_wins += s.win_count
            a.instances += 1
        best = worst = best_template = None
        for entry in instances:
            best = entry if best is None or entry.total_profit > best.total_profit else best
            worst = entry if worst is None or entry.total_profit < worst.total_profit else worst
        for pair in aggregates.items():
            if best_template is None or (pair[1].total_profit / pair[1].instances >
                                         best_template[1].total_profit / best_template[1].instances):
                best_template = pair
        events = sum(s.total_events for _, s in with_data)
        wins_total = sum(s.win_count for _, s in with_data)
        analytics = self.manager.get_performance_analytics()
        assert analytics == zt.PerformanceAnalytics(
            zt.SystemMetrics(neumaier(s.total_profit for _, s in with_data), events, wins_total,
                             wins_total / events if events else 0.0, len(with_data)),
            best, worst, best_template, aggregates, instances)
        # The picks are the very records of the listing and of the aggregate map.
        if instances:
            entries = [id(entry) for entry in analytics.all_performance_data]
            assert id(analytics.best_instance) in entries and id(analytics.worst_instance) in entries
            assert analytics.best_template[1] is analytics.template_performance[analytics.best_template[0]]

    @invariant()
    def export_and_validation(self):
        merged = self.merged()
        for include in (True, False):
            export = self.manager.export_template_configurations(include)
            assert (export.export_timestamp, export.system_info) == (
                self.now.isoformat(), zt.SystemInfo(len(self.registry), len(merged)))
            assert {t: (d.source_id, set(d.template_variables), d.raw_template) for t, d in export.templates.items()} \
                == {t: (m.source_id, set(m.text.variables), m.content) for t, m in self.registry.items()}
            assert list(export.templates) == list(self.registry)
            expected = {}
            for name, (model, instance) in merged.items():
                events = model.events.get(name)
                s = summary(name, events) if events and include else None
                expected[name] = zt.InstanceConfiguration(
                    part(name), instance.parameters or {}, instance.dsl_text, instance.activated_at.isoformat(),
                    len(instance.all_ids), len(instance.start_ids),
                    s and zt.ExportPerformanceData(s.total_events, s.total_profit, s.win_rate, s.current_streak,
                                                   s.streak_type))
            assert list(export.instances) == list(expected) and export.instances == expected

        results = self.manager.validate_all_templates()
        assert list(results) == list(self.registry)
        for template, model in self.registry.items():
            r = results[template]
            warnings = (["No template variables found"] if not model.text.variables else []) + (
                ["No active instances"] if not model.active else [])
            assert (r.status, set(r.template_variables), r.active_instances, r.source_id, r.errors, r.warnings) == (
                "valid", set(model.text.variables), len(model.active), model.source_id, [], warnings)


ModelMachine.TestCase.settings = settings(
    max_examples=300, stateful_step_count=50, derandomize=True, database=None, deadline=None,
    suppress_health_check=[HealthCheck.too_slow])
TestModel = ModelMachine.TestCase
