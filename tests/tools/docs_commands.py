#!/usr/bin/python3
"""Runs every command block of one Markdown document, as a reader would.

    docs_commands.py SOURCE_DIR BUILD_DIR DOCUMENT.md

Command blocks are fenced blocks marked `sh`; other fenced blocks (`ini`,
`text`, ...) show files or output and are not run. An indented code block is
refused: it could be either, so every block says what it is.

The blocks of one document run in order in one bash (`set -e -o pipefail`), so
a variable or file one block makes is there for the next. The folder is a fresh
temporary one that looks like the source tree: a link to each top-level entry
of the source, `build` linking to BUILD_DIR, `ui/` a copy (the image tool
writes there). HOME and XDG_RUNTIME_DIR lie inside it, the built tools are on
PATH, LIBDIR names the folder of ZOLTUpdate and ZOLTUpdateUI.so, and PORT is a
free port on 127.0.0.1. Every process a block leaves running is stopped at the
end.

An HTML comment on the line before a fence says more about the block:
    <!-- docs-test: skip: REASON -->           not run; the reason is required
    <!-- docs-test: exit N -->                 the block must end with status N
    <!-- docs-test: creates PATH... -->        the block must leave these files
    <!-- docs-test: windows -->                runs only when ZOLT_WINDOWS_BUILD_DIR names a
                                               Windows build (build-win-x86_64 links to it)
"""
import os
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^```(\S*)\s*$")
NOTE = re.compile(r"^<!--\s*docs-test:\s*(.*?)\s*-->\s*$")


def blocks(path):
    lines = open(path, encoding="utf-8").read().split("\n")
    found, note, i, previous_blank = [], None, 0, True
    while i < len(lines):
        line = lines[i]
        match = FENCE.match(line)
        if match:
            end = i + 1
            while end < len(lines) and not lines[end].startswith("```"):
                end += 1
            found.append({"line": i + 1, "lang": match.group(1), "text": "\n".join(lines[i + 1:end]), "note": note})
            note, i, previous_blank = None, end + 1, False
            continue
        if line.startswith("    ") and previous_blank and line.strip() and not line.lstrip().startswith(("|", "-", "*")):
            sys.exit(f"{path}:{i + 1}: an indented code block; fence it with ```sh (a command) or ```text")
        note_match = NOTE.match(line)
        if note_match:
            note = note_match.group(1)
        elif line.strip():
            note = None
        previous_blank = not line.strip() or line.startswith("#")
        i += 1
    return found


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    source, build, document = (os.path.abspath(a) for a in sys.argv[1:4])
    name = os.path.relpath(document, source)
    work = tempfile.mkdtemp(prefix="zolt-docs-")
    try:
        for entry in os.listdir(source):
            if entry in ("build", "ui", ".git") or entry.startswith("build-"):
                continue
            os.symlink(os.path.join(source, entry), os.path.join(work, entry))
        os.symlink(build, os.path.join(work, "build"))
        windows_build = os.environ.get("ZOLT_WINDOWS_BUILD_DIR", "")
        if windows_build:
            os.symlink(windows_build, os.path.join(work, "build-win-x86_64"))
        shutil.copytree(os.path.join(source, "ui"), os.path.join(work, "ui"))
        for folder in ("home", "run"):
            os.mkdir(os.path.join(work, folder), 0o700)

        # errexit is off inside any part of an "a || b" list, so blocks are
        # never run as one: the EXIT trap names the block that stopped the run.
        script, checks = ["set -e -o pipefail", "block=",
                          'trap \'status=$?; [ $status -eq 0 ] || [ -z "$block" ] || echo "FAIL $block: exit status $status" >&2\' EXIT'], 0
        for block in blocks(document):
            if block["lang"] != "sh":
                continue
            note = block["note"] or ""
            where = f"{name}:{block['line']}"
            if note.startswith("skip"):
                if not note[4:].lstrip(": ").strip():
                    sys.exit(f"{where}: a skipped block needs its reason")
                print(f"skipped {where}: {note}")
                continue
            if note == "windows" and not windows_build:
                print(f"skipped {where}: it needs a Windows build (ZOLT_WINDOWS_BUILD_DIR)")
                continue
            body = os.path.join(work, f".block{block['line']}.sh")
            with open(body, "w", encoding="utf-8") as out:
                out.write(block["text"] + "\n")
            script.append(f"echo '== {where}' >&2; block={shlex.quote(where)}")
            exit_match = re.match(r"exit\s+(\d+)", note)
            if exit_match:
                # The expected failure runs in a subshell of its own, which
                # stops at its first failing command as the others do.
                script.append(f"set +e; (set -e; source {shlex.quote(body)}); status=$?; set -e")
                script.append(f"[ $status -eq {exit_match.group(1)} ] || "
                              f"{{ echo 'FAIL {where}: exit status '$status', expected {exit_match.group(1)}' >&2; "
                              "block=; exit 1; }")
            else:
                script.append(f"source {shlex.quote(body)}")
            created = re.match(r"creates\s+(.*)", note)
            for path in shlex.split(created.group(1)) if created else []:
                script.append(f"[ -e {shlex.quote(path)} ] || {{ echo 'FAIL {where}: it did not create {path}' >&2; "
                              "block=; exit 1; }")
            checks += 1
        script.append("block=")
        if checks == 0:
            print(f"{name}: no command blocks")
            return 0

        env = dict(os.environ)
        env.update(HOME=os.path.join(work, "home"), XDG_RUNTIME_DIR=os.path.join(work, "run"),
                   LIBDIR=os.path.join(build, "app"), PORT=str(free_port()),
                   ZOLT_REGISTRY_ROOT=os.path.join(work, "registry"),
                   PATH=os.pathsep.join([os.path.join(build, "tools"), "/usr/bin", env.get("PATH", "")]))
        for variable in ("XDG_STATE_HOME", "http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY",
                         "all_proxy"):
            env.pop(variable, None)
        # Its own session, so that servers a block starts are stopped with it.
        shell = subprocess.Popen(["bash", "-c", "\n".join(script)], cwd=work, env=env, start_new_session=True)
        try:
            status = shell.wait(timeout=600)
        except subprocess.TimeoutExpired:
            status = "timeout"
        try:
            os.killpg(shell.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        if status != 0:
            print(f"{name}: failed ({status})", file=sys.stderr)
            return 1
        print(f"{name}: {checks} command blocks ran")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
