#!/usr/bin/env python3
"""Checks that every include of a folder under src/ names only folders its CMake targets
declare, directly or through another of our targets, and that the map of layers at the top
of src/CMakeLists.txt lists exactly the declared dependencies.
Usage: check_layers.py SOURCE_DIR/src"""
import os
import re
import sys


def commands(text):
    """Yields (name, arguments) of each CMake command, skipping comments; a parenthesis inside
    quotes or a nested pair does not end the command."""
    pos = 0
    pattern = re.compile(r'#[^\n]*|"(?:\\.|[^"\\])*"|([A-Za-z_]\w*)\s*\(')
    while True:
        m = pattern.search(text, pos)
        if not m:
            return
        pos = m.end()
        if not m.group(1):
            continue
        depth, args, start = 1, [], pos
        for t in re.finditer(r'#[^\n]*|"(?:\\.|[^"\\])*"|[()]|[^\s()"#]+', text[start:]):
            token = t.group()
            if token == "(":
                depth += 1
            elif token == ")":
                depth -= 1
                if depth == 0:
                    pos = start + t.end()
                    break
            elif not token.startswith("#"):
                args.append(token.strip('"'))
        yield m.group(1).lower(), args


def declared_targets(src, folders):
    """Maps each of our targets to its folder and its declared link items."""
    folder_of, deps = {}, {}
    for folder in [""] + folders:
        path = os.path.join(src, folder, "CMakeLists.txt")
        if not os.path.exists(path):
            continue
        for name, args in commands(open(path, encoding="utf-8").read()):
            if name in ("kf_subsystem", "add_library", "add_executable") and args:
                target = args[0]
                own = target[3:] if target.startswith("kf_") and target[3:] in folders else folder
                folder_of[target] = own
                deps.setdefault(target, [])
                if name == "kf_subsystem" and "DEPS" in args:
                    deps[target] += args[args.index("DEPS") + 1:]
            elif name == "target_link_libraries" and args:
                scopes = ("PUBLIC", "PRIVATE", "INTERFACE")
                deps.setdefault(args[0], []).extend(a for a in args[1:] if a not in scopes)
    return folder_of, deps


def names(folders):
    return ", ".join(sorted(folders)) or "nothing of ours"


def main():
    src = sys.argv[1]
    folders = sorted(d for d in os.listdir(src) if os.path.isdir(os.path.join(src, d)))
    folder_of, deps = declared_targets(src, folders)
    direct = {f: set() for f in folders}
    for target, items in deps.items():
        if target in folder_of:
            direct[folder_of[target]] |= {folder_of[d] for d in items if d in folder_of} - {folder_of[target]}

    def reachable(folder, seen):
        for d in direct[folder] - seen:
            seen.add(d)
            reachable(d, seen)
        return seen

    problems = []
    include = re.compile(r'^\s*#\s*include\s*[<"]([^/">]+)/', re.M)
    for folder in folders:
        allowed = reachable(folder, {folder})
        for root, _, files in os.walk(os.path.join(src, folder)):
            for name in sorted(f for f in files if f.endswith((".h", ".hpp", ".cpp", ".cc"))):
                path = os.path.join(root, name)
                text = open(path, encoding="utf-8").read()
                for m in include.finditer(text):
                    if m.group(1) in folders and m.group(1) not in allowed:
                        line = text.count("\n", 0, m.start()) + 1
                        where = f"{os.path.relpath(path, os.path.dirname(src))}:{line}"
                        problems.append(f"{where}: includes {m.group(1)}/, which the {folder} folder's "
                                        f"targets do not declare (they reach {names(allowed - {folder})})")

    # The map in the leading comment: lines "#   a, b -> c, d" or "#   a -> nothing of ours".
    mapped = {}
    for line in open(os.path.join(src, "CMakeLists.txt"), encoding="utf-8"):
        if not line.startswith("#"):
            break
        m = re.match(r"#\s+([\w, ]+?)\s*->\s*(.+?)\s*$", line)
        for f in re.split(r",\s*", m.group(1)) if m else []:
            mapped[f] = set() if m.group(2) == "nothing of ours" else set(re.split(r",\s*", m.group(2)))
    for folder in folders:
        if folder not in mapped:
            problems.append(f"src/CMakeLists.txt: the layer map does not list {folder}")
        elif mapped[folder] != direct[folder]:
            problems.append(f"src/CMakeLists.txt: the layer map says {folder} -> {names(mapped[folder])}, "
                            f"but the folder's targets declare {names(direct[folder])}")
    if problems:
        sys.exit("\n".join(problems))
    print(f"layers: {len(folders)} folders, every include declared")


main()
