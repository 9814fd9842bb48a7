"""Type information and the wheel: the stubs agree with the extension modules
and type-check strictly, and a built wheel installs into a clean environment
with its stubs and py.typed, where the module imports and a type checker finds
the stubs."""

import ast
import dataclasses
import importlib.util
import os
import subprocess
import sys
import venv
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
HERE = Path(__file__).resolve().parent
MODULES = ["brevant.zezuvo_templates", "brevant.zezuvo", "brevant.zezuvo_dsl"]

requires_mypy = pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")


def check(command, *, env=None, cwd=ROOT):
    result = subprocess.run([str(part) for part in command], cwd=cwd, env=env, capture_output=True, text=True)
    assert result.returncode == 0, f"{command}\n{result.stdout}\n{result.stderr}"


@pytest.fixture(scope="module")
def mypy_run(tmp_path_factory):
    """Runs a mypy tool on the checked-in stubs, whichever build of the modules
    is importable (a dev build on PYTHONPATH or an installed wheel)."""
    scratch = tmp_path_factory.mktemp("mypy")  # cwd, so that no cache lands in the checkout
    env = dict(os.environ, MYPYPATH=str(ROOT / "src"))
    if "PYTHONPATH" in env:  # a relative dev build path must survive the change of directory
        env["PYTHONPATH"] = os.pathsep.join(map(os.path.abspath, env["PYTHONPATH"].split(os.pathsep)))
    return lambda *args: check([sys.executable, "-m", *args], env=env, cwd=scratch)


@requires_mypy
def test_stubs_agree_with_the_extension_modules(mypy_run):
    mypy_run("mypy.stubtest", *MODULES, "--allowlist", HERE / "stubtest_allowlist.txt")


@requires_mypy
@pytest.mark.parametrize("client", ["tests/packaging/typed_client.py", "examples/demo.py"])
def test_callers_type_check_strictly(mypy_run, client):
    if not (ROOT / client).exists():
        pytest.skip(f"{client} does not exist")
    mypy_run("mypy", "--strict", ROOT / client)


def stub_dataclass_fields(stub):
    """{class name: [(field, declared type as text), ...]} of the stub's data classes."""
    tree = ast.parse(stub.read_text())
    return {
        node.name: [
            (item.target.id, ast.unparse(item.annotation))
            for item in node.body
            if isinstance(item, ast.AnnAssign) and not ast.unparse(item.annotation).startswith("ClassVar")
        ]
        for node in tree.body
        if isinstance(node, ast.ClassDef) and any(ast.unparse(d).startswith("dataclass") for d in node.decorator_list)
    }


def test_stub_fields_declare_the_runtime_field_types():
    # stubtest checks constructor signatures but not the declared types of fields.
    import brevant.zezuvo_templates as zt

    stubbed = stub_dataclass_fields(ROOT / "src" / "brevant" / "zezuvo_templates.pyi")
    runtime = {name: [(f.name, f.type) for f in dataclasses.fields(cls)]
               for name, cls in vars(zt).items() if isinstance(cls, type) and dataclasses.is_dataclass(cls)}
    assert stubbed == runtime


SMOKE = """
import sys
from pathlib import Path
import brevant, brevant.zezuvo_templates as zt
from brevant.zezuvo import ZeZuvoRuntime

package = Path(brevant.__file__).parent
assert Path(sys.prefix) in package.parents, package
missing = [n for n in ("py.typed", "zezuvo.pyi", "zezuvo_dsl.pyi", "zezuvo_templates.pyi") if not (package / n).is_file()]
assert not missing, missing

runtime = ZeZuvoRuntime()
executor = zt.ZeZuvoRuntimeTemplateExecutor.from_builtin(runtime, "breakout_monitor.dsl")
text = executor.populate_template({"symbol": "/NQ", "high_level": 2, "low_level": 1, "qty": 1})
loader = zt.ZeZuvoDSLLoader()
loader.zezuvoRuntime = runtime
created, start, every = loader.load(text)
assert (created, len(start), len(every), len(runtime)) == (3, 1, 3, 3), (created, start, every)
"""

# Resolved through the installed package alone (no MYPYPATH): py.typed and the stubs must ship.
INSTALLED_CLIENT = """
from brevant.zezuvo import ZeZuvoRuntime
from brevant.zezuvo_templates import ZeZuvoRuntimeTemplateExecutor

executor = ZeZuvoRuntimeTemplateExecutor.from_builtin(ZeZuvoRuntime(), "mean_reversion.dsl")
names: set[str] = executor.get_template_variables()
executor.populate_template(names)  # type: ignore[arg-type]
"""


@pytest.mark.slow
def test_wheel_installs_into_a_fresh_venv_with_its_stubs(tmp_path):
    wheels = tmp_path / "wheels"
    check([sys.executable, "-m", "pip", "wheel", ".", "--no-deps", "-q", "-w", wheels])
    (wheel,) = wheels.glob("*.whl")
    contents = set(zipfile.ZipFile(wheel).namelist())
    for name in ("py.typed", "zezuvo.pyi", "zezuvo_dsl.pyi", "zezuvo_templates.pyi"):
        assert f"brevant/{name}" in contents
    for module in ("zezuvo", "zezuvo_dsl", "zezuvo_templates"):
        assert any(n.startswith(f"brevant/{module}.") and n.endswith(".so") for n in contents), module

    env_dir = tmp_path / "venv"
    venv.create(env_dir, with_pip=True)
    python = env_dir / "bin" / "python"
    # Nothing of the checkout or of a dev build may leak into the clean environment.
    clean = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "MYPYPATH")}
    check([python, "-m", "pip", "install", "-q", "jinja2"], env=clean)
    check([python, "-m", "pip", "install", "-q", "--no-index", "--find-links", wheels, "brevant-zezuvo-templates"],
          env=clean)
    check([python, "-c", SMOKE], env=clean, cwd=tmp_path)

    if importlib.util.find_spec("mypy") is not None:
        client = tmp_path / "client.py"
        client.write_text(INSTALLED_CLIENT)
        check([sys.executable, "-m", "mypy", "--strict", "--python-executable", python,
               "--cache-dir", tmp_path / "mypy-cache", client], env=clean, cwd=tmp_path)
