"""Loading the module: one module object per process, imports bound in its namespace."""

import subprocess
import sys
import textwrap

import pytest

import brevant.zezuvo_templates as zt

PUBLIC_ORDER = [
    "CachedTemplate", "ActiveTemplate", "PerformanceEvent", "PerformanceSummary", "TemplateMetadata",
    "SystemHealthReport", "TemplateValidationResult", "TemplateUsageStatistics", "SystemInfo",
    "TemplateDefinition", "ExportPerformanceData", "InstanceConfiguration", "TemplateConfigurationExport",
    "SystemMetrics", "InstancePerformanceData", "TemplatePerformanceAggregate", "PerformanceAnalytics",
    "TemplateDebugInfo", "ActiveTemplateSummary", "TemplateInfo", "TemplateCache", "_template_cache",
    "ZeZuvoRuntimeTemplateExecutor", "BUILTIN_TEMPLATES", "create_template_args_for_algo_flipper",
    "create_symbol_config_for_flipper", "ZeZuvoMultiTemplateManager",
]
IMPORTED = [
    "hashlib", "os", "time", "dataclass", "field", "datetime", "Path", "Any", "Literal", "jinja2",
    "BaseLoader", "Environment", "Template", "meta", "ZeZuvoRuntime", "PredicateId", "ZeZuvoDSLLoader",
]


def run_python(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True)


def test_namespace_holds_imports_then_definitions_in_order():
    names = [n for n in vars(zt) if not n.startswith("__")]
    assert names == IMPORTED + PUBLIC_ORDER


def test_imported_names_are_the_real_objects():
    import datetime, hashlib, pathlib, jinja2
    from brevant.zezuvo import ZeZuvoRuntime
    from brevant.zezuvo_dsl import ZeZuvoDSLLoader

    assert zt.datetime is datetime.datetime
    assert zt.hashlib is hashlib and zt.Path is pathlib.Path
    assert zt.Template is jinja2.Template and zt.meta is jinja2.meta
    assert zt.ZeZuvoRuntime is ZeZuvoRuntime and zt.ZeZuvoDSLLoader is ZeZuvoDSLLoader


def test_module_doc_and_origins():
    assert zt.__doc__.splitlines()[0] == (
        "ZeZuvo Template System for parameterized DSL generation with performance tracking."
    )
    assert zt.__name__ == "brevant.zezuvo_templates"
    assert zt.__package__ == "brevant"
    assert zt.__file__.endswith(".so")
    for name in ["ZeZuvoRuntimeTemplateExecutor", "ZeZuvoMultiTemplateManager", "TemplateCache",
                 "PerformanceEvent", "create_template_args_for_algo_flipper", "create_symbol_config_for_flipper"]:
        assert getattr(zt, name).__module__ == "brevant.zezuvo_templates"


@pytest.mark.parametrize("cls, method", [
    ("ZeZuvoRuntimeTemplateExecutor", "activate"),
    ("ZeZuvoRuntimeTemplateExecutor", "from_builtin"),
    ("ZeZuvoMultiTemplateManager", "get_system_health_report"),
    ("TemplateCache", "get_template"),
])
def test_method_qualified_names(cls, method):
    assert vars(getattr(zt, cls))[method].__qualname__ == f"{cls}.{method}"


def test_only_the_init_function_is_exported():
    nm = subprocess.run(["nm", "-D", "--defined-only", zt.__file__], capture_output=True, text=True)
    if nm.returncode != 0:
        pytest.skip("nm not available")
    exported = [line.split()[-1] for line in nm.stdout.splitlines() if " T " in line]
    assert exported == ["PyInit_zezuvo_templates"]


def test_reimport_returns_same_module_with_cache_intact():
    zt._template_cache.get_template("string:reimport-check", "{{ x }}")
    before = dict(zt._template_cache._cache)
    del sys.modules["brevant.zezuvo_templates"]
    try:
        import brevant.zezuvo_templates as again
    finally:
        sys.modules["brevant.zezuvo_templates"] = zt
    assert again is zt
    assert zt._template_cache._cache == before


def test_load_without_jinja2_fails_then_a_later_load_starts_afresh():
    result = run_python("""
        import sys
        sys.modules["jinja2"] = None
        try:
            import brevant.zezuvo_templates
        except ModuleNotFoundError as exc:
            print("failed:", exc.name)
        assert "brevant.zezuvo_templates" not in sys.modules
        del sys.modules["jinja2"]
        import brevant.zezuvo_templates as zt
        print("loaded:", len(zt.BUILTIN_TEMPLATES), type(zt.ZeZuvoRuntimeTemplateExecutor).__name__)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["failed: jinja2", "loaded: 5 type"]


# Makes `interp`, an interpreter that shares the main GIL, so that an import
# there reaches the module's own create step (an own-GIL interpreter refuses
# it earlier); prints "skip" and exits when this Python cannot make one.
MAKE_INTERPRETER = """
import sys
try:
    import _interpreters as interpreters
    interp = interpreters.create("legacy")
except ImportError:
    try:
        import _xxsubinterpreters as interpreters
    except ImportError:
        print("skip")
        raise SystemExit
    interp = interpreters.create(isolated=False) if sys.version_info >= (3, 12) else interpreters.create()
"""


def report_failure(run):
    return f"""
try:
    failure = {run}
except Exception as exc:
    failure = exc
print(getattr(failure, "formatted", None) or getattr(failure, "msg", None) or failure or "loaded")
"""


@pytest.mark.parametrize("scenario", [
    # loaded here first, then imported in another interpreter
    "import brevant.zezuvo_templates\n" + MAKE_INTERPRETER
    + report_failure('interpreters.run_string(interp, "import brevant.zezuvo_templates")'),
    # loaded in another interpreter that has gone since, then imported here
    MAKE_INTERPRETER + 'interpreters.run_string(interp, "import brevant.zezuvo_templates")\n'
    + "interpreters.destroy(interp)\n" + report_failure("__import__('brevant.zezuvo_templates')"),
], ids=["second interpreter", "first interpreter gone"])
def test_load_in_another_interpreter_is_refused(scenario):
    result = run_python(scenario)
    assert result.returncode == 0, result.stderr
    if result.stdout.strip() == "skip":
        pytest.skip("this Python cannot create a second interpreter from Python code")
    assert "Interpreter change detected - this module can only be loaded into one interpreter per process." in (
        result.stdout
    )


def test_wildcard_import_takes_public_and_imported_names():
    namespace = {}
    exec("from brevant.zezuvo_templates import *", namespace)
    assert {"datetime", "Path", "ZeZuvoMultiTemplateManager", "BUILTIN_TEMPLATES"} <= set(namespace)
    assert "_template_cache" not in namespace
