#!/usr/bin/env python3
"""Checks what the Windows build ships, on this machine (no wine needed).

  check_windows_build.py dll OBJDUMP DLL
      The DLL imports only from Windows' own system DLLs (the runtimes of the compiler are
      linked in), exports VSTPluginMain and main and nothing else, and holds no aligned
      vector move with a memory operand: GCC on 64-bit Windows cannot keep the stack aligned
      for them, so such a move could fault on a spilled AVX register.
  check_windows_build.py exe OBJDUMP EXE
      A program (the render tool) imports only from Windows' own system DLLs, so it runs with
      nothing beside it.
  check_windows_build.py zip ZIP SOURCE
      The zip holds Kestrafone/ with the DLL, the render tool, the manual, the factory presets, the folders
      Presets/User/ and Samples/Factory/ (as entries of their own, empty), LICENSE and README.txt.
"""
import pathlib
import re
import subprocess
import sys
import zipfile

SYSTEM_DLLS = {
    "kernel32", "user32", "gdi32", "advapi32", "comdlg32", "ole32", "oleaut32", "shell32",
    "shlwapi", "comctl32", "gdiplus", "winmm", "uxtheme", "imm32", "version", "msimg32",
    "dwmapi", "bcrypt", "msvcrt", "ucrtbase",
}


def allowed(dll):
    name = dll.lower().removesuffix(".dll")
    return name in SYSTEM_DLLS or name.startswith("api-ms-win-crt-")


def check_imports(headers):
    imports = re.findall(r"^\s*DLL Name: (\S+)", headers, re.M)
    print("imports:", " ".join(imports))
    problems = [f"imports {name}, which is not a Windows system DLL" for name in imports if not allowed(name)]
    if not imports:
        problems.append("no import table found")
    return problems


def check_exe(objdump, exe):
    return check_imports(subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout)


def check_dll(objdump, dll):
    headers = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    problems = check_imports(headers)
    table = headers.split("[Ordinal/Name Pointer] Table", 1)
    exports = re.findall(r"^\s*\[\s*\d+\]\s+(\S+)$", table[1], re.M) if len(table) == 2 else []
    print("exports:", " ".join(exports))
    if sorted(exports) != ["VSTPluginMain", "main"]:
        problems.append(f"exports {exports}; expected exactly VSTPluginMain and main")

    code = subprocess.run([objdump, "-d", "--no-show-raw-insn", dll], check=True, capture_output=True,
                          text=True).stdout
    aligned = [line.strip() for line in code.splitlines()
               if re.search(r"\b(v?movap[sd]|v?movdqa(32|64)?|vmovntp[sd])\b.*\(", line)]
    print("aligned vector moves with a memory operand:", len(aligned))
    problems += [f"aligned vector move: {line}" for line in aligned[:10]]
    return problems


def check_zip(path, source):
    with zipfile.ZipFile(path) as z:
        names = set(z.namelist())
        dll = z.read("Kestrafone/Kestrafone.dll") if "Kestrafone/Kestrafone.dll" in names else b""
        tool = z.read("Kestrafone/kestrafone-render.exe") if "Kestrafone/kestrafone-render.exe" in names else b""
    presets = {f"Kestrafone/Presets/{p.name}" for p in pathlib.Path(source, "resources/presets").glob("*.kfn")}
    manual = {f"Kestrafone/Manual/{p.name}" for p in pathlib.Path(source, "resources/manual").iterdir()}
    wanted = {"Kestrafone/", "Kestrafone/Kestrafone.dll", "Kestrafone/kestrafone-render.exe", "Kestrafone/LICENSE", "Kestrafone/README.txt",
              "Kestrafone/Manual/", "Kestrafone/Presets/", "Kestrafone/Presets/User/",
              "Kestrafone/Samples/", "Kestrafone/Samples/Factory/"} | presets | manual
    problems = [f"missing: {name}" for name in sorted(wanted - names)]
    problems += [f"not expected: {name}" for name in sorted(names - wanted)]
    for name, data in (("Kestrafone.dll", dll), ("kestrafone-render.exe", tool)):
        if data[:2] != b"MZ":
            problems.append(f"Kestrafone/{name} is not a Windows program file")
    print(f"{len(names)} entries, the DLL {len(dll)} bytes")
    return problems


def main():
    kind, *args = sys.argv[1:]
    problems = {"dll": check_dll, "exe": check_exe, "zip": check_zip}[kind](*args)
    for p in problems:
        print("FAIL:", p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
