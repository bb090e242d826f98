"""Runs the shell and Python blocks of Markdown files, so that the docs and
what they show cannot drift apart.

    doc_snippets.py --work DIR [--python PYTHON] FILE.md...

Every fenced block whose info string starts with sh, bash, shell, python or
py runs; other blocks (output, JSON, C++, CMake, R) are text. A block that
cannot run here (it installs packages, builds the project, needs a cluster
or a running server) is marked in its info string, visibly in the source:

    ```sh no-run
    scripts/test.sh
    ```

Running is the default, so a block added to a document runs until someone
marks it. The blocks of one file run in order, in one fresh directory
(DIR/<file name>), so a later block may read what an earlier one wrote.
There, every relative path ending in `.d` that a block names
("data/run1.d", "run.d", "path/to/run.d") is a link to the example run
(the run scripts/demo.sh generates; generated here into DIR once), and so
are runs/a.d and runs/b.d. Shell blocks run under `bash -e -o pipefail`
with the velmoran program on PATH; Python blocks under PYTHON, which must
import velmoran, velmoran_arrays, numpy and pandas.

Environment: VELMORAN (the program), VELMORAN_MKDATASET (the generator),
PYTHONPATH (the modules). Exit status 0 when every block that runs passed.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

RUNNABLE = {"sh": "shell", "bash": "shell", "shell": "shell", "python": "python", "py": "python"}
NOT_RUNNABLE = "no-run"
FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})\s*(.*)$")
# A relative path to a run: words of letters, digits, _ . - / ending in .d.
RUN_PATH = re.compile(r"(?<![\w./~$-])((?:[\w.-]+/)*[\w.-]+\.d)(?![\w/.-])")
# The example run of scripts/demo.sh.
EXAMPLE = ["synth", "--ms1", "300", "--ms2", "900", "--points", "20000", "--peaks", "300",
           "--seed", "7"]
TIMEOUT_SECONDS = 300
# The project's root, which the report names files from.
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def blocks(path):
    """(line, language, info, code) of each fenced block of a Markdown file."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    found = []
    i = 0
    while i < len(lines):
        match = FENCE.match(lines[i])
        if not match:
            i += 1
            continue
        fence, info = match.group(1), match.group(2).strip()
        start = i + 1
        i += 1
        body = []
        while i < len(lines) and not (lines[i].strip().startswith(fence[0] * len(fence))
                                      and lines[i].strip().strip(fence[0]) == ""):
            body.append(lines[i])
            i += 1
        i += 1
        language = info.split()[0] if info else ""
        found.append((start, language, info, "\n".join(body) + "\n"))
    return found


def link_runs(code, sandbox, example):
    """Links every run path the block names, under the sandbox, to the example run."""
    for name in RUN_PATH.findall(code):
        if name.startswith("/") or ".." in name.split("/"):
            continue
        link = os.path.join(sandbox, name)
        if not os.path.lexists(link):
            os.makedirs(os.path.dirname(link), exist_ok=True)
            os.symlink(example, link)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--work", required=True, help="folder for the example run and the sandboxes")
    parser.add_argument("--python", default=sys.executable, help="interpreter of the Python blocks")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    program = os.environ["VELMORAN"]
    work = os.path.abspath(args.work)
    example = os.path.join(work, "example-run.d")
    if not os.path.isfile(os.path.join(example, "AcqData", "MSScan.bin")):
        subprocess.run([os.environ["VELMORAN_MKDATASET"], EXAMPLE[0], example] + EXAMPLE[1:],
                       check=True, stdout=subprocess.DEVNULL)
    bin_dir = os.path.join(work, "bin")
    os.makedirs(bin_dir, exist_ok=True)
    if os.path.lexists(os.path.join(bin_dir, "velmoran")):
        os.remove(os.path.join(bin_dir, "velmoran"))
    os.symlink(os.path.abspath(program), os.path.join(bin_dir, "velmoran"))
    env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ.get("PATH", ""),
               PYTHONDONTWRITEBYTECODE="1")

    ran = skipped = 0
    failed = []
    for path in args.files:
        sandbox = os.path.join(work, os.path.basename(path) + ".sandbox")
        shutil.rmtree(sandbox, ignore_errors=True)
        os.makedirs(os.path.join(sandbox, "runs"))
        for name in ("a.d", "b.d"):
            os.symlink(example, os.path.join(sandbox, "runs", name))
        for line, language, info, code in blocks(path):
            kind = RUNNABLE.get(language)
            if kind is None:
                continue
            where = "%s:%d" % (os.path.relpath(os.path.abspath(path), ROOT), line)
            if NOT_RUNNABLE in info.split()[1:]:
                skipped += 1
                continue
            link_runs(code, sandbox, example)
            command = (["bash", "-e", "-o", "pipefail", "-c", code] if kind == "shell"
                       else [args.python, "-c", code])
            started = time.monotonic()
            try:
                proc = subprocess.run(command, cwd=sandbox, env=env, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                      timeout=TIMEOUT_SECONDS)
                status = proc.returncode
                output = proc.stdout.decode("utf-8", "replace")
            except subprocess.TimeoutExpired as expired:
                status = "timeout after %d s" % TIMEOUT_SECONDS
                output = (expired.output or b"").decode("utf-8", "replace")
            ran += 1
            seconds = time.monotonic() - started
            if status == 0:
                print("ok     %s (%s, %.1f s)" % (where, language, seconds))
            else:
                failed.append(where)
                print("FAILED %s (%s, status %s)\n%s\n%s%s" % (
                    where, language, status, code.rstrip(), "-" * 20 + "\n", output.rstrip()))
    print("doc snippets: %d ran, %d marked %s, %d failed%s" % (
        ran, skipped, NOT_RUNNABLE, len(failed), (": " + ", ".join(failed)) if failed else ""))
    if failed:
        print("A block that cannot run in a test is marked in its info string: ```sh %s"
              % NOT_RUNNABLE)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
