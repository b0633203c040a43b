"""The shipped Skyloom-Setup.exe as a file: what it imports before any of its code runs, its
size, its header and that it carries nothing of the machine that built it."""

import os
import subprocess

import pytest

from testkit.harness import BUILD, SETUP_EXE, SOURCE
from testkit.pe_file import GUARD_CF, RT_GROUP_ICON, RT_ICON, PeFile

# Windows 10's KnownDLLs (HKLM\System\CurrentControlSet\Control\Session Manager\KnownDLLs):
# the loader maps these from System32 whatever lies beside the program.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll",
    "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll",
    "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "wldap32.dll", "ws2_32.dll",
    # Not a KnownDLL, but mapped from System32 into every process before its imports are read.
    "ntdll.dll",
}

SIZE_LIMIT = 128 * 1024

DYNAMIC_BASE, HIGH_ENTROPY_VA, NX_COMPAT, TS_AWARE = 0x40, 0x20, 0x100, 0x8000
CF_INSTRUMENTED, CF_FUNCTION_TABLE_PRESENT = 0x100, 0x400
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
DEFAULT_SECURITY_COOKIE = 0x2B992DDFA232  # the value the loader replaces with a random one


@pytest.fixture(scope="module")
def shipped():
    return PeFile(SETUP_EXE)


def test_imports_only_known_dlls(shipped):
    imported = [name.lower() for name in shipped.imports()]
    assert "kernel32.dll" in imported
    assert [name for name in imported if name not in KNOWN_DLLS] == []


def test_stripped_file_stays_under_128_kib(shipped, tmp_path):
    stripped = tmp_path / "stripped.exe"
    subprocess.run(["x86_64-w64-mingw32-strip", "-o", str(stripped), str(SETUP_EXE)], check=True)
    size = stripped.stat().st_size
    resources = shipped.resource_sizes()
    icons = resources.get(RT_ICON, 0) + resources.get(RT_GROUP_ICON, 0)
    assert size < SIZE_LIMIT, f"{size} bytes, {icons} of them the icon; scripts/size gives the parts"


@pytest.mark.parametrize("name, value_of, expected", [
    ("no time stamp", lambda pe: pe.time_stamp, 0),
    ("GUI subsystem", lambda pe: pe.subsystem, 2),
    ("1 MiB stack", lambda pe: pe.stack_reserve, 1 << 20),
    ("ASLR with high entropy, NX, terminal-server aware",
     lambda pe: pe.dll_characteristics & (DYNAMIC_BASE | HIGH_ENTROPY_VA | NX_COMPAT | TS_AWARE),
     DYNAMIC_BASE | HIGH_ENTROPY_VA | NX_COMPAT | TS_AWARE),
])
def test_header(shipped, name, value_of, expected):
    assert value_of(shipped) == expected, name


def test_no_build_path_in_the_image(shipped):
    for folder in {os.path.realpath(SOURCE), os.path.realpath(BUILD)}:
        for encoded in (folder.encode(), folder.encode("utf-16-le")):
            assert encoded not in shipped.data, folder


def test_control_flow_guard(shipped):
    assert shipped.dll_characteristics & GUARD_CF
    config = shipped.load_config()
    assert config.get("size", 0) >= 0xC0, config
    flags = config["guard_flags"]
    assert flags & CF_INSTRUMENTED and flags & CF_FUNCTION_TABLE_PRESENT, hex(flags)
    # The pointers the loader replaces lie inside the image.
    for pointer in ("check_pointer", "dispatch_pointer"):
        assert shipped.section_of(config[pointer] - shipped.image_base) != "", pointer
    # Valid call targets: code addresses, ascending, one entry each.
    targets = shipped.guard_functions()
    assert len(targets) == config["function_count"] > 10
    assert targets == sorted(set(targets))
    assert {shipped.section_of(rva) for rva in targets} == {".text"}


def test_loader_seeds_the_stack_guard(shipped):
    cookie = shipped.load_config()["security_cookie"]
    # The very guard the compiled code reads (linked as one module, it reads the symbol
    # itself), in writable data, holding the value the loader looks for.
    guard = next(int(line.split()[0], 16)
                 for line in (BUILD / "Skyloom-Setup.map").read_text().splitlines()
                 if line.split()[-1:] == ["__stack_chk_guard"])
    assert cookie - shipped.image_base == guard
    assert shipped.section_of(cookie - shipped.image_base) == ".data"
    assert shipped.u64(cookie - shipped.image_base) == DEFAULT_SECURITY_COOKIE


def test_static_imports_from_system32_delay_loads_writable(shipped):
    assert shipped.load_config()["dependent_load_flags"] == LOAD_LIBRARY_SEARCH_SYSTEM32
    # lld keeps the delay-load address tables in .data, which stays writable: the README says
    # they are not protected, and the program's own System32 loading covers these DLLs.
    delayed = shipped.delay_imports()
    assert sorted(name.lower() for name, _ in delayed) == [
        "crypt32.dll", "version.dll", "winhttp.dll", "wintrust.dll"]
    assert {shipped.section_of(table) for _, table in delayed} == {".data"}
