#!/usr/bin/python3
"""zelkora.exe read without running it (python3 tests/pe/exe_test.py [EXE]): what Wine ignores
but Windows acts on. A malformed manifest stops the exe from starting, a misspelt namespace is
silently ignored: names and values are Microsoft's documented ones. Only DLLs every Windows has,
nothing only Windows 10 has (the exe must start on Windows 7), and CMake's one version."""

import re
import struct
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

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


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "no PE signature"
        (self.machine, sections, self.timestamp, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic, self.subsystem = (struct.unpack_from("<H", data, optional)[0],
                                      struct.unpack_from("<H", data, optional + 68)[0])
        self.directories = [struct.unpack_from("<II", data, optional + 96 + 8 * i)
                            for i in range(16)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8)
                         for i in range(sections)]

    def at(self, rva):  # file offset of a relative virtual address
        for size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError(f"RVA {rva:#x} is in no section")

    def text(self, rva):
        start = self.at(rva)
        return self.data[start:self.data.index(b"\0", start)]

    def imports(self):  # {dll: [function names]}
        found, entry = {}, self.at(self.directories[1][0])
        while (descriptor := struct.unpack_from("<IIIII", self.data, entry))[3]:
            names, thunk = [], self.at(descriptor[0] or descriptor[4])
            while (value := struct.unpack_from("<I", self.data, thunk)[0]):
                names.append(b"#ordinal" if value >> 31 else self.text(value + 2))
                thunk += 4
            found[self.text(descriptor[3]).decode().lower()] = names
            entry += 20
        return found

    def resource(self, kind):
        """The first resource of a numeric type: type, name and language levels, first entry."""
        base = self.at(self.directories[2][0])
        offset, wanted = 0, kind
        for _ in range(3):
            named, ids = struct.unpack_from("<HH", self.data, base + offset + 12)
            entries = [struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                       for i in range(named + ids)]
            pick = [e for e in entries if wanted is None or e[0] == wanted]
            if not pick:
                return None
            offset, wanted = pick[0][1] & 0x7FFFFFFF, None
        rva, size = struct.unpack_from("<II", self.data, base + offset)
        return self.data[self.at(rva):self.at(rva) + size]


def version_entries(block, start=0, end=None):
    """VS_VERSIONINFO as (key, value, children): wLength, wValueLength (characters for text, wType
    1), wType, a UTF-16 key, then the value and the children, each 4-byte aligned."""
    align = lambda n: (n + 3) & ~3
    end = len(block) if end is None else end
    while start + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", block, start)
        if length == 0:
            break
        key_end = start + 6
        while block[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        value_at = align(key_end + 2)
        size = 2 * value_length if kind == 1 else value_length
        value = block[value_at:value_at + size]
        if kind == 1:
            value = value.decode("utf-16-le").rstrip("\0")
        yield (block[start + 6:key_end].decode("utf-16-le"), value,
               list(version_entries(block, align(value_at + size), start + length)))
        start = align(start + length)


def version_strings(block):
    """The fixed file and product versions as four numbers each, and the strings by name."""
    (_, fixed, children), = version_entries(block)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    assert signature == 0xFEEF04BD, "no VS_FIXEDFILEINFO"
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings = {key: value for name, _, tables in children if name == "StringFileInfo"
               for _, _, entries in tables for key, value, _ in entries}
    return split(file_ms, file_ls), split(product_ms, product_ls), strings


def main():
    exe = Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "build" / "win32" / "zelkora.exe")
    pe = Pe(exe.read_bytes())
    check(pe.machine == 0x14C and pe.magic == 0x10B, "not a 32-bit x86 PE32 image")
    check(pe.subsystem == 2, f"subsystem {pe.subsystem}, not the Windows GUI (2)")
    check(pe.characteristics & 0x20, "not large-address-aware")
    check(pe.timestamp == 0, f"a link time {pe.timestamp} in the header: not reproducible")

    imports = pe.imports()
    check(set(imports) <= SYSTEM_DLLS, f"imports beyond Windows' own: {set(imports) - SYSTEM_DLLS}")
    check({b"timeBeginPeriod", b"timeEndPeriod"} <= set(imports.get("winmm.dll", [])),
          "no 1 ms timer resolution asked for while playing")
    late = {name for names in imports.values() for name in names} & WINDOWS_10_ONLY
    check(not late, f"imports only Windows 10 has, so Windows 7 would not start it: {late}")

    manifest = pe.resource(24)
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

    want = tuple(int(n) for n in VERSION.split("."))
    file_version, product_version, strings = version_strings(pe.resource(16))
    check(file_version == want == product_version,
          f"fixed versions {file_version} {product_version}, not {want}")
    for key in ("FileVersion", "ProductVersion", "FileDescription", "ProductName"):
        check(strings.get(key) == VERSION if "Version" in key else strings.get(key),
              f"{key}: {strings.get(key)!r}")
    for failure in failures:
        print(f"FAIL: {failure}")
    print(f"{exe.name}: {'FAIL' if failures else 'PASS'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
