"""Template variables, argument validation and rendering."""

import types
from unittest import mock

import jinja2
import pytest

import brevant.zezuvo_templates as zt

Executor = zt.ZeZuvoRuntimeTemplateExecutor


@pytest.fixture
def make(runtime):
    return lambda text: Executor.from_string(runtime, text)


def test_template_without_variables(make):
    executor = make("plain text, no tags")
    assert executor.get_template_variables() == set()
    assert executor.validate_template_args({}) == (True, set())
    assert executor.populate_template({}) == "plain text, no tags"


def test_get_template_variables_returns_a_copy(make):
    executor = make("{{ a }}{{ b }}")
    variables = executor.get_template_variables()
    assert type(variables) is set and variables == {"a", "b"}
    variables.add("c")
    variables.discard("a")
    assert executor.get_template_variables() == {"a", "b"}
    assert executor.get_template_variables() is not executor.get_template_variables()


@pytest.mark.parametrize("text, args, expected", [
    ("{{ a }}-{{ b }}", {"a": 1, "b": 2}, (True, set())),
    ("{{ a }}-{{ b }}", {"a": 1}, (False, {"b"})),
    ("{{ a }}-{{ b }}", {}, (False, {"a", "b"})),
    ("{{ a }}", {"a": None, "unused": 1}, (True, set())),
    ("{% if flag %}{{ x }}{% endif %}", {"x": 1}, (False, {"flag"})),
    ("{% if flag %}{{ x }}{% endif %}", {"flag": False}, (False, {"x"})),
    ("{% set a = 1 %}{{ a }}", {}, (True, set())),
    ("{% for i in seq %}{{ i }}{% endfor %}", {}, (False, {"seq"})),
])
def test_validate(make, text, args, expected):
    assert make(text).validate_template_args(args) == expected


@pytest.mark.parametrize("text, args, rendered", [
    ("{% if flag %}yes{% else %}no{% endif %}", {"flag": None}, "no"),
    ("{{ a }}", {"a": 1, "extra": object()}, "1"),
    ("{{ a }}|{{ b }}", {"a": None, "b": 0.5}, "None|0.5"),
    ("{% for i in seq %}{{ i }},{% endfor %}", {"seq": [1, 2]}, "1,2,"),
    ("<{{ a }}>", {"a": "<b>&"}, "<<b>&>"),
])
def test_populate(make, text, args, rendered):
    assert make(text).populate_template(args) == rendered


def test_populate_leaves_arguments_and_executor_unchanged(make):
    executor = make("{{ a }}")
    args = {"a": [1], "b": 2}
    assert executor.populate_template(args) == "[1]"
    assert args == {"a": [1], "b": 2}
    assert executor._active_templates == {} and executor._performance_events == {}


def test_missing_variables_message(make):
    executor = make("{{ a }}{{ b }}{{ qty }}")
    with pytest.raises(ValueError, match=r"^Missing required template variables: \{'qty'\}$"):
        executor.populate_template({"a": 1, "b": 2})
    # Two names: both quoted, in the order the set iterates.
    with pytest.raises(ValueError) as info:
        executor.populate_template({"qty": 1})
    assert str(info.value) in ("Missing required template variables: {'a', 'b'}",
                               "Missing required template variables: {'b', 'a'}")
    assert str(info.value).endswith(str(executor.validate_template_args({"qty": 1})[1]))


def test_engine_errors_are_wrapped(make):
    executor = make("{{ a.b.c }}")
    with pytest.raises(ValueError) as info:
        executor.populate_template({"a": None})
    error = info.value
    assert type(error.__context__) is jinja2.UndefinedError
    assert str(error) == f"Template rendering failed: {error.__context__}"
    assert error.__cause__ is None


class Exploding:
    def __str__(self):
        raise RuntimeError("no text")


@pytest.mark.parametrize("text, args, error", [
    ("{{ a }}", {"a": Exploding()}, RuntimeError),
    ("{{ a + '.' }}", {"a": 5}, TypeError),
    ("{{ a }}", {"a": 1, 5: 2}, TypeError),
])
def test_other_errors_pass_out(make, text, args, error):
    with pytest.raises(error) as info:
        make(text).populate_template(args)
    assert "Template rendering failed" not in str(info.value)


def test_wrapped_kind_is_looked_up_through_the_module(make):
    executor = make("{{ a / b }}{{ c.d.e }}")
    with mock.patch.object(zt, "jinja2", types.SimpleNamespace(TemplateError=ZeroDivisionError)):
        with pytest.raises(ValueError, match=r"^Template rendering failed: division by zero$"):
            executor.populate_template({"a": 1, "b": 0, "c": None})
        with pytest.raises(jinja2.UndefinedError):
            executor.populate_template({"a": 1, "b": 1, "c": None})


def test_missing_compiled_template_is_not_wrapped(make):
    executor = make("{{ a }}")
    executor._compiled_template = None
    with pytest.raises(ValueError, match=r"^Template not compiled - this should not happen$") as info:
        executor.populate_template({"a": 1})
    assert info.value.__context__ is None


def test_validation_is_a_method_call(make):
    executor = make("[{{ a }}]")
    with mock.patch.object(Executor, "validate_template_args", return_value=(True, set())) as validate:
        assert executor.populate_template({}) == "[]"
    validate.assert_called_once_with({})
    with mock.patch.object(Executor, "validate_template_args", return_value=[0, {"x", "y"}]):
        with pytest.raises(ValueError, match=r"Missing required template variables: \{'[xy]', '[xy]'\}"):
            executor.populate_template({"a": 1})


def test_renders_with_the_compiled_template_not_the_environment(make):
    # The executor's environment trims after block tags; rendering does not.
    executor = make("{% if a %}\nx\n{% endif %}\ny")
    assert executor.jinja_env.from_string(executor._template_content).render(a=1) == "x\ny"
    assert executor.populate_template({"a": 1}) == "\nx\n\ny"


@pytest.mark.parametrize("method", ["validate_template_args", "populate_template"])
@pytest.mark.parametrize("value, type_name", [([], "list"), (None, "NoneType"), (type("D", (dict,), {})(), "D")])
def test_arguments_must_be_a_dict(make, method, value, type_name):
    with pytest.raises(TypeError) as info:
        getattr(make("{{ a }}"), method)(value)
    assert str(info.value) == f"Argument 'template_args' has incorrect type (expected dict, got {type_name})"
