"""Build backend of the vantorel-sysmon Python package (PEP 517, in-tree).

Building a wheel compiles the shared library from the sources this folder
sits in (CMake, a release build of the library alone) and puts it inside the
package, so that the installed module needs nothing else. The backend uses
only Python's standard library: pip needs no package index to run it.
"""
import base64
import hashlib
import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import tomllib
import zipfile

PYTHON_DIR = pathlib.Path(__file__).resolve().parent.parent
SOURCE_DIR = PYTHON_DIR.parent
PACKAGE = "vantorel_sysmon"
LIBRARY = "vantorel-sysmon.dll" if sys.platform == "win32" else "libvantorel-sysmon.so.1"


def _project():
    with open(PYTHON_DIR / "pyproject.toml", "rb") as f:
        return tomllib.load(f)["project"]


def _dist_info_name(project):
    return f"{project['name'].replace('-', '_')}-{project['version']}.dist-info"


def _metadata(project):
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project['description']}",
        f"License: {project['license']['text']}",
        f"Requires-Python: {project['requires-python']}",
    ]
    lines += [f"Classifier: {c}" for c in project.get("classifiers", [])]
    lines.append("Description-Content-Type: text/markdown")
    readme = (PYTHON_DIR / project["readme"]).read_text(encoding="utf-8")
    return "\n".join(lines) + "\n\n" + readme


def _tag():
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    # ctypes only: any Python 3 on this platform loads the same library.
    return f"py3-none-{platform}"


def _wheel_file():
    return ("Wheel-Version: 1.0\nGenerator: vantorel-sysmon sysmon_wheel\n"
            f"Root-Is-Purelib: false\nTag: {_tag()}\n")


def _build_library(work):
    """Configures and builds the library; returns the path of the built file."""
    if shutil.which("cmake") is None:
        raise RuntimeError("building vantorel-sysmon needs CMake and a C++20 compiler "
                           "(Debian: tools/install-deps build)")
    if not (SOURCE_DIR / "CMakeLists.txt").is_file():
        raise RuntimeError(f"the library's sources are not beside the package: {SOURCE_DIR}")
    build = work / "cmake-build"
    quiet = {"stdout": sys.stderr}
    subprocess.run(["cmake", "-S", str(SOURCE_DIR), "-B", str(build),
                    "-DCMAKE_BUILD_TYPE=Release", "-DSYSMON_BUILD_TESTS=OFF",
                    "-DSYSMON_BUILD_CLI=OFF"], check=True, **quiet)
    subprocess.run(["cmake", "--build", str(build), "--target", "vantorel-sysmon",
                    "-j", str(os.cpu_count() or 2)], check=True, **quiet)
    found = sorted(build.rglob(LIBRARY))
    if not found:
        raise RuntimeError(f"the build made no {LIBRARY}")
    return found[0].resolve()


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    project = _project()
    info = pathlib.Path(metadata_directory) / _dist_info_name(project)
    info.mkdir(parents=True, exist_ok=True)
    (info / "METADATA").write_text(_metadata(project), encoding="utf-8")
    (info / "WHEEL").write_text(_wheel_file(), encoding="utf-8")
    return info.name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project = _project()
    dist_info = _dist_info_name(project)
    name = f"{project['name'].replace('-', '_')}-{project['version']}-{_tag()}.whl"
    with tempfile.TemporaryDirectory(prefix="sysmon-wheel-") as work:
        library = _build_library(pathlib.Path(work))
        files = []
        for source in sorted((PYTHON_DIR / PACKAGE).glob("*.py")):
            files.append((f"{PACKAGE}/{source.name}", source.read_bytes()))
        files.append((f"{PACKAGE}/{LIBRARY}", library.read_bytes()))
        files.append((f"{dist_info}/METADATA", _metadata(project).encode("utf-8")))
        files.append((f"{dist_info}/WHEEL", _wheel_file().encode("utf-8")))
        record = [_record_line(path, data) for path, data in files]
        record.append(f"{dist_info}/RECORD,,")
        files.append((f"{dist_info}/RECORD", ("\n".join(record) + "\n").encode("utf-8")))
        with zipfile.ZipFile(pathlib.Path(wheel_directory) / name, "w",
                             zipfile.ZIP_DEFLATED) as wheel:
            for path, data in files:
                info = zipfile.ZipInfo(path, date_time=(2020, 1, 1, 0, 0, 0))
                info.external_attr = (0o755 if path.endswith(LIBRARY) else 0o644) << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                wheel.writestr(info, data)
    return name
