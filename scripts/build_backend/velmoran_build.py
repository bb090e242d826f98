"""The in-tree PEP 517 backend of velmoran.

build_wheel configures the project's own CMake build (Release, no tests,
the modules for the running interpreter only, found by CMake's FindPython),
builds the two module targets (velmoran and velmoran_arrays) and packs the
modules and their type stubs into a wheel, written by hand with
zipfile: the build needs nothing beyond the standard library, CMake, Ninja
and a C++ compiler. build_sdist packs the source tree without build output.
"""

import base64
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NAME = "velmoran"
# The extension modules the wheel carries, each with its stub in bindings/.
MODULES = ("velmoran", "velmoran_arrays")
# Directories of the tree that never go into an sdist.
EXCLUDED_DIRS = {"build", "dist", ".git", "__pycache__"}
# Wheel entries get this timestamp (the earliest a zip file can hold), so
# that the same build gives the same wheel.
ZIP_TIMESTAMP = (1980, 1, 1, 0, 0, 0)


def _project():
    """(version, description) from the project() call of CMakeLists.txt."""
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        text = f.read()
    match = re.search(r'project\(\s*velmoran\s+VERSION\s+(\S+)\s+DESCRIPTION\s+"([^"]*)"', text)
    if not match:
        raise RuntimeError("CMakeLists.txt: no project(velmoran VERSION ... DESCRIPTION ...)")
    return match.group(1), match.group(2)


def _python_version():
    return "%d.%d" % sys.version_info[:2]


def _wheel_tag():
    interpreter = "cp%d%d" % sys.version_info[:2]
    abi = interpreter + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else "")
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return "%s-%s-%s" % (interpreter, abi, platform)


def _dist_info_name():
    return "%s-%s.dist-info" % (NAME, _project()[0])


def _metadata():
    version, description = _project()
    return (
        "Metadata-Version: 2.1\n"
        "Name: %s\n"
        "Version: %s\n"
        "Summary: %s\n"
        "Requires-Python: >=3.9\n" % (NAME, version, description)
    )


def _wheel_file():
    return (
        "Wheel-Version: 1.0\n"
        "Generator: velmoran_build\n"
        "Root-Is-Purelib: false\n"
        "Tag: %s\n" % _wheel_tag()
    )


def _run(command):
    print("velmoran_build: " + " ".join(command), file=sys.stderr, flush=True)
    status = subprocess.run(command, stdout=sys.stderr).returncode
    if status != 0:
        # The tool's own error (CMake's names the missing package) is the
        # last thing above; a traceback would only bury it.
        sys.exit("velmoran_build: %s failed with status %d (its error is above)"
                 % (os.path.basename(command[0]), status))


def _build_modules():
    """Builds the modules for this interpreter; returns their files' paths."""
    cmake = shutil.which("cmake")
    if not cmake:
        raise RuntimeError("building velmoran needs CMake 3.25 or newer on PATH")
    build_dir = os.path.join(ROOT, "build", "pip-" + _wheel_tag())
    configure = [cmake, "-S", ROOT, "-B", build_dir]
    if shutil.which("ninja"):
        configure += ["-G", "Ninja"]
    configure += [
        "-DCMAKE_BUILD_TYPE=Release",
        "-DVELMORAN_DEVELOPER_MODE=OFF",
        "-DVELMORAN_BUILD_PYTHON=ON",
        "-DVELMORAN_BUILD_CLI=OFF",
        # The module links the libraries in: a wheel carries one file.
        "-DBUILD_SHARED_LIBS=OFF",
        # FindPython looks at this interpreter, the one running pip.
        "-DPython_EXECUTABLE=" + sys.executable,
    ]
    _run(configure)
    tag = _python_version().replace(".", "")
    targets = [module + "_py" + tag for module in MODULES]
    _run([cmake, "--build", build_dir, "--target"] + targets + ["-j", str(os.cpu_count() or 1)])
    paths = []
    for module in MODULES:
        path = os.path.join(
            build_dir, "python", _python_version(), module + sysconfig.get_config_var("EXT_SUFFIX")
        )
        if not os.path.isfile(path):
            raise RuntimeError("the build did not produce " + path)
        paths.append(path)
    return paths


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d\n" % (name, digest, len(data))


def _write_wheel(path, files):
    """files: (archive name, bytes, mode) in order; RECORD is added last."""
    record = ""
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as wheel:
        for name, data, mode in files:
            info = zipfile.ZipInfo(name, date_time=ZIP_TIMESTAMP)
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
            record += _record_line(name, data)
        record_name = _dist_info_name() + "/RECORD"
        record += record_name + ",,\n"
        info = zipfile.ZipInfo(record_name, date_time=ZIP_TIMESTAMP)
        info.external_attr = 0o100644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        wheel.writestr(info, record)


def _read(path):
    with open(path, "rb") as f:
        return f.read()


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    dist_info = os.path.join(metadata_directory, _dist_info_name())
    os.makedirs(dist_info, exist_ok=True)
    for name, text in (("METADATA", _metadata()), ("WHEEL", _wheel_file())):
        with open(os.path.join(dist_info, name), "w", encoding="utf-8") as f:
            f.write(text)
    return _dist_info_name()


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    dist_info = _dist_info_name()
    files = []
    for module, path in zip(MODULES, _build_modules()):
        stub = _read(os.path.join(ROOT, "bindings", module + ".pyi"))
        files += [
            (os.path.basename(path), _read(path), 0o755),
            # Beside the module for editors; as a stub-only package for type
            # checkers, which look for stubs of a plain module there.
            (module + ".pyi", stub, 0o644),
            (module + "-stubs/__init__.pyi", stub, 0o644),
        ]
    files += [
        (dist_info + "/METADATA", _metadata().encode(), 0o644),
        (dist_info + "/WHEEL", _wheel_file().encode(), 0o644),
        (dist_info + "/top_level.txt", "".join(m + "\n" for m in MODULES).encode(), 0o644),
    ]
    wheel_name = "%s-%s-%s.whl" % (NAME, _project()[0], _wheel_tag())
    _write_wheel(os.path.join(wheel_directory, wheel_name), files)
    return wheel_name


def build_sdist(sdist_directory, config_settings=None):
    version = _project()[0]
    base = "%s-%s" % (NAME, version)
    name = base + ".tar.gz"

    def keep(info):
        parts = info.name.split("/")
        if any(part in EXCLUDED_DIRS or part.endswith(".egg-info") for part in parts[1:]):
            return None
        info.uid = info.gid = 0
        info.uname = info.gname = ""
        return info

    with tarfile.open(os.path.join(sdist_directory, name), "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        for entry in sorted(os.listdir(ROOT)):
            if entry not in EXCLUDED_DIRS:
                sdist.add(os.path.join(ROOT, entry), arcname=base + "/" + entry, filter=keep)
        pkg_info = _metadata().encode()
        info = tarfile.TarInfo(base + "/PKG-INFO")
        info.size = len(pkg_info)
        info.mode = 0o644
        sdist.addfile(info, io.BytesIO(pkg_info))
    return name
