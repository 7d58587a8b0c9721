"""The README's build and test commands name presets that exist, of the
kind the command takes, and the exe path noted beside a build command is
where that preset's configuration puts it. Prints each mismatch; exits 1
if there is one."""

import json
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
KIND = {"cmake --preset": "configurePresets", "cmake --build --preset": "buildPresets",
        "ctest --preset": "testPresets"}
COMMAND = re.compile(r"(cmake --build --preset|cmake --preset|ctest --preset) ([\w-]+)([^#`\n&]*)"
                     r"(?:#\s*(?:or )?([^\n`]*))?")


def presets():
    with open(os.path.join(ROOT, "CMakePresets.json")) as f:
        data = json.load(f)
    return {kind: {p["name"]: p for p in data.get(kind, [])} for kind in KIND.values()}


def field(table, name, key):
    """KEY of preset NAME, from itself or the first of its bases that has it."""
    preset = table[name]
    if key in preset:
        return preset[key]
    bases = preset.get("inherits", [])
    for base in [bases] if isinstance(bases, str) else bases:
        found = field(table, base, key)
        if found is not None:
            return found
    return None


def exe_path(all_, build):
    """The exe's path that build preset BUILD makes, as a pattern."""
    configure = field(all_["buildPresets"], build, "configurePreset")
    folder = field(all_["configurePresets"], configure, "binaryDir")
    folder = re.escape(folder.replace("${sourceDir}/", "").replace("${presetName}", configure))
    folder = folder.replace(re.escape("$env{MSYSTEM}"), "(MINGW32|MINGW64|UCRT64|CLANG64)")
    config = field(all_["buildPresets"], build, "configuration")
    return folder + (f"/{config}" if config else "") + "/gltriangles.exe"


def mismatches(readme, all_):
    wrong = []
    for number, line in enumerate(readme.splitlines(), 1):
        for command, name, _, note in COMMAND.findall(line):
            table = all_[KIND[command]]
            # "# or a, b, c": more presets of the same kind
            names = [name] + (re.findall(r"[\w-]+", note) if note and "/" not in note
                              and "\\" not in note else [])
            for each in names:
                if each not in table or table[each].get("hidden"):
                    wrong.append(f"line {number}: `{command} {each}`: no such {KIND[command]} entry")
            path = note.strip().replace("\\", "/") if note else ""
            if command == "cmake --build --preset" and path.endswith("gltriangles.exe") \
                    and name in table and not re.fullmatch(exe_path(all_, name), path):
                shown = exe_path(all_, name).replace("\\", "")
                wrong.append(f"line {number}: `{command} {name}` makes {shown}, not {path}")
    return wrong


if __name__ == "__main__":
    with open(os.path.join(ROOT, "README.md")) as f:
        wrong = mismatches(f.read(), presets())
    print("\n".join(wrong) or "every preset that the README names is there, as it says")
    sys.exit(1 if wrong else 0)
