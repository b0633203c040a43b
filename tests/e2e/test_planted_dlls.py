"""DLLs planted beside the program are never loaded: a copy of Skyloom-Setup.exe sits in a
folder with DLLs named after the system DLLs it uses (and those that Common Controls and the
dialogs pull in), and Wine is told to prefer a native DLL from the program's folder. Each
planted DLL leaves NAME.dll.loaded beside itself when loaded."""

import re
import shutil

import pytest

from testkit.harness import BUILD, PROBES, Workspace, full_installer_line, run_windows
from testkit.setup_kit import https_server, installer

# Left out, because Wine itself takes them from the program's folder where Windows does not:
# version.dll, which Wine's user32 imports (Windows' user32 does not), so it is loaded before
# any code of the program runs; secur32.dll, imagehlp.dll and msimg32.dll, which Wine's
# winhttp, wintrust and uxtheme (once a dialog shows) load through their own delay imports
# without the process's System32-only default (Windows applies it to those loads; imagehlp is
# a KnownDLL there besides). The import-table test covers the program's own part for
# version.dll.
PLANTED = ["winhttp", "wintrust", "crypt32", "comctl32", "uxtheme", "dwmapi", "iphlpapi",
           "dnsapi", "schannel", "bcrypt", "ncrypt", "msasn1", "cryptnet", "rsaenh", "profapi"]
# A planted DLL has none of the real one's functions: a call into it ends the process, and
# Wine's debugger must not hold it open.
NATIVE_FIRST = {"WINEDLLOVERRIDES": ",".join(PLANTED) + "=n,b;winedbg.exe=d"}


def plant(folder, program):
    folder.mkdir()
    for name in PLANTED:
        shutil.copy(PROBES / "planted.dll", folder / f"{name}.dll")
    copy = folder / program.name
    shutil.copy(program, copy)
    return copy


# Wine's loader trace: one line per module mapped, with the path it came from.
LOADED = re.compile(r'Loaded L"([^"]+)" at [0-9A-Fa-f]+: (?:builtin|native)')


def loaded_paths(stderr):
    return [m.group(1).replace("\\\\", "\\").lower() for m in LOADED.finditer(stderr)]


def marks(folder):
    return sorted(p.name.lower() for p in folder.glob("*.loaded"))


def test_planting_reaches_an_ordinary_import(tmp_path):
    """The hole itself: a program that imports winhttp.dll the ordinary way gets the planted one."""
    folder = tmp_path / "downloads"
    probe = plant(folder, PROBES / "static_import_probe.exe")
    run_windows(probe, unix_env=NATIVE_FIRST)
    assert "winhttp.dll.loaded" in marks(folder)


@pytest.mark.parametrize("window", [["--sem-janela"], []], ids=["no window", "windowed"])
def test_run_loads_no_planted_dll(tmp_path, window):
    folder = tmp_path / "downloads"
    workspace = Workspace(tmp_path)
    copy = plant(folder, BUILD / "Skyloom-Setup.exe")
    with https_server(real=installer()) as server:
        done = run_windows(copy, [*window, "--sem-executar", "--url", server.url()],
                           env=workspace.env,
                           unix_env={**NATIVE_FIRST, "SKYLOOM_WINEDEBUG": "+loaddll"})
    lines = Workspace.messages(workspace.read_log())
    assert marks(folder) == []
    assert (done.code, lines[-1]) == (0, "verificado; --sem-executar: nao corre")

    paths = loaded_paths(done.stderr)
    planted_folder = "z:" + str(folder).lower().replace("/", "\\") + "\\"
    assert [p for p in paths if p.startswith(planted_folder)] == [planted_folder + copy.name.lower()]
    # Common Controls only for a window, and then version 6, through the manifest's dependency,
    # although the program asks for System32 only: the activation context comes first.
    version_6 = "\\winsxs\\amd64_microsoft.windows.common-controls_6595b64144ccf1df_6."
    common_controls = [p for p in paths if p.endswith("\\comctl32.dll")]
    if window:
        assert common_controls == []
    else:
        assert common_controls and all(version_6 in p for p in common_controls), common_controls
    for name in ("winhttp", "wintrust", "crypt32", "version"):
        assert f"c:\\windows\\system32\\{name}.dll" in paths, name


# Not version.dll: Wine's own user32 imports it, so without it no program starts under Wine.
@pytest.mark.parametrize("dll, window, code, tail", [
    ("winhttp", False, 50, ["nao consegui carregar winhttp.dll (126)", full_installer_line(),
                            "erro 50 (detalhe 126)"]),
    ("wintrust", False, 50, ["nao consegui carregar wintrust.dll (126)", full_installer_line(),
                             "erro 50 (detalhe 126)"]),
    ("crypt32", False, 50, ["nao consegui carregar crypt32.dll (126)", full_installer_line(),
                            "erro 50 (detalhe 126)"]),
    # Without Common Controls the icons are lost and nothing else: a progress dialog that
    # cannot be shown lets the run go on without a window, never ends it in a thunk.
    ("comctl32", False, 0, ["verificado; --sem-executar: nao corre"]),
    ("comctl32", True, 0, ["verificado; --sem-executar: nao corre"]),
])
def test_a_dll_that_will_not_load_fails_its_step(workspace, dll, window, code, tail):
    """Wine refuses to load a DLL it is told is disabled: the step that needs it ends with a
    code and a log line, where a delay-load thunk would have ended the process."""
    options = [] if window else ["--sem-janela"]
    with https_server(real=installer()) as server:
        run = workspace.run_setup(*options, "--sem-executar", "--url", server.url(),
                                  unix_env={"WINEDLLOVERRIDES": f"{dll}=d"})
    assert (run.code, run.lines[-len(tail):]) == (code, tail)
    assert not workspace.work_folder.exists()
