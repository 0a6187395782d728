#!/usr/bin/env python3
"""Every command in a ```sh block of README.md and docs/*.md, run or checked, so that none names a
missing path, preset, project command or option. Rehearsals and packaging runs are run (exit
status 0 or 1; 2 means the command line or a path is wrong); builds, test runs and surveys, which
take minutes, are checked: their presets, project commands and repository paths must exist.

usage: check_doc_commands.py REPO RECOVERY_SIM
Exit status 0 all good, 1 a command is wrong, 77 some commands were skipped (no IA32 build)."""
import glob
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile

REPO, RECOVERY_SIM = sys.argv[1], sys.argv[2]
# Surveys (of every part, or of every cut) take minutes; a merge needs their reports.
LONG = {"--compatibility", "--estimate-all", "--power-cut-survey", "--power-cut-table", "--merge"}
PATH = re.compile(r"^(\./)?(build|docs|tools|tests|qemu|pei-core|bench|sim|flash|platform|recovery|pi)/")
IA32_IMAGE = os.path.join(REPO, "build/ia32/FlashRecovery.efi")

problems, skipped, ran, checked = [], 0, 0, 0


def commands():
    """(file:line, command) for every line of every sh block, comments kept for shlex to drop."""
    for path in ["README.md"] + sorted(glob.glob("docs/*.md", root_dir=REPO)):
        inside = False
        with open(os.path.join(REPO, path), encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                if line.startswith("```"):
                    inside = not inside and line.strip() == "```sh"
                    continue
                if inside and line.strip():
                    for segment in line.split("&&"):
                        yield f"{path}:{number}", segment.strip()


def presets():
    with open(os.path.join(REPO, "CMakePresets.json"), encoding="utf-8") as f:
        data = json.load(f)
    return {p["name"] for kind in ("configurePresets", "buildPresets", "testPresets") for p in data.get(kind, [])}


def project_commands():
    help_text = subprocess.run([os.path.join(REPO, "project"), "help"], capture_output=True, text=True).stdout
    return {line.split()[1] for line in help_text.splitlines() if line.startswith("./project ")}


def run(where, argv):
    global ran
    scratch = tempfile.mkdtemp(prefix="doc-commands-")
    os.symlink(os.path.join(REPO, "build"), os.path.join(scratch, "build"))
    try:
        r = subprocess.run(argv, cwd=scratch, capture_output=True, text=True, timeout=600)
    except subprocess.TimeoutExpired:
        problems.append(f"{where}: {shlex.join(argv)} took more than 600 s")
        return
    ran += 1
    if r.returncode not in (0, 1):
        tail = (r.stderr or r.stdout).strip().splitlines()[-1:] or ["(no output)"]
        problems.append(f"{where}: {shlex.join(argv)} exited {r.returncode}: {tail[0]}")


def check(where, words, known_presets, known_commands):
    global skipped, checked
    for w in words:
        # build/fuzz is made by ./project fuzz, which the test run does not build.
        made_later = w.startswith("build/fuzz/")
        if PATH.match(w) and not made_later and not any(c in w for c in "*?[<") and not os.path.exists(os.path.join(REPO, w)):
            problems.append(f"{where}: no such path {w}")
    for option, value in zip(words, words[1:]):
        if option == "--preset" and value not in known_presets:
            problems.append(f"{where}: no preset {value}")
    needs_ia32 = "ia32" in words or any("build/ia32/" in w for w in words)
    if needs_ia32 and not os.path.exists(IA32_IMAGE):
        skipped += 1
        return
    tool = words[0]
    if tool == "./project":
        command = words[1] if len(words) > 1 else "help"
        if command not in known_commands:
            problems.append(f"{where}: ./project has no command {command}")
        elif command == "sim" and not LONG.intersection(words):
            run(where, [RECOVERY_SIM] + words[2:])
            return
    elif tool.endswith("/recovery-sim") and not LONG.intersection(words):
        run(where, [os.path.join(REPO, tool)] + words[1:])
        return
    elif tool.endswith("/make-peim-ffs"):
        run(where, [os.path.join(REPO, tool)] + words[1:])
        return
    elif re.search(r"/tests/\w+_tests$", tool) and os.access(os.path.join(REPO, tool), os.X_OK):
        listed = subprocess.run([os.path.join(REPO, tool), "--gtest_list_tests"] + words[1:],
                                capture_output=True, text=True).stdout
        if not any(line.startswith("  ") for line in listed.splitlines()):
            problems.append(f"{where}: {shlex.join(words)} selects no test")
    checked += 1


def main():
    known_presets, known_commands = presets(), project_commands()
    for where, command in commands():
        words = shlex.split(command, comments=True)
        if words:
            check(where, words, known_presets, known_commands)
    for p in problems:
        print(p)
    print(f"documented commands: {ran} run, {checked} checked, {skipped} skipped (no IA32 image), "
          f"{len(problems)} wrong")
    return 1 if problems else 77 if skipped else 0


sys.exit(main())
