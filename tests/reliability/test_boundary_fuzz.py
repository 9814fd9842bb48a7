"""Every public callable under generated argument lists.

The callables are found by introspection (C methods and class methods of the three classes, builtin functions of
the module, every record type), so a new one takes part without changes here.  A boundary failure must carry the
exact message of the calling conventions; an argument list that passes the boundary may only fail with the errors
the operation documents, or with the caller's own exception passing through unchanged.  No call may crash the
interpreter or raise SystemError, and a rejected call changes nothing.
"""

import dataclasses
import inspect
import math
import operator
import os
import re
from datetime import datetime
from decimal import Decimal
from fractions import Fraction
from pathlib import Path
from unittest import mock

import jinja2
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import brevant.zezuvo_templates as zt

Executor = zt.ZeZuvoRuntimeTemplateExecutor
Manager = zt.ZeZuvoMultiTemplateManager

# The truth test of NotImplemented warns before 3.14 and fails from then on; the model and the module agree either way.
pytestmark = pytest.mark.filterwarnings("ignore:NotImplemented should not be used:DeprecationWarning")

# Derandomized, so CI sees the same examples every run; FUZZ_EXAMPLES asks for more on a deeper local run.
FUZZ = settings(derandomize=True, max_examples=int(os.environ.get("FUZZ_EXAMPLES", "60")), deadline=None,
                database=None, suppress_health_check=list(HealthCheck))

TEMPLATE = 'buy = "if {{ cond }}: {{ action }}"\nstart: buy\n'


# ---- hostile values --------------------------------------------------------------------

class Poison(Exception):
    """The caller's own error: it must pass out unchanged."""


def _raise(*_):
    raise Poison("poisoned")


class BadBool:
    __bool__ = _raise


class BadFloat:
    __float__ = _raise


class BadIndex:
    __index__ = _raise


class BadInt:
    __int__ = _raise


class BadEq:
    __eq__ = _raise
    __hash__ = object.__hash__


class BadHash:
    __hash__ = _raise


class BadFsPath:
    __fspath__ = _raise


class IntOnly:
    def __int__(self):
        return 7


class FloatOnly:
    def __float__(self):
        return 2.5


class IndexOnly:
    def __index__(self):
        return 3


class Text(str):
    pass


class BadEqText(str):
    """Equal-hashing to its text, so a dict holding it compares it with our lookups."""
    __eq__ = _raise
    __hash__ = str.__hash__


class Map(dict):
    pass


class Int(int):
    pass


class Float(float):
    pass


SURROGATES = ["\ud800", "a\udc80b", "\udfff"]
NAMES = ["t", "i", "t.i", "", " ", "x", "algo_flipper.dsl", "simple_flipper.dsl", "good.dsl", "folder",
         "missing.dsl", "{{ a }}", "{% if %}", TEMPLATE, "profit", "win", "ts", "cond", "action", "self"]
SPECIALS = [
    None, True, False, 0, 1, -1, 2**64, -(2**200), 10**400, 0.0, -0.0, 3.9, -3.9, math.nan, math.inf, -math.inf,
    1e308, 1j, b"", b"1.5", bytearray(b"x"), memoryview(b"2"), [], [1], (), (1, {"a"}, {"a"}), {}, {"a": 1}, set(),
    frozenset({1}), range(3), slice(1), Ellipsis, NotImplemented, object(), int, len, Decimal("1.5"),
    Decimal("NaN"), Decimal("sNaN"), Decimal("-Infinity"), Fraction(7, 2), datetime(2024, 1, 1), Path("good.dsl"),
    Text("t"), Text(""), BadEqText("profit"), Map(a=1), Map(), Int(5), Float(2.5), Float("nan"), BadBool(),
    BadFloat(), BadIndex(), BadInt(), BadEq(), BadHash(), BadFsPath(), IntOnly(), FloatOnly(), IndexOnly(),
] + SURROGATES



def one_of_these(values):
    """sampled_from for values that need not hash (hypothesis hashes what it samples)."""
    return st.integers(0, len(values) - 1).map(values.__getitem__)


# The registered template and its instance come up often, so that lookups also succeed.
texts = st.one_of(st.sampled_from(["t", "i"]), st.sampled_from(NAMES + SURROGATES), st.text(max_size=8))
scalars = st.one_of(one_of_these(SPECIALS), st.integers(), st.floats(), texts)
keys = st.one_of(texts, one_of_these([Text("cond"), BadEqText("win"), BadEqText("cond"), 1, None, (1, 2), BadEq(),
                                      Int(0)]))


def build_dict(pairs):
    """A dict from the pairs; an insertion whose key comparison raises is skipped."""
    result = {}
    for key, value in pairs:
        try:
            result[key] = value
        except Poison:
            pass
    return result


dicts = st.one_of(
    st.lists(st.tuples(keys, st.one_of(scalars, st.just({"nested": 1}))), max_size=5).map(build_dict),
    st.fixed_dictionaries({"profit": st.one_of(st.floats(), scalars), "win": st.one_of(st.booleans(), scalars)},
                         optional={"ts": scalars, "extra": scalars}),
    st.fixed_dictionaries({"cond": scalars, "action": scalars}, optional={"extra": scalars}),
)
anything = st.one_of(scalars, dicts, st.lists(scalars, max_size=3))

# Declared kinds of every parameter; defaults come from the signatures.  "path" is an untested parameter that
# is read as a file path: the values offered stay inside the test's own directory.
DECLARED = {
    ("TemplateCache", "get_template"): {"template_path": "str", "content": "str"},
    ("Executor", "from_builtin"): {"runtime": "any", "template_name": "str"},
    ("Executor", "from_file"): {"runtime": "any", "template_path": "path"},
    ("Executor", "from_string"): {"runtime": "any", "template_content": "str", "source_id": "str?"},
    ("Executor", "_create_from_content"): {"runtime": "any", "source_id": "str", "template_content": "str"},
    ("Executor", "validate_template_args"): {"template_args": "dict"},
    ("Executor", "populate_template"): {"template_args": "dict"},
    ("Executor", "activate"): {"name": "str", "dsl_text": "str", "enable": "bool", "template_parameters": "dict?"},
    ("Executor", "create_and_activate"): {"name": "str", "template_args": "dict", "enable": "bool"},
    ("Executor", "state_update"): {"name": "str", "event_data": "dict"},
    ("Manager", "from_builtin"): {"builtin_name": "str", "template_name": "str?"},
    ("Manager", "from_file"): {"template_path": "path", "template_name": "str?"},
    ("Manager", "from_string"): {"template_content": "str", "template_name": "str"},
    ("Manager", "activate"): {"template_name": "str", "instance_name": "str", "template_args": "dict",
                              "enable": "bool"},
    ("Manager", "activate_from_populated_dsl"): {"template_name": "str", "instance_name": "str", "dsl_text": "str",
                                                 "enable": "bool"},
    ("Manager", "state_update"): {"template_name": "str", "instance_name": "str", "event_data": "dict"},
    ("Manager", "validate_template_args"): {"template_name": "str", "template_args": "dict"},
    ("Manager", "preview_template"): {"template_name": "str", "template_args": "dict"},
    ("Manager", "export_template_configurations"): {"include_performance": "bool"},
    ("module", "create_template_args_for_algo_flipper"): {
        "algo_symbol": "str", "watch_symbol": "str", "trade_symbol": "str", "evict_symbol": "str",
        "timeframe": "int", "algo": "str", "qty": "int", "offset": "float?", "profit_pts": "int?",
        "loss_pts": "int?", "flip_sides": "any"},
    ("module", "create_symbol_config_for_flipper"): {
        "algo_symbol": "str", "watch_symbol": "str", "trade_symbol": "str", "evict_symbol": "str",
        "timeframe": "int?", "algo": "str?", "qty": "int?"},
}
# Every parameter not listed above and named like these is text; any other must be listed.
TEXT_PARAMETERS = {"name", "template_name", "instance_name"}

# Operations that may change the world on success; every other one only reads.
MUTATING = {"get_template", "clear", "__post_init__", "_compile_template", "_extract_template_variables",
            "activate", "create_and_activate", "deactivate", "deactivate_all", "state_update", "from_builtin",
            "from_file", "from_string", "_create_from_content", "remove_template", "activate_from_populated_dsl",
            "deactivate_template", "clear_template_cache"}

# ---- documented failures of each operation -----------------------------------------------

LOOKUP = (r"Template '.*' not found\. You must explicitly create it first using from_builtin\(\), from_file\(\), "
          r"or from_string\(\)\.")
LISTED = LOOKUP + r" Available templates: \['t'\]"
SHORT_LOOKUP = r"Template '.*' not found"
ACTIVE = r"Template '.*' is already active"
MISSING = r"Missing required template variables: \{.*\}"
RENDERING = r"Template rendering failed: .*"
EVENT = (r"Event data must contain '(profit|win)' field|Event data 'profit' must be a number, got \w+"
         r"|Event data 'win' must be a boolean, got \w+")
EMPTY = r"Template content cannot be empty"
UNKNOWN_BUILTIN = r"Built-in template '.*' not found\. Available: algo_flipper\.dsl, simple_flipper\.dsl, " \
                  r"breakout_monitor\.dsl, mean_reversion\.dsl, multi_symbol_flipper\.dsl"
CONFLICT = (r"Template name '.*' already exists with source '.*', (cannot register (builtin|file) '.*' with the "
            r"same name\. Use a different template name\.|but expected 'string:[0-9a-f]{12}' for the provided "
            r"content)")
PATH_TYPE = r"expected str, bytes or os\.PathLike object, not \w+|argument should be a str .*"
# **template_args: the host's rules for keyword names.
KEYWORDS = r"keywords must be strings|Template\.render\(\) got multiple values for argument 'self'"
ENGINE = (jinja2.TemplateError, ".*")
ENCODE = (UnicodeEncodeError, ".*")
FILE = [(FileNotFoundError, r"Template file not found: .*"), (OSError, r"Failed to read template file .*: .*"),
        (UnicodeDecodeError, ".*"), (TypeError, PATH_TYPE), ENGINE]
RENDER = [(ValueError, MISSING), (ValueError, RENDERING), (TypeError, KEYWORDS)]

DOCUMENTED = {
    ("TemplateCache", "get_template"): [ENCODE, ENGINE],
    ("Executor", "from_builtin"): [(ValueError, UNKNOWN_BUILTIN)],
    ("Executor", "from_file"): FILE,
    ("Executor", "from_string"): [(ValueError, EMPTY), ENCODE, ENGINE],
    ("Executor", "_create_from_content"): [ENCODE, ENGINE],
    ("Executor", "populate_template"): RENDER,
    ("Executor", "activate"): [(ValueError, ACTIVE)],
    ("Executor", "create_and_activate"): RENDER + [(ValueError, ACTIVE)],
    ("Executor", "state_update"): [(ValueError, EVENT), (OverflowError, "int too large to convert to float")],
    ("Manager", "__getitem__"): [(ValueError, LISTED)],
    ("Manager", "_get_executor"): [(ValueError, LOOKUP)],
    ("Manager", "from_builtin"): [(ValueError, UNKNOWN_BUILTIN), (ValueError, CONFLICT)],
    ("Manager", "from_file"): FILE + [(ValueError, CONFLICT)],
    ("Manager", "from_string"): [(ValueError, EMPTY), (ValueError, CONFLICT), ENCODE, ENGINE],
    ("Manager", "activate"): RENDER + [(ValueError, LOOKUP), (ValueError, ACTIVE)],
    ("Manager", "activate_from_populated_dsl"): [(ValueError, LOOKUP), (ValueError, ACTIVE)],
    ("Manager", "state_update"): [(ValueError, SHORT_LOOKUP), (ValueError, EVENT),
                                  (OverflowError, "int too large to convert to float")],
    ("Manager", "get_performance_summary"): [(ValueError, SHORT_LOOKUP)],
    ("Manager", "get_performance_events"): [(ValueError, SHORT_LOOKUP)],
    ("Manager", "get_template_variables"): [(ValueError, LOOKUP)],
    ("Manager", "validate_template_args"): [(ValueError, LOOKUP)],
    ("Manager", "preview_template"): RENDER + [(ValueError, LOOKUP)],
}


# ---- the callables -----------------------------------------------------------------------

OWNERS = {"TemplateCache": zt.TemplateCache, "Executor": Executor, "Manager": Manager}
CLASS_METHOD = type(vars(dict)["fromkeys"])


@dataclasses.dataclass
class Param:
    name: str
    kind: str
    required: bool
    default: object


@dataclasses.dataclass
class Operation:
    owner: str
    name: str
    class_method: bool
    params: list

    @property
    def receiver_count(self):
        return 0 if self.owner == "module" else 1


def describe(owner, name, function, drop_first):
    parameters = list(inspect.signature(function).parameters.values())[drop_first:]
    declared = DECLARED.get((owner, name), {})
    return [Param(p.name, declared.get(p.name, "str" if p.name in TEXT_PARAMETERS else "unknown"),
                  p.default is inspect.Parameter.empty, p.default) for p in parameters]


def public_callables():
    found = []
    for owner, cls in OWNERS.items():
        for name, attr in vars(cls).items():
            if inspect.ismethoddescriptor(attr) and callable(attr):
                class_method = isinstance(attr, CLASS_METHOD)
                function = getattr(cls, name)
                found.append(Operation(owner, name, class_method, describe(owner, name, function, not class_method)))
    for name, value in vars(zt).items():
        if inspect.isbuiltin(value) and value.__module__ == zt.__name__:
            found.append(Operation("module", name, False, describe("module", name, value, 0)))
    return found


CALLABLES = public_callables()


def test_every_callable_is_found_and_declared():
    names = {(c.owner, c.name) for c in CALLABLES}
    assert {("Manager", "__getitem__"), ("Manager", "__contains__"), ("Executor", "from_builtin"),
            ("Executor", "activate"), ("TemplateCache", "clear"), ("Manager", "get_performance_analytics"),
            ("module", "create_symbol_config_for_flipper")} <= names
    assert set(DECLARED) <= names
    undeclared = [(c.owner, c.name, p.name) for c in CALLABLES for p in c.params if p.kind == "unknown"]
    assert undeclared == [], "declare the parameter kinds of new callables in DECLARED"


# ---- the world a call runs in --------------------------------------------------------------

class FakeRuntime:
    def __init__(self):
        self.removed = []

    def remove(self, pid):
        self.removed.append(pid)
        return True


class FakeLoader:
    def __init__(self):
        self.calls = []

    def load(self, text, activate=True):
        self.calls.append((text, activate))
        n = len(self.calls)
        return 2, {f"{n}:s"}, {f"{n}:s", f"{n}:o"}


class World:
    """A manager with template "t" (variables cond and action), its instance "t.i" with one event, all on fakes."""

    def __init__(self):
        self.runtime = FakeRuntime()
        self.manager = Manager(self.runtime)
        self.executor = self.manager.from_string(TEMPLATE, "t")
        self.loader = self.executor._dsl_loader = FakeLoader()
        self.manager.activate("t", "i", {"cond": "x", "action": "y"})
        self.manager.state_update("t", "i", {"profit": 1.0, "win": True})
        self.cache = zt.TemplateCache()

    def target(self, c):
        if c.owner == "module":
            return getattr(zt, c.name)
        if c.class_method:
            return getattr(OWNERS[c.owner], c.name)
        receiver = {"TemplateCache": self.cache, "Executor": self.executor, "Manager": self.manager}[c.owner]
        return getattr(receiver, c.name)

    def state(self):
        active = self.executor._active_templates
        return ([(k, id(v)) for k, v in self.manager._executors.items()], [(k, id(v)) for k, v in active.items()],
                {k: len(v) for k, v in self.executor._performance_events.items()}, list(self.runtime.removed),
                list(self.loader.calls), list(self.cache._cache), id(self.executor._dsl_loader))


@pytest.fixture(scope="module", autouse=True)
def sandbox(tmp_path_factory):
    """Runs in a directory of its own (relative paths name only its files) with a module cache of its own."""
    root = tmp_path_factory.mktemp("fuzz")
    (root / "good.dsl").write_text(TEMPLATE, encoding="utf-8")
    (root / "bad.dsl").write_bytes(b"\xff\xfe{{ a }}")
    (root / "folder").mkdir()
    previous = os.getcwd()
    os.chdir(root)
    try:
        with mock.patch.object(zt, "_template_cache", zt.TemplateCache()):
            yield root
    finally:
        os.chdir(previous)


# ---- what the calling conventions make of an argument list ------------------------------------

class Expected(Exception):
    """An outcome the model predicts: `error` is the exception the call must raise."""

    def __init__(self, error):
        super().__init__(error)
        self.error = error


def has(value, slot):
    return hasattr(type(value), slot)


def incorrect(param, expected, value):
    return TypeError(f"Argument '{param.name}' has incorrect type (expected {expected}, got {type(value).__name__})")


def predicted(call):
    """The converted value of the model, or Expected with the error the conversion must raise."""
    try:
        return call()
    except Exception as error:  # the conversion's own error, as the host raises it
        raise Expected(error) from None


def convert(param, value):
    kind = param.kind.rstrip("?")
    if param.kind.endswith("?") and value is None:
        return value
    if kind == "int":
        if type(value) is int:
            return value
        if isinstance(value, (int, float)) or has(value, "__int__") or has(value, "__index__"):
            return predicted(lambda: int(value))
        if has(value, "__float__"):
            return predicted(lambda: int(float(value)))
        raise Expected(incorrect(param, "int", value))
    if kind == "float":
        if type(value) is float:
            return value
        if isinstance(value, (int, float)) or has(value, "__float__") or has(value, "__index__"):
            return predicted(lambda: float(value))
        raise Expected(incorrect(param, "float", value))
    if kind == "bool":
        return predicted(lambda: bool(value))
    return value


def type_test(param, value):
    kind = param.kind.rstrip("?")
    if param.kind.endswith("?") and value is None:
        return
    expected = {"str": str, "dict": dict}.get(kind)
    if expected is not None and type(value) is not expected:
        raise Expected(incorrect(param, kind, value))


def boundary(c, args, kwargs):
    """Raises Expected for an argument list the boundary rejects; else the converted values by name."""
    params, n = c.params, len(c.params)
    required = sum(p.required for p in params)

    def count_error(too_many, given):
        how = "exactly" if required == n else ("at most" if too_many else "at least")
        k = (n if too_many else required) + c.receiver_count
        return Expected(TypeError(f"{c.name}() takes {how} {k} positional argument{'' if k == 1 else 's'} "
                                  f"({given + c.receiver_count} given)"))

    if len(args) > n:
        raise count_error(True, len(args))
    values = list(args)
    for i, p in enumerate(params[len(args):], len(args)):
        named = [v for k, v in kwargs.items() if k == p.name]
        if named:
            values.append(named[0])
        elif p.required:
            raise count_error(False, i)
        else:
            values.append(p.default)
    for k in kwargs:
        index = next((i for i, p in enumerate(params) if p.name == k), None)
        if index is None:
            raise Expected(TypeError(f"{c.name}() got an unexpected keyword argument '{k}'"))
        if index < len(args):
            raise Expected(TypeError(f"{c.name}() got multiple values for keyword argument '{k}'"))
    values = [convert(p, v) for p, v in zip(params, values)]
    for p, v in zip(params, values):
        type_test(p, v)
    return {p.name: v for p, v in zip(params, values)}


def same_error(actual, expected):
    return type(actual) is type(expected) and str(actual) == str(expected)


def documented(c, error):
    if isinstance(error, Poison):
        return True
    return any(isinstance(error, kind) and re.fullmatch(pattern, str(error), re.DOTALL)
               for kind, pattern in DOCUMENTED.get((c.owner, c.name), []))


def check_call(world, c, call, args, kwargs):
    before = world.state()
    try:
        values = boundary(c, args, kwargs)
    except Expected as model:
        with pytest.raises(Exception) as info:
            call()
        assert same_error(info.value, model.error), (info.value, model.error)
        assert world.state() == before, "a rejected call changed the state"
        return
    try:
        call()
    except Exception as error:  # noqa: BLE001 - judged below
        assert not isinstance(error, SystemError)
        assert documented(c, error), f"{c.owner}.{c.name}{values}: undocumented {error!r}"
    else:
        if c.name not in MUTATING:
            assert world.state() == before, "a read-only operation changed the state"


# ---- argument lists ----------------------------------------------------------------------------

PATHS = ["good.dsl", "bad.dsl", "folder", "missing.dsl", "", ".", Path("good.dsl"), "a\x00b", "\ud800"]
ODD_KEYWORDS = ["self", "cls", "bogus", "", "\ud800", "name ", Text("bogus"), "ñ"]


def values_for(param):
    """Mostly values of the declared kind, so that calls get past the boundary; hostile ones a quarter of the time."""
    kind = param.kind.rstrip("?")
    valid = {"str": texts, "dict": dicts, "int": st.integers(), "float": st.floats(),
             "path": st.sampled_from(PATHS)}.get(kind, anything)
    hostile = st.one_of(one_of_these(SPECIALS), anything)
    if kind == "path":
        hostile = one_of_these([p for p in SPECIALS if not isinstance(p, (str, Path))])
    return st.integers(0, 3).flatmap(lambda pick: hostile if pick == 0 else valid)


@st.composite
def argument_lists(draw, params):
    n = len(params)
    positional = draw(st.integers(0, n))
    args = [draw(values_for(p)) for p in params[:positional]]
    if draw(st.integers(0, 7)) == 0:
        args += draw(st.lists(anything, min_size=1, max_size=2))
    kwargs = {}
    for p in params[positional:]:
        if draw(st.integers(0, 9)) >= (1 if p.required else 5):
            name = draw(st.sampled_from([p.name, Text(p.name)])) if draw(st.integers(0, 9)) == 0 else p.name
            kwargs[name] = draw(values_for(p))
    if draw(st.integers(0, 7)) == 0:
        kwargs[draw(st.sampled_from(ODD_KEYWORDS))] = draw(anything)
    if positional and draw(st.integers(0, 7)) == 0:
        kwargs[params[draw(st.integers(0, positional - 1))].name] = draw(anything)
    return args, kwargs


@pytest.mark.parametrize("c", CALLABLES, ids=lambda c: f"{c.owner}.{c.name}")
@FUZZ
@given(data=st.data())
def test_generated_calls(c, data):
    world = World()
    args, kwargs = data.draw(argument_lists(c.params), label="arguments")
    target = world.target(c)
    check_call(world, c, lambda: target(*args, **kwargs), args, kwargs)


# A valid value of each kind, for the parameters a sweep leaves alone.
BASELINE = {"str": "t", "str?": None, "dict": {"cond": "x", "action": "y"}, "dict?": None, "int": 1, "int?": None,
            "float?": None, "bool": True, "any": None, "path": "good.dsl"}


@pytest.mark.parametrize("c", [c for c in CALLABLES if c.params], ids=lambda c: f"{c.owner}.{c.name}")
def test_every_special_value_in_every_parameter(c):
    """Each hostile value in each parameter, by position and by name, the other parameters valid."""
    world = World()
    for i, param in enumerate(c.params):
        before = [BASELINE[p.kind] for p in c.params[:i]]
        after = {p.name: BASELINE[p.kind] for p in c.params[i + 1:] if p.required}
        for value in SPECIALS:
            for args, kwargs in ((before + [value], after), (before, {param.name: value, **after})):
                target = world.target(c)
                check_call(world, c, lambda: target(*args, **kwargs), args, kwargs)
                if c.name in MUTATING:
                    world = World()


@pytest.mark.parametrize("value, stored", [(IntOnly(), None), (BadInt(), None), (FloatOnly(), 2.5), (IndexOnly(), 3.0)])
def test_floating_point_parameters_take_what_float_converts(value, stored):
    """An object with __int__ alone is no floating-point number: the parameter is reported, not float()'s error."""
    build = lambda: zt.create_template_args_for_algo_flipper("A", "B", "C", "D", 1, "e", 1, value)  # noqa: E731
    if stored is None:
        with pytest.raises(TypeError) as info:
            build()
        assert str(info.value) == f"Argument 'offset' has incorrect type (expected float, got {type(value).__name__})"
    else:
        assert build()["offset"] == stored


MANAGER_CALLABLES = {c.name: c for c in CALLABLES if c.owner == "Manager"}


@pytest.mark.parametrize("name, operate", [("__getitem__", operator.getitem), ("__contains__", operator.contains)])
@FUZZ
@given(key=st.one_of(texts, anything))
def test_lookup_operators(name, operate, key):
    world = World()
    check_call(world, MANAGER_CALLABLES[name], lambda: operate(world.manager, key), [key], {})


# ---- record constructors --------------------------------------------------------------------

RECORD_TYPES = [v for v in vars(zt).values() if isinstance(v, type) and dataclasses.is_dataclass(v)]


def reference(cls):
    """The same fields declared as a plain host data class."""
    fields = [(f.name, f.type, dataclasses.field(default=f.default, default_factory=f.default_factory, init=f.init))
              for f in dataclasses.fields(cls)]
    return dataclasses.make_dataclass(cls.__name__, fields, slots=True)


def outcome(call):
    try:
        return call(), None
    except Exception as error:  # noqa: BLE001 - compared by the caller
        return None, error


@st.composite
def field_arguments(draw, cls):
    names = [f.name for f in dataclasses.fields(cls)]
    args = draw(st.lists(anything, max_size=len(names) + 1))
    chosen = draw(st.lists(st.sampled_from(names + ODD_KEYWORDS), max_size=len(names), unique_by=str))
    return args, {name: draw(anything) for name in chosen}


def test_every_record_type_is_found():
    assert {zt.TemplateMetadata, zt.PerformanceAnalytics, zt.TemplateCache, Manager, Executor} <= set(RECORD_TYPES)


@pytest.mark.parametrize("cls", RECORD_TYPES, ids=lambda cls: cls.__name__)
@FUZZ
@given(data=st.data())
def test_record_constructors_behave_as_host_data_classes(cls, data):
    args, kwargs = data.draw(field_arguments(cls), label="arguments")
    expected, expected_error = outcome(lambda: reference(cls)(*args, **kwargs))
    record, error = outcome(lambda: cls(*args, **kwargs))
    assert not isinstance(error, SystemError)
    if expected_error is not None:
        assert same_error(error, expected_error), (error, expected_error)
    elif not hasattr(cls, "__post_init__"):  # the executor's field-wise constructor is no creation path
        assert error is None
        init_fields = [f.name for f in dataclasses.fields(cls) if f.init]
        given_fields = set(init_fields[:len(args)]) | set(kwargs)
        for name in init_fields:
            if name in given_fields:
                assert getattr(record, name) is getattr(expected, name)
            else:
                assert getattr(record, name) == getattr(expected, name)
        assert repr(record) == repr(expected)
