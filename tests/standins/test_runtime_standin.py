"""Stand-in predicate runtime (brevant.zezuvo) and rule-language loader (brevant.zezuvo_dsl)."""

import copy
import gc
import re
import sys
import types
import weakref

import pytest

from brevant.zezuvo import PredicateId, ZeZuvoRuntime
from brevant.zezuvo_dsl import ZeZuvoDSLLoader

RULE = '"if /NQM5 { A.stopped is True }: cancel MNQ*"'

EXAMPLE = """\
# Algo Flipper Template
# comment

check_short = "if /NQM5 { A.stopped is True }: cancel MNQ*; evict MNQ* -1 0 MKT"

check_long = "if /NQM5 { A.stopped is True }: cancel MNQ*"

unstopped = "if /NQM5 { A.stopped is False }: say algo reset"

flow primary:
    check_short | check_long

flow entrypoint:
    primary -> unstopped -> @

start: entrypoint
"""

EXAMPLE_CREATED = [
    ("check_short", "rule", "if /NQM5 { A.stopped is True }: cancel MNQ*; evict MNQ* -1 0 MKT"),
    ("check_long", "rule", "if /NQM5 { A.stopped is True }: cancel MNQ*"),
    ("unstopped", "rule", "if /NQM5 { A.stopped is False }: say algo reset"),
    ("primary", "flow", "check_short | check_long"),
    ("entrypoint", "flow", "primary -> unstopped -> @"),
]


def text(*lines):
    return "\n".join(lines)


class RecordingRuntime:
    """Fake runtime: records create_predicate calls and hands out plain tokens as ids."""

    def __init__(self, fail_on_call=None, error=None):
        self.calls = []
        self.fail_on_call = fail_on_call
        self.error = error

    def create_predicate(self, *args, **kwargs):
        assert not kwargs
        self.calls.append(args)
        if len(self.calls) == self.fail_on_call:
            raise self.error
        return ("token", len(self.calls), args[0])


@pytest.fixture
def runtime():
    return ZeZuvoRuntime()


@pytest.fixture
def loader(runtime):
    loader = ZeZuvoDSLLoader()
    loader.zezuvoRuntime = runtime
    return loader


def describe_all(runtime):
    return [tuple(runtime.describe(pid)[k] for k in ("name", "kind", "definition")) for pid in runtime.predicates()]


# --------------------------------------------------------------- loader grammar

GOOD_TEXTS = {
    "example": (EXAMPLE, EXAMPLE_CREATED, {"entrypoint"}),
    "example with CRLF": (EXAMPLE.replace("\n", "\r\n"), EXAMPLE_CREATED, {"entrypoint"}),
    "empty": ("", [], set()),
    "only blanks and comments": (text("", "    ", "# top", "   # indented comment", "#"), [], set()),
    "no start line": (text(f"a = {RULE}"), [("a", "rule", RULE.strip('"'))], set()),
    "empty start with space": (text(f"a = {RULE}", "start: "), [("a", "rule", RULE.strip('"'))], set()),
    "empty start bare": (text(f"a = {RULE}", "start:"), [("a", "rule", RULE.strip('"'))], set()),
    "single alternative": (
        text(f"a = {RULE}", "flow f:", "    a", "start: f"),
        [("a", "rule", RULE.strip('"')), ("f", "flow", "a")],
        {"f"},
    ),
    "several start flows, flow of flows": (
        text(
            f"a = {RULE}",
            f"b_2 = {RULE}",
            "flow f:",
            "    a -> @",
            "flow g:",
            "    f | b_2 | a",
            "flow h:",
            "    g -> f -> @",
            "start: h, f",
        ),
        [
            ("a", "rule", RULE.strip('"')),
            ("b_2", "rule", RULE.strip('"')),
            ("f", "flow", "a -> @"),
            ("g", "flow", "f | b_2 | a"),
            ("h", "flow", "g -> f -> @"),
        ],
        {"h", "f"},
    ),
    "start line before its flows": (
        text("start: f", f"a = {RULE}", "flow f:", "    a"),
        [("a", "rule", RULE.strip('"')), ("f", "flow", "a")],
        {"f"},
    ),
    "keywords usable as rule names": (
        text('flow = "if x: y"', 'start = "if x: y"', "flow if:", "    flow | start"),
        [("flow", "rule", "if x: y"), ("start", "rule", "if x: y"), ("if", "flow", "flow | start")],
        set(),
    ),
    "rule text keeps odd characters": (
        text('_r = "if a = b # c: say café; x -> y | z @ (+ live 0.5)"'),
        [("_r", "rule", "if a = b # c: say café; x -> y | z @ (+ live 0.5)")],
        set(),
    ),
    "comment between flow body and next definition": (
        text(f"a = {RULE}", "flow f:", "    a", "    # note", "start: f"),
        [("a", "rule", RULE.strip('"')), ("f", "flow", "a")],
        {"f"},
    ),
}


@pytest.mark.parametrize("dsl, created, start_names", GOOD_TEXTS.values(), ids=GOOD_TEXTS.keys())
def test_good_texts_create_predicates_in_text_order(loader, runtime, dsl, created, start_names):
    count, start_ids, all_ids = loader.load(dsl)

    assert count == len(created) == len(runtime)
    assert describe_all(runtime) == created
    assert all_ids == set(runtime.predicates())
    assert {pid.name for pid in start_ids} == start_names
    assert start_ids <= all_ids
    assert all(runtime.describe(pid)["kind"] == "flow" for pid in start_ids)


BAD_TEXTS = {
    # name: (lines, 1-based number of the reported line)
    "flow header without colon": ([f"a = {RULE}", "flow x"], 2),
    "unknown statement": ([f"a = {RULE}", "stop: a"], 2),
    "rule without quotes": (["a = if x: y"], 1),
    "rule without spaces around =": (['a="if x: y"'], 1),
    "rule with bad name": (['1a = "if x: y"'], 1),
    "indented rule": (['  a = "if x: y"'], 1),
    "rule text not starting with if": (['a = "when x: y"'], 1),
    "rule text without colon-space": (['a = "if x:y"'], 1),
    "rule text with inner quote": (['a = "if x: say "hi""'], 1),
    "text after closing quote": (['a = "if x: y" # note'], 1),
    "unterminated rule text": (['a = "if x: y'], 1),
    "rule defined twice": ([f"a = {RULE}", "", f"a = {RULE}"], 3),
    "flow reuses rule name": ([f"a = {RULE}", "flow a:", "    a"], 2),
    "flow header at end of text": ([f"a = {RULE}", "flow f:"], 2),
    "flow header followed by blank line": ([f"a = {RULE}", "flow f:", "", "    a"], 2),
    "flow header with bad name": ([f"a = {RULE}", "flow f-g:", "    a"], 2),
    "body indented by two": ([f"a = {RULE}", "flow f:", "  a"], 3),
    "body indented by five": ([f"a = {RULE}", "flow f:", "     a"], 3),
    "body indented by tab": ([f"a = {RULE}", "flow f:", "\ta"], 3),
    "body not indented": ([f"a = {RULE}", "flow f:", "a"], 3),
    "body names undefined": ([f"a = {RULE}", "flow f:", "    a | nope"], 3),
    "body names later rule": ([f"a = {RULE}", "flow f:", "    a | b", f"b = {RULE}"], 3),
    "body names its own flow": ([f"a = {RULE}", "flow f:", "    a -> f -> @"], 3),
    "sequence without @": ([f"a = {RULE}", "flow f:", "    a -> a"], 3),
    "bare @": ([f"a = {RULE}", "flow f:", "    @"], 3),
    "@ in the middle": ([f"a = {RULE}", "flow f:", "    a -> @ -> a"], 3),
    "mixed | and ->": ([f"a = {RULE}", "flow f:", "    a | a -> @"], 3),
    "alternatives without spaces": ([f"a = {RULE}", "flow f:", "    a|a"], 3),
    "empty alternative": ([f"a = {RULE}", "flow f:", "    a | "], 3),
    "second body line": ([f"a = {RULE}", "flow f:", "    a", "    a"], 4),
    "two start lines": ([f"a = {RULE}", "flow f:", "    a", "start: f", "start: f"], 5),
    "start names a rule": ([f"a = {RULE}", "start: a"], 2),
    "start names nothing defined": ([f"a = {RULE}", "flow f:", "    a", "start: g"], 4),
    "start without space": ([f"a = {RULE}", "flow f:", "    a", "start:f"], 4),
    "start list without space": ([f"a = {RULE}", "flow f:", "    a", "flow g:", "    a", "start: f,g"], 6),
    "start list with trailing separator": ([f"a = {RULE}", "flow f:", "    a", "start: f, "], 4),
    "line of tabs is not blank": ([f"a = {RULE}", "\t"], 2),
    "non-ASCII line": ([f"a = {RULE}", "flow café:", "    a"], 2),
}


@pytest.mark.parametrize("line_ending", ["\n", "\r\n"])
@pytest.mark.parametrize("lines, bad_line", BAD_TEXTS.values(), ids=BAD_TEXTS.keys())
def test_bad_texts_name_the_line_and_create_nothing(loader, runtime, lines, bad_line, line_ending):
    with pytest.raises(ValueError) as excinfo:
        loader.load(line_ending.join(lines) + line_ending)

    message = str(excinfo.value)
    assert re.search(rf"\bline {bad_line}\b", message), message
    assert f"'{lines[bad_line - 1]}'" in message
    assert len(runtime) == 0


def test_error_reaches_no_create_predicate_call():
    fake = RecordingRuntime()
    loader = ZeZuvoDSLLoader()
    loader.zezuvoRuntime = fake
    with pytest.raises(ValueError):
        loader.load(EXAMPLE + "flow broken:\n")
    assert fake.calls == []


# ------------------------------------------------------------ activate and fakes


@pytest.mark.parametrize(
    "kwargs, expected",
    [({}, True), ({"activate": True}, True), ({"activate": False}, False), ({"activate": 0}, False),
     ({"activate": 2}, True), ({"activate": ""}, False), ({"activate": "no"}, True), ({"activate": None}, False),
     ({"activate": []}, False)],
)
def test_activate_is_passed_as_a_real_bool(kwargs, expected):
    fake = RecordingRuntime()
    loader = ZeZuvoDSLLoader()
    loader.zezuvoRuntime = fake
    loader.load(EXAMPLE, **kwargs)
    assert [call[3] for call in fake.calls] == [expected] * len(EXAMPLE_CREATED)
    assert all(type(call[3]) is bool for call in fake.calls)


@pytest.mark.parametrize("activate", [True, False])
def test_activate_reaches_the_runtime(loader, runtime, activate):
    _, _, all_ids = loader.load(EXAMPLE, activate)
    assert {runtime.is_active(pid) for pid in all_ids} == {activate}
    assert {runtime.describe(pid)["active"] for pid in all_ids} == {activate}


def test_activate_whose_truth_raises_creates_nothing():
    class Unsure:
        def __bool__(self):
            raise ZeroDivisionError

    fake = RecordingRuntime()
    loader = ZeZuvoDSLLoader()
    loader.zezuvoRuntime = fake
    with pytest.raises(ZeroDivisionError):
        loader.load(EXAMPLE, activate=Unsure())
    assert fake.calls == []


def test_fake_runtime_receives_positional_calls_and_its_ids_are_returned():
    fake = RecordingRuntime()
    loader = ZeZuvoDSLLoader()
    loader.zezuvoRuntime = fake

    count, start_ids, all_ids = loader.load(dsl_text=EXAMPLE, activate=False)

    assert fake.calls == [(*created, False) for created in EXAMPLE_CREATED]
    assert count == 5
    assert all_ids == {("token", n, name) for n, (name, _, _) in enumerate(EXAMPLE_CREATED, 1)}
    assert start_ids == {("token", 5, "entrypoint")}


def test_any_object_with_create_predicate_is_a_runtime():
    seen = []
    loader = ZeZuvoDSLLoader()
    loader.zezuvoRuntime = types.SimpleNamespace(create_predicate=lambda *a: seen.append(a[0]) or len(seen))
    assert loader.load(text(f"a = {RULE}", f"b = {RULE}")) == (2, set(), {1, 2})
    assert seen == ["a", "b"]


class Boom(Exception):
    pass


@pytest.mark.parametrize("error", [Boom("third"), KeyError("x"), ValueError("line 1: not from the loader")])
def test_runtime_errors_pass_out_unchanged(error):
    fake = RecordingRuntime(fail_on_call=3, error=error)
    loader = ZeZuvoDSLLoader()
    loader.zezuvoRuntime = fake
    with pytest.raises(type(error)) as excinfo:
        loader.load(EXAMPLE)
    assert excinfo.value is error
    assert len(fake.calls) == 3


def test_unhashable_id_from_runtime_is_a_type_error():
    loader = ZeZuvoDSLLoader()
    loader.zezuvoRuntime = types.SimpleNamespace(create_predicate=lambda *a: [])
    with pytest.raises(TypeError):
        loader.load(EXAMPLE)


def test_runtime_swapped_during_load_keeps_loading_into_the_first():
    loader = ZeZuvoDSLLoader()
    second = RecordingRuntime()

    class Swapping(RecordingRuntime):
        def create_predicate(self, *args):
            loader.zezuvoRuntime = second
            return super().create_predicate(*args)

    first = Swapping()
    loader.zezuvoRuntime = first
    first_ref = weakref.ref(first)
    del first

    assert loader.load(EXAMPLE)[0] == 5
    assert second.calls == []
    assert first_ref() is None


def test_subclass_override_of_create_predicate_is_used(loader):
    class Counting(ZeZuvoRuntime):
        def __init__(self, tag):
            super().__init__()
            self.tag = tag
            self.names = []

        def create_predicate(self, name, kind, definition, active):
            self.names.append(name)
            return super().create_predicate(name, kind, definition, active)

    runtime = Counting("x")
    loader.zezuvoRuntime = runtime
    _, start_ids, all_ids = loader.load(EXAMPLE)
    assert runtime.names == [name for name, _, _ in EXAMPLE_CREATED]
    assert set(runtime.predicates()) == all_ids
    assert [pid.name for pid in start_ids] == ["entrypoint"]


# --------------------------------------------------------------- loader object


@pytest.mark.parametrize("value, error", [(None, RuntimeError), (object(), AttributeError)])
def test_unusable_runtime_is_reported(value, error):
    loader = ZeZuvoDSLLoader()
    loader.zezuvoRuntime = value
    with pytest.raises(error):
        loader.load(EXAMPLE)


def test_loader_attribute_and_arguments():
    loader = ZeZuvoDSLLoader()
    assert loader.zezuvoRuntime is None
    runtime = ZeZuvoRuntime()
    loader.zezuvoRuntime = runtime
    assert loader.zezuvoRuntime is runtime
    with pytest.raises(AttributeError):
        del loader.zezuvoRuntime
    assert loader.zezuvoRuntime is runtime

    with pytest.raises(TypeError):
        ZeZuvoDSLLoader(runtime)
    with pytest.raises(TypeError):
        loader.load(b"a = \"if x: y\"")
    with pytest.raises(TypeError):
        loader.load()


def test_text_that_is_not_utf8_encodable_is_rejected(loader, runtime):
    with pytest.raises(UnicodeEncodeError):
        loader.load('a = "if x: \ud800"')
    assert len(runtime) == 0


def test_loader_in_a_reference_cycle_is_collected():
    class Holder(RecordingRuntime):
        pass

    loader = ZeZuvoDSLLoader()
    holder = Holder()
    holder.loader = loader
    loader.zezuvoRuntime = holder
    ref = weakref.ref(holder)
    del loader, holder
    gc.collect()
    assert ref() is None


def test_load_leaves_no_references_behind(loader, runtime):
    token = ("kept", "id")
    create = lambda *a: token  # noqa: E731
    fake_loader = ZeZuvoDSLLoader()
    fake_loader.zezuvoRuntime = types.SimpleNamespace(create_predicate=create)
    watched = (runtime, token, create)
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(50):
        loader.load(EXAMPLE)
        fake_loader.load(EXAMPLE)
        with pytest.raises(ValueError):
            loader.load(EXAMPLE + "flow x")
    assert [sys.getrefcount(o) for o in watched] == before


# -------------------------------------------------------------------- runtime


def test_runtime_keeps_predicates_in_creation_order(runtime):
    ids = [runtime.create_predicate(f"p{i}", "rule" if i % 2 else "flow", f"def {i}", i % 3 == 0) for i in range(6)]
    assert runtime.predicates() == ids
    assert len(runtime) == 6
    assert all(pid in runtime for pid in ids)
    assert [pid.name for pid in ids] == [f"p{i}" for i in range(6)]
    assert len({pid.serial for pid in ids}) == 6
    assert runtime.describe(ids[3]) == {"name": "p3", "kind": "rule", "definition": "def 3", "active": True}
    assert [runtime.is_active(pid) for pid in ids] == [True, False, False, True, False, False]


def test_predicates_returns_a_new_list(runtime):
    pid = runtime.create_predicate("a", "rule", "if x: y", True)
    listed = runtime.predicates()
    listed.clear()
    assert runtime.predicates() == [pid]


def test_create_predicate_accepts_keywords_and_truthy_active(runtime):
    pid = runtime.create_predicate(name="a", kind="flow", definition="b | c", active=[1])
    assert runtime.is_active(pid) is True
    assert runtime.describe(pid) == {"name": "a", "kind": "flow", "definition": "b | c", "active": True}


@pytest.mark.parametrize(
    "args, error",
    [
        (("a", "macro", "d", True), ValueError),
        (("a", "Rule", "d", True), ValueError),
        ((b"a", "rule", "d", True), TypeError),
        (("a", "rule", None, True), TypeError),
        (("a", "rule", "d"), TypeError),
    ],
)
def test_create_predicate_rejects_bad_arguments(runtime, args, error):
    with pytest.raises(error):
        runtime.create_predicate(*args)
    assert len(runtime) == 0


def test_remove_semantics(runtime):
    a, b, c = (runtime.create_predicate(n, "rule", "if x: y", True) for n in "abc")
    assert runtime.remove(b.serial) is False
    assert runtime.remove(b) is True
    assert runtime.remove(b) is False
    assert runtime.predicates() == [a, c]
    assert len(runtime) == 2
    assert b not in runtime
    with pytest.raises(KeyError):
        runtime.describe(b)
    with pytest.raises(KeyError):
        runtime.is_active(b)
    d = runtime.create_predicate("b", "rule", "if x: y", True)
    assert d != b
    assert runtime.predicates() == [a, c, d]


@pytest.fixture
def foreign_id():
    return ZeZuvoRuntime().create_predicate("a", "rule", "if x: y", True)


FOREIGN = object()  # stands for an id created by another runtime
NOT_HELD = {"id of another runtime": FOREIGN, "None": None, "int": 1, "str": "a", "unhashable": [], "dict": {}}


@pytest.mark.parametrize("key", NOT_HELD.values(), ids=NOT_HELD.keys())
def test_objects_not_held(runtime, foreign_id, key):
    held = runtime.create_predicate("a", "rule", "if x: y", True)
    key = foreign_id if key is FOREIGN else key
    assert runtime.remove(key) is False
    assert key not in runtime
    with pytest.raises(KeyError):
        runtime.describe(key)
    with pytest.raises(KeyError):
        runtime.is_active(key)
    assert runtime.predicates() == [held]


def test_runtimes_are_independent():
    first, second = ZeZuvoRuntime(), ZeZuvoRuntime()
    a = first.create_predicate("same", "rule", "if x: y", True)
    b = second.create_predicate("same", "rule", "if x: y", False)
    assert a != b
    assert a in first and a not in second
    assert second.remove(a) is False
    assert first.is_active(a) and not second.is_active(b)


def test_runtime_constructor_and_subclass():
    with pytest.raises(TypeError):
        ZeZuvoRuntime(1)

    class Tagged(ZeZuvoRuntime):
        def __init__(self, tag):
            super().__init__()
            self.tag = tag

    runtime = Tagged("t")
    pid = runtime.create_predicate("a", "rule", "if x: y", True)
    assert runtime.tag == "t" and runtime.predicates() == [pid] and len(runtime) == 1
    assert "Tagged" in repr(runtime)


def test_runtime_leaves_no_references_behind(runtime):
    name, kind, definition = "".join(["leak", "check"]), "".join(["ru", "le"]), "".join(["if x: ", "y"])
    before = [sys.getrefcount(o) for o in (name, kind, definition)]
    for _ in range(50):
        pid = runtime.create_predicate(name, kind, definition, True)
        runtime.describe(pid)
        repr(pid)
        assert runtime.remove(pid)
    del pid
    assert [sys.getrefcount(o) for o in (name, kind, definition)] == before


# ---------------------------------------------------------------- PredicateId


@pytest.fixture
def pid(runtime):
    return runtime.create_predicate("check_short", "rule", "if x: y", True)


def test_predicate_id_is_immutable(pid):
    serial = pid.serial
    for attr, value in [("serial", 99), ("name", "other"), ("extra", 1)]:
        with pytest.raises(AttributeError):
            setattr(pid, attr, value)
    for attr in ("serial", "name"):
        with pytest.raises(AttributeError):
            delattr(pid, attr)
    with pytest.raises(TypeError):
        PredicateId.serial = 5
    assert (pid.serial, pid.name) == (serial, "check_short")


def test_predicate_id_cannot_be_built_or_subclassed():
    with pytest.raises(TypeError):
        PredicateId()
    with pytest.raises(TypeError):
        type("Sub", (PredicateId,), {})


def test_predicate_id_equality_and_hash(runtime, pid):
    twin_name = runtime.create_predicate("check_short", "rule", "if x: y", True)
    (same,) = [p for p in runtime.predicates() if p.serial == pid.serial]
    assert same == pid and not (same != pid) and hash(same) == hash(pid)
    assert twin_name != pid and not (twin_name == pid)
    assert {pid: 1}[same] == 1
    assert len({pid, same, twin_name}) == 2
    assert pid != pid.serial and pid != "check_short" and pid != None  # noqa: E711
    with pytest.raises(TypeError):
        pid < twin_name  # noqa: B015


def test_predicate_id_repr_and_copies(runtime):
    pid = runtime.create_predicate("it's", "flow", "a | b", True)
    assert repr(pid) == f"PredicateId({pid.serial}, \"it's\")"
    assert copy.copy(pid) is pid
    assert copy.deepcopy({pid}) == {pid}


def test_module_names():
    import brevant.zezuvo
    import brevant.zezuvo_dsl

    assert brevant.zezuvo.__name__ == "brevant.zezuvo"
    assert brevant.zezuvo_dsl.__name__ == "brevant.zezuvo_dsl"
    assert PredicateId.__module__ == ZeZuvoRuntime.__module__ == "brevant.zezuvo"
    assert ZeZuvoDSLLoader.__module__ == "brevant.zezuvo_dsl"
