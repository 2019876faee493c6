#!/usr/bin/python3
"""zelkora.exe read without running it (python3 tests/pe/exe_test.py [EXE]): what Wine ignores
but Windows acts on. A malformed manifest stops the exe from starting, a misspelt namespace is
silently ignored: names and values are Microsoft's documented ones. Only DLLs every Windows has,
nothing only Windows 10 has (the exe must start on Windows 7), and CMake's one version."""

import re
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

import pefile  # Debian's python3-pefile

REPO = Path(__file__).resolve().parents[2]
VERSION = re.search(r"project\(zelkora VERSION ([\d.]+)", (REPO / "CMakeLists.txt").read_text())[1]
NAMESPACES = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
              "c": "urn:schemas-microsoft-com:compatibility.v1",
              "s5": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
              "s16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings",
              "s19": "http://schemas.microsoft.com/SMI/2019/WindowsSettings"}
LEVEL = "v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel"
SETTINGS = "v3:application/v3:windowsSettings/"
# (element, attribute or None for its text, what Windows must read: case aside, first of a list)
MANIFEST = [("v1:assemblyIdentity", "version", VERSION),
            (LEVEL, "level", "asinvoker"), (LEVEL, "uiAccess", "false"),
            (SETTINGS + "s5:dpiAware", None, "true/pm"),
            (SETTINGS + "s16:dpiAwareness", None, "permonitorv2"),
            (SETTINGS + "s19:activeCodePage", None, "utf-8")]
SUPPORTED_OS = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}  # Windows 10 and 11
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll",
               "shell32.dll", "winmm.dll", "msvcrt.dll", "advapi32.dll"}
WINDOWS_10_ONLY = {b"GetDpiForWindow", b"GetDpiForSystem", b"AdjustWindowRectExForDpi",
                   b"SystemParametersInfoForDpi", b"GetSystemMetricsForDpi",
                   b"EnableNonClientDpiScaling", b"SetThreadDpiAwarenessContext"}
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def resource(pe, kind):
    """The first resource of a numeric type: type, name and language levels, first entry."""
    entry = next(e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == kind)
    data = entry.directory.entries[0].directory.entries[0].data.struct
    return pe.get_data(data.OffsetToData, data.Size)


def main():
    exe = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "build" / "win32" / "zelkora.exe")
    pe = pefile.PE(str(exe))
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    check(header.Machine == 0x14C and optional.Magic == 0x10B, "not a 32-bit x86 PE32 image")
    check(optional.Subsystem == 2, f"subsystem {optional.Subsystem}, not the Windows GUI (2)")
    check(header.Characteristics & 0x20, "not large-address-aware")
    check(header.TimeDateStamp == 0, f"a link time {header.TimeDateStamp}: not reproducible")

    imports = {e.dll.decode().lower(): [i.name for i in e.imports]
               for e in pe.DIRECTORY_ENTRY_IMPORT}
    check(set(imports) <= SYSTEM_DLLS, f"imports beyond Windows' own: {set(imports) - SYSTEM_DLLS}")
    check({b"timeBeginPeriod", b"timeEndPeriod"} <= set(imports.get("winmm.dll", [])),
          "no 1 ms timer resolution asked for while playing")
    late = {name for names in imports.values() for name in names} & WINDOWS_10_ONLY
    check(not late, f"imports only Windows 10 has, so Windows 7 would not start it: {late}")

    manifest = resource(pe, 24)
    root = ET.fromstring(manifest)  # raises on malformed XML, as Windows refuses to start
    check(root.tag == f"{{{NAMESPACES['v1']}}}assembly", f"root element {root.tag}")
    for path, attribute, want in MANIFEST:
        element = root.find(path, NAMESPACES)
        got = None if element is None else element.text if attribute is None else element.get(
            attribute)
        got = got and got.split(",")[0].strip().lower()
        check(got == want.lower(), f"{path} {attribute or ''}: {got!r}, not {want!r}")
    ids = {e.get("Id") for e in root.findall("c:compatibility/c:application/c:supportedOS",
                                              NAMESPACES)}
    check(ids == SUPPORTED_OS, f"supportedOS {ids}, not Windows 7, 8, 8.1 and 10/11")
    check(b"Common-Controls" not in manifest, "depends on a common-controls version")

    fixed = pe.VS_FIXEDFILEINFO[0]
    versions = [(fixed.FileVersionMS, fixed.FileVersionLS),
                (fixed.ProductVersionMS, fixed.ProductVersionLS)]
    numbers = [f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}" for ms, ls in versions]
    check(numbers == [VERSION] * 2, f"file and product versions {numbers}, not {VERSION}")
    strings = {key.decode(): value.decode() for info in pe.FileInfo[0]
               for table in getattr(info, "StringTable", []) for key, value in table.entries.items()}
    for key in ("FileVersion", "ProductVersion", "FileDescription", "ProductName"):
        check(strings.get(key) == VERSION if "Version" in key else strings.get(key),
              f"{key}: {strings.get(key)!r}")
    for failure in failures:
        print(f"FAIL: {failure}")
    print(f"{exe.name}: {'FAIL' if failures else 'PASS'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
