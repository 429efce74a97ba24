#!/usr/bin/env python3
"""The manual names every parameter the plug-in reports to hosts, and every link and picture in
it resolves (files beside it, anchors inside it).
Usage: manual_test.py MANUAL.htm RENDER_TOOL PLUGIN"""
import os
import re
import subprocess
import sys
import tempfile

manual, render, plugin = sys.argv[1:4]
with tempfile.TemporaryDirectory() as home:
    env = dict(os.environ, HOME=home, KESTRAFONE_SETTINGS_DIR=home, XDG_DATA_HOME=home)
    info = subprocess.run([render, "--info", plugin], capture_output=True, text=True, check=True, env=env).stdout
names = set(re.findall(r"^\s+\d+\s+(\S+)\s", info.split("Parameters (", 1)[1], re.M))
assert len(names) >= 40, f"could not read the parameter names from --info: {names}"

page = open(manual, encoding="utf-8").read()
text = re.sub(r"<[^>]*>", " ", page)
ids = set(re.findall(r'\bid="([^"]+)"', page))
targets = re.findall(r'\b(?:href|src)="([^"]+)"', page)
problems = [f"parameter {n} is not described" for n in sorted(names) if not re.search(rf"\b{re.escape(n)}\b", text)]
folder = os.path.dirname(os.path.abspath(manual))
for target in (t for t in targets if not re.match(r"^[a-z]+:", t)):  # outside links are not ours
    path, _, anchor = target.partition("#")
    if path and not os.path.exists(os.path.join(folder, path)):
        problems.append(f"link {target} points to a missing file")
    if not path and anchor not in ids:
        problems.append(f"link {target} points to a missing anchor")
if problems:
    sys.exit("\n".join(problems))
print(f"manual: {len(names)} parameter names and {len(targets)} links checked")
