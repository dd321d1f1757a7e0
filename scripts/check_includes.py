#!/usr/bin/env python3
"""Fails on an include that runs the wrong way between the layers.

The layers, bottom up (docs/developers.md):
  core     data/, settings/, roster/import/, roster/postal/, printing/jobs/, report/ (without report/dialogs/)
  gui      gui/                  the shared widgets and the seams
  windows  roster/, printing/, report/dialogs/
  app      app/                  the shell
  programs programs/             the two executables' entry points

A file may include its own layer and the layers below it. Core files include no header of Qt's
widget or print-support modules either. Inside core the same holds between its ranks, bottom up:
  engine     data/                 the table engine, which knows nothing of the program
  settings   settings/             the settings file and what is kept in it
  model      roster/model/, roster/import/, roster/postal/   the roster's model
  report     report/               the report engine: it includes the engine alone (no settings, no roster)
  jobs       printing/jobs/        the print jobs, which hand the roster and the settings to the report
The roster's model and the report engine share a rank and do not include each other. Among the windows, the roster's and the print window's
folders do not include each other (both may use the report's dialogs, which include neither). An
include names its header from the top of the tree: one that climbs ("../") or that names a folder no
layer claims cannot be placed, and is refused rather than passed over. Folders outside the layers (tests/, bench/, fuzz/) are not
checked; a source folder that no layer claims is an error, so that a new folder gets a layer.

usage: check_includes.py [--root DIR] [--qt-headers DIR]
"""

import argparse
import os
import re
import subprocess
import sys

LAYERS = ["core", "gui", "windows", "app", "programs"]

# The most specific prefix wins.
FOLDERS = {
    "data/": "core",
    "settings/": "core",
    "roster/model/": "core",
    "roster/import/": "core",
    "roster/postal/": "core",
    "printing/jobs/": "core",
    "report/": "core",
    "gui/": "gui",
    "roster/": "windows",
    "printing/": "windows",
    "report/dialogs/": "windows",
    "app/": "app",
    "programs/": "programs",
}

UNCHECKED = ("tests/", "bench/", "fuzz/", "build", "dist/", "docs/", "scripts/", ".")

SOURCE = re.compile(r"\.(h|hpp|cpp|cc)$")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


# The groups inside core and what each may include: the ranks engine < settings < (model, report) <
# jobs, where the report engine, given everything it draws, includes the engine alone.
CORE_GROUPS = {
    "data/": "engine",
    "settings/": "settings",
    "roster/model/": "model",
    "roster/import/": "model",
    "roster/postal/": "model",
    "report/": "report",
    "printing/jobs/": "jobs",
}
CORE_MAY_INCLUDE = {
    "engine": {"engine"},
    "settings": {"engine", "settings"},
    "model": {"engine", "settings", "model"},
    "report": {"engine", "report"},
    "jobs": {"engine", "settings", "model", "report", "jobs"},
}


def core_group(path):
    best = max((p for p in CORE_GROUPS if path.startswith(p)), key=len, default=None)
    return CORE_GROUPS[best] if best else None


# The windows' own groups: a window may use its own group's headers and the report's dialogs.
WINDOW_GROUPS = ("roster/", "printing/", "report/dialogs/")
SHARED_WINDOWS = "report/dialogs/"


def window_group(path):
    return next((g for g in sorted(WINDOW_GROUPS, key=len, reverse=True) if path.startswith(g)), None)


def layer_of(path):
    best = None
    for prefix, layer in FOLDERS.items():
        if path.startswith(prefix) and (best is None or len(prefix) > len(best[0])):
            best = (prefix, layer)
    return best[1] if best else None


def widget_headers(qt_headers):
    """Names of the headers of Qt's widget and print-support modules (QWidget, QPrinter...)."""
    def listing(*modules):
        names = set()
        for module in modules:
            folder = os.path.join(qt_headers, module)
            if os.path.isdir(folder):
                names.update(os.listdir(folder))
        return names

    # A few headers that moved to QtGui are still forwarded by QtWidgets: those are allowed.
    return listing("QtWidgets", "QtPrintSupport", "QtOpenGLWidgets") - listing("QtCore", "QtGui")


def find_qt_headers():
    try:
        out = subprocess.run(["qtpaths6", "--query", "QT_INSTALL_HEADERS"], capture_output=True, text=True)
        if out.returncode == 0 and out.stdout.strip():
            return out.stdout.strip()
    except OSError:
        pass
    return ""


def check(root, qt_headers):
    widgets = widget_headers(qt_headers) if qt_headers else set()
    if not widgets:
        print(f"check_includes: no Qt widget headers under '{qt_headers}'; give --qt-headers", file=sys.stderr)
        return 2
    problems = []
    for folder, dirs, files in os.walk(root):
        rel_folder = os.path.relpath(folder, root).replace(os.sep, "/")
        rel_folder = "" if rel_folder == "." else rel_folder + "/"
        if rel_folder.startswith(UNCHECKED):
            dirs[:] = []
            continue
        for name in sorted(files):
            if not SOURCE.search(name):
                continue
            path = rel_folder + name
            layer = layer_of(path)
            if layer is None:
                problems.append(f"{path}: the folder belongs to no layer (add it to scripts/check_includes.py)")
                continue
            rank = LAYERS.index(layer)
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    kind, target = m.groups()
                    if kind == '"':
                        if target.startswith(("../", "./")) or "/../" in target or "/./" in target:
                            problems.append(f"{path}:{number}: include climbs folders \"{target}\" (name it from the top)")
                            continue
                        included = layer_of(target)
                        if included is None:
                            if "/" in target:
                                problems.append(f"{path}:{number}: include cannot be placed in a layer \"{target}\"")
                            continue  # a header beside the file, a generated .moc
                        if LAYERS.index(included) > rank:
                            problems.append(f"{path}:{number}: {layer} file includes {included} header \"{target}\"")
                        elif layer == included == "core":
                            own, theirs = core_group(path), core_group(target)
                            if theirs not in CORE_MAY_INCLUDE[own]:
                                problems.append(f"{path}:{number}: core {own} file includes core {theirs} header \"{target}\"")
                        elif layer == included == "windows":
                            own, other = window_group(path), window_group(target)
                            if other != own and other != SHARED_WINDOWS:
                                problems.append(f"{path}:{number}: window includes another window's header \"{target}\"")
                    elif layer == "core":
                        base = target.split("/")[-1]
                        module = target.split("/")[0] if "/" in target else ""
                        if module in ("QtWidgets", "QtPrintSupport") or (not module and base in widgets):
                            problems.append(f"{path}:{number}: core file includes widget header <{target}>")
    for p in problems:
        print(p)
    if problems:
        print(f"check_includes: {len(problems)} include(s) run the wrong way", file=sys.stderr)
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    parser.add_argument("--qt-headers", default="")
    args = parser.parse_args()
    return check(os.path.abspath(args.root), args.qt_headers or find_qt_headers())


if __name__ == "__main__":
    sys.exit(main())
