"""The module-wide compile cache as the executors use it: reuse by key, digest and file modification time."""

import hashlib
import os
import time
from unittest import mock

import jinja2
import pytest

import brevant.zezuvo_templates as zt

Executor = zt.ZeZuvoRuntimeTemplateExecutor


@pytest.fixture(autouse=True)
def empty_cache():
    zt._template_cache.clear()
    yield zt._template_cache._cache
    zt._template_cache.clear()


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


def test_executors_of_one_builtin_share_the_compiled_template(runtime, empty_cache):
    before = time.time()
    first = Executor.from_builtin(runtime, "algo_flipper.dsl")
    after = time.time()
    second = Executor.from_builtin(runtime, "algo_flipper.dsl")
    assert second._compiled_template is first._compiled_template
    assert list(empty_cache) == ["builtin:algo_flipper.dsl"]
    entry = empty_cache["builtin:algo_flipper.dsl"]
    assert entry.template is first._compiled_template
    assert entry.content_hash == md5(zt.BUILTIN_TEMPLATES["algo_flipper.dsl"])
    # Nothing exists at a "builtin:" path: the entry records the compile time.
    assert before <= entry.mtime <= after


def test_compiled_template_uses_engine_defaults(runtime):
    executor = Executor.from_string(runtime, "{% set x = 1 %}\nA{{ x }}\n  {% if y %}B{% endif %}\n")
    assert isinstance(executor._compiled_template, jinja2.Template)
    # No trimming after or before block tags; the final newline is dropped.
    assert executor.populate_template({"y": True}) == "\nA1\n  B"
    assert executor.get_template_variables() == {"y"}


def test_same_key_changed_text_recompiles_and_replaces(runtime, empty_cache):
    old = Executor.from_string(runtime, "v1 {{ a }}", source_id="shared")
    new = Executor.from_string(runtime, "v2 {{ a }}", source_id="shared")
    assert new._compiled_template is not old._compiled_template
    assert empty_cache["shared"].template is new._compiled_template
    assert empty_cache["shared"].content_hash == md5("v2 {{ a }}")
    assert old.populate_template({"a": 1}) == "v1 1"
    assert new.populate_template({"a": 1}) == "v2 1"
    again = Executor.from_string(runtime, "v2 {{ a }}", source_id="shared")
    assert again._compiled_template is new._compiled_template


def test_syntax_error_leaves_the_cache_as_it_was(runtime, empty_cache):
    good = Executor.from_string(runtime, "{{ a }}", source_id="key")
    with pytest.raises(jinja2.TemplateSyntaxError):
        Executor.from_string(runtime, "{% if %}", source_id="key")
    with pytest.raises(jinja2.TemplateSyntaxError):
        Executor.from_string(runtime, "{{ a", source_id="other")
    assert list(empty_cache) == ["key"]
    assert empty_cache["key"].template is good._compiled_template


def test_file_at_the_key_forces_recompilation_when_touched(runtime, empty_cache, tmp_path):
    key = tmp_path / "template.dsl"
    key.write_text("on disk")
    os.utime(key, (1_000_000, 1_000_000))
    first = Executor.from_string(runtime, "text {{ a }}", source_id=str(key))
    assert empty_cache[str(key)].mtime == 1_000_000
    assert Executor.from_string(runtime, "text {{ a }}", source_id=str(key))._compiled_template \
        is first._compiled_template

    os.utime(key, (1_000_050, 1_000_050))
    touched = Executor.from_string(runtime, "text {{ a }}", source_id=str(key))
    assert touched._compiled_template is not first._compiled_template
    assert empty_cache[str(key)].mtime == 1_000_050
    # Once recompiled, the entry is current again.
    assert Executor.from_string(runtime, "text {{ a }}", source_id=str(key))._compiled_template \
        is touched._compiled_template


def test_file_created_after_the_entry_counts_from_then_on(runtime, empty_cache, tmp_path):
    key = tmp_path / "later.dsl"
    first = Executor.from_string(runtime, "{{ a }}", source_id=str(key))
    compiled_at = empty_cache[str(key)].mtime
    key.write_text("")
    os.utime(key, (compiled_at - 10, compiled_at - 10))
    assert Executor.from_string(runtime, "{{ a }}", source_id=str(key))._compiled_template \
        is first._compiled_template
    os.utime(key, (compiled_at + 10, compiled_at + 10))
    later = Executor.from_string(runtime, "{{ a }}", source_id=str(key))
    assert later._compiled_template is not first._compiled_template
    assert empty_cache[str(key)].mtime == compiled_at + 10


def test_a_directory_at_the_key_counts_as_a_file(runtime, empty_cache, tmp_path):
    os.utime(tmp_path, (2_000_000, 2_000_000))
    Executor.from_string(runtime, "{{ a }}", source_id=str(tmp_path))
    assert empty_cache[str(tmp_path)].mtime == 2_000_000


def test_clear(runtime, empty_cache):
    zt._template_cache.clear()
    assert empty_cache == {}
    first = Executor.from_builtin(runtime, "mean_reversion.dsl")
    zt._template_cache.clear()
    assert empty_cache == {}
    second = Executor.from_builtin(runtime, "mean_reversion.dsl")
    assert second._compiled_template is not first._compiled_template
    # An executor made before clearing keeps what it had.
    assert first.populate_template(dict(symbol="/ES", timeframe=1, rsi_low=2, rsi_high=3, qty=4)) == \
        second.populate_template(dict(symbol="/ES", timeframe=1, rsi_low=2, rsi_high=3, qty=4))


def test_executors_use_the_cache_bound_at_the_moment(runtime, empty_cache):
    replacement = zt.TemplateCache()
    with mock.patch.object(zt, "_template_cache", replacement):
        executor = Executor.from_builtin(runtime, "simple_flipper.dsl")
    assert list(replacement._cache) == ["builtin:simple_flipper.dsl"]
    assert replacement._cache["builtin:simple_flipper.dsl"].template is executor._compiled_template
    assert empty_cache == {}


def test_lone_surrogate_fails_before_the_cache_changes(runtime, empty_cache):
    with pytest.raises(UnicodeEncodeError):
        Executor.from_string(runtime, "bad \ud800", source_id="surrogate")
    assert empty_cache == {}
