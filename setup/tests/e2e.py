#!/usr/bin/env python3
"""End-to-end tests of LumoraSetup.exe under Wine, one case per run.

usage: e2e.py CASE

The host side of a case: it lays out a signed update tree, serves it with
nginx on 127.0.0.1:E2E_PORT (the update server of the test build), starts the
Windows test driver (gui_driver.exe) under Wine on the Xvfb display, takes
the screenshots the driver asks for, and checks the driver's report, nginx's
access log, the stand-in msiexec's record and the package folder.

Settings come from the environment (set by setup/tests/gui_tests.cmake):
  E2E_WORK          folder for the case's files (cleared at start)
  E2E_PORT          the test build's update server port on 127.0.0.1
  E2E_PROGRAM       the test build of the program (test key, server 127.0.0.1)
  E2E_PROGRAM_TWO   the same with a two-language table
  E2E_PROGRAM_FRESH the same with the signature freshness checks, floor
                    1500000000
  E2E_PROGRAM_RESUME the same with the freshness checks and resumed package
                    downloads (LUMORA_DOWNLOAD_RESUME)
  E2E_DRIVER        gui_driver.exe
  E2E_RECORDER      msiexec_recorder.exe, the stand-in for msiexec.exe
  E2E_SECRET_KEY    minisign secret key matching the test build's trusted key
  E2E_DEMO          folder with the demo product's .wxs and file
  E2E_WINE_RUN      scripts/wine-run.sh
  E2E_ARCHITECTURE  the package suffix the program asks for: .Win32 (the
                    default, a 32-bit prefix) or .x64 (a 64-bit prefix)
  WINEPREFIX, LUMORA_XVFB_DIR
"""

import glob
import hashlib
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
import lumora_nginx  # noqa: E402

WINDOWS_NAMES = ["win11", "win10", "win8_1", "win8", "win7sp1", "win7"]
TITLE = "Namestitveni program"
PROGRESS_INSTRUCTION = "Prenos namestitvenega paketa ..."
LANGUAGE_INSTRUCTION = "Izberite jezik namestitve"
# A 32-bit Wine prefix: the package of a 32-bit x86 machine; a 64-bit one
# (wow64_e2e.py): the package of an x64 machine.
ARCHITECTURE = os.environ.get("E2E_ARCHITECTURE", ".Win32")

env = os.environ
PORT = int(env["E2E_PORT"])
work = Path(env["E2E_WORK"])
prefix = Path(env["WINEPREFIX"])
failures = []
# ImageMagick's own convert, not a stand-in of the same name earlier on PATH.
CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"
RECORD = work / "msiexec-command-line.txt"


def check(condition, message):
    if not condition:
        failures.append(message)
        print(f"FAILED: {message}")


def check_equal(actual, expected, what):
    check(actual == expected, f"{what}: expected {expected!r}, got {actual!r}")


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def sign(path, comment=None):
    """minisign's signature; its default trusted comment unless one is given."""
    subprocess.run(["minisign", "-S", "-s", env["E2E_SECRET_KEY"], "-m", str(path),
                    *(["-t", comment] if comment else [])],
                   check=True, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)


def signed_at(time):
    """A trusted comment in minisign's own layout with a chosen signing time."""
    return lambda path: f"timestamp:{time}\tfile:{path.name}\thashed"


class Tree:
    """The update server's document root: descriptors for every Windows
    version name and the nameless one, and a package folder."""

    def __init__(self, root):
        self.root = root
        self.packages = root / "Lumora" / "packages"
        self.packages.mkdir(parents=True)

    def descriptors(self, channel="stable"):
        kestrup = self.root / "Lumora" / "Kestrup"
        return [kestrup / f"{name}-{channel}.txt" for name in WINDOWS_NAMES] + [
            self.root / "Lumora" / f"Kestrup-{channel}.txt"]

    def write_descriptor(self, text, signed=True, comment=None, channel="stable"):
        """comment: the trusted comment for a path, or minisign's default."""
        for path in self.descriptors(channel):
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(text)
            if signed:
                sign(path, comment(path) if comment else None)

    def write_package(self, name, content, comment=None):
        path = self.packages / name
        path.write_bytes(content)
        sign(path, comment)
        return path


def descriptor_text(folder_url, padding=0):
    # Lines after the third are ignored by the client; padding makes a
    # descriptor that takes a while to arrive from a rate-limited server.
    text = f"1A2B\nLumora test channel\n{folder_url}\n".encode()
    if padding:
        text += b"".join(b"# padding line %06d ..............................\n" % i
                         for i in range(padding // 50))
    return text


def package_bytes(size):
    return bytes((i * 131 + (i >> 8)) & 0xFF for i in range(size))


def demo_msi(out_folder):
    demo = Path(env["E2E_DEMO"])
    build = out_folder / "demo-build"
    build.mkdir()
    for item in demo.iterdir():
        shutil.copy(item, build)
    msi = build / f"Lumora{ARCHITECTURE}.msi"
    platform = ["-a", "x64", "-D", "Platform=x64"] if ARCHITECTURE == ".x64" else []
    subprocess.run(["wixl", *platform, "-o", str(msi), str(build / "LumoraDemo.wxs")], check=True, cwd=build)
    return msi.read_bytes()


def Nginx(root, folder, slow=None, rate="20k"):
    """nginx on 127.0.0.1:E2E_PORT serving one tree (scripts/lumora_nginx.py);
    paths matching the regular expression `slow` are sent at `rate`. Its
    requests() are (method, path, status, body bytes sent)."""
    locations = [lumora_nginx.limit_rate(slow, rate)] if slow else []
    try:
        return lumora_nginx.Nginx(folder, [lumora_nginx.site(PORT, root, locations)])
    except RuntimeError as error:
        raise SystemExit(str(error))


def app_folder(program, recorder=True, broken_installer=False):
    """The program in a folder of its own. With recorder, the stand-in
    msiexec.exe takes the place of Wine's in the prefix's system folders: Wine's
    ShellExecute looks there before the program's folder and the current one.
    Without it, Wine's own msiexec is put back; with broken_installer, a file
    that is no program takes its place."""
    app = work / "app"
    if app.exists():
        shutil.rmtree(app)
    app.mkdir()
    shutil.copy(program, app / "LumoraSetup.exe")
    for system_msiexec in system_msiexec_files():
        wine_msiexec = system_msiexec.with_name("msiexec.exe.wine")
        if not wine_msiexec.exists():
            shutil.copy(system_msiexec, wine_msiexec)
        if broken_installer:
            replace_file(system_msiexec, b"not a program\n")
        else:
            replace_file(system_msiexec, Path(env["E2E_RECORDER"] if recorder else wine_msiexec).read_bytes())
    RECORD.unlink(missing_ok=True)
    return app


def replace_file(path, content):
    """Puts a new file in path's place, never writing into the old one: the
    prefixes' system files are links to one file shared by all prefixes under
    the build folder (scripts/share-prefix-files.py)."""
    temporary = path.with_name(path.name + ".new")
    temporary.write_bytes(content)
    os.replace(temporary, path)


def system_msiexec_files():
    """msiexec.exe in each system folder: system32 and, on 64-bit Windows,
    SysWOW64, where "system32" leads a 32-bit program."""
    windows = prefix / "drive_c" / "windows"
    return [folder / "msiexec.exe" for folder in (windows / "system32", windows / "syswow64") if folder.is_dir()]


def remove_stored_packages():
    """Packages and logs from earlier runs, in either package folder."""
    drive_c = prefix / "drive_c"
    patterns = ["users/*/AppData/Local/Temp/Lumora*", "users/*/Temp/Lumora*",
                "Program Files*/Common Files/Varnex"]
    for pattern in patterns:
        for path in glob.glob(str(drive_c / pattern)):
            if os.path.isdir(path):
                shutil.rmtree(path)
            else:
                os.remove(path)


def unix_path(windows):
    """The file behind a C: path of the prefix."""
    assert windows[:3].upper() == "C:\\", windows
    return prefix / "drive_c" / windows[3:].replace("\\", "/")


# Where Wine runs slower than the machines these bounds are made for (the
# emulated guest of scripts/vm32 sets it), the driver's waits are longer.
TIME_FACTOR = float(os.environ.get("LUMORA_WINE_TIME_FACTOR", "1"))
# The driver's commands that wait, and the index of their seconds argument.
WAITS = {"wait-dialog": 0, "wait-progress-page": 0, "wait-error-box": 0, "wait-exit": 0, "wait-progress": 1}


def scaled_waits(commands):
    """The driver's commands with every wait's bound scaled by TIME_FACTOR."""
    commands = list(commands)
    for i, command in enumerate(commands):
        if command in WAITS:
            at = i + 1 + WAITS[command]
            commands[at] = f"{float(commands[at]) * TIME_FACTOR:g}"
    return commands


def run_driver(name, program_folder, commands, limited_token=False, timeout=240, clear_user_key=None,
               headless=False):
    """Runs the driver on the program; returns its report as a dict of lists.
    With limited_token the program runs unelevated, as under UAC; with
    clear_user_key that key of the user's hive is deleted before it starts;
    headless, there is no display at all."""
    report = work / f"{name}.report.txt"
    command = [env["E2E_WINE_RUN"], env["E2E_DRIVER"], windows_path(report),
               windows_path(program_folder / "LumoraSetup.exe"),
               *(["--limited-token"] if limited_token else []),
               *(["--clear-user-key", clear_user_key] if clear_user_key else []), *scaled_waits(commands)]
    timeout *= TIME_FACTOR
    display = None if headless else (Path(env["LUMORA_XVFB_DIR"]) / "display").read_text().strip()
    started = time.time()
    # Wine loads its own msiexec in place of any file of that name unless told
    # to prefer the native one: the stand-in is native.
    overrides = "mscoree,mshtml=;winemenubuilder.exe=d;msiexec.exe=n,b"
    driver_env = {**env, "WINEDLLOVERRIDES": overrides, "LUMORA_MSIEXEC_RECORD": windows_path(RECORD)}
    if headless:
        # wine-run.sh runs without a display when it names no Xvfb.
        driver_env.pop("LUMORA_XVFB_DIR", None)
    driver = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True,
                              env=driver_env)
    for line in driver.stdout:
        line = line.strip()
        if line.startswith("SCREENSHOT "):
            shot = line.split(" ", 1)[1]
            raw = work / f"{shot}.full.png"
            subprocess.run(["import", "-display", display, "-window", "root", str(raw)], check=True)
            # The display has no window manager: what is not black is the program.
            subprocess.run([CONVERT, str(raw), "-trim", "+repage", str(work / f"{shot}.trim.png")], check=True)
            os.replace(work / f"{shot}.trim.png", work / f"{shot}.png")
        if time.time() - started > timeout:
            break
    try:
        status = driver.wait(max(1, timeout - (time.time() - started)))
    except subprocess.TimeoutExpired:
        driver.kill()
        status = driver.wait()
    values = {}
    if report.exists():
        for line in report.read_text(encoding="utf-8").splitlines():
            key, _, value = line.partition(": ")
            values.setdefault(key, []).append(value)
    print(f"--- driver report {name} (driver exit {status}) ---")
    print(report.read_text(encoding="utf-8") if report.exists() else "(none)")
    check_equal(status, 0, f"{name}: driver status")
    return values


def first(report, key):
    return report.get(key, [None])[0]


def recorded_parameters():
    """The stand-in msiexec's command line, less the program name."""
    record = RECORD
    deadline = time.time() + 20
    while not record.exists() and time.time() < deadline:
        time.sleep(0.1)
    check(record.exists(), "the installer (stand-in msiexec.exe) was started")
    if not record.exists():
        return None
    line = record.read_text(encoding="utf-8")
    if line.startswith('"'):
        rest = line[line.index('"', 1) + 1:]
    else:
        rest = line[line.find(" "):] if " " in line else ""
    return rest.lstrip(" ")


def check_dialog(report, instruction=PROGRESS_INSTRUCTION):
    check_equal(first(report, "title"), TITLE, "dialog title (string 2)")
    check(instruction in report.get("instruction", []), f"main instruction {instruction!r} shown")
    check_equal(first(report, "icon"), "yes", "main icon (icon 1) shown")


def package_folder_of(parameters):
    """The folder and the two names from '/i "<package>" /l* "<log>"'."""
    parts = parameters.split('"')
    return parts[1], parts[3]


def check_installer_parameters(parameters, stem, report, elevated):
    """Exactly /i "<package>" /l* "<log>", in the folder the token calls for."""
    check_equal(first(report, "elevated"), "yes" if elevated else "no", "the program's token elevation")
    if parameters is None:
        return None
    package, log = package_folder_of(parameters)
    check_equal(parameters, f'/i "{package}" /l* "{log}"', "installer parameters")
    folder = package[: package.rfind("\\") + 1]
    check_equal(package, folder + stem + ".msi", "package file name")
    check_equal(log, folder + stem + ".log", "log file name")
    elevated = first(report, "elevated")
    if elevated == "yes":
        check(folder.lower().endswith("\\common files\\varnex\\kestrup\\"),
              f"elevated: package in Common Files\\Varnex\\Kestrup, got {folder}")
    else:
        check(folder.lower().endswith("\\temp\\"), f"not elevated: package in the temporary folder, got {folder}")
    print(f"package folder: {folder} (token elevated: {elevated})")
    return unix_path(package)


def wait_for_wine_processes():
    """The installer runs on after the program; wait for the prefix to go idle."""
    subprocess.run(["timeout", "120", "wineserver", "-w"], env={**env, "WINEPREFIX": str(prefix)})


def paths_requested(server):
    return [path for _, path, _, _ in server.requests()]


# ---------------------------------------------------------------------------
# Cases

FOLDER_URL = f"http://127.0.0.1:{PORT}/Lumora/packages"
STEM = f"Lumora{ARCHITECTURE}"


def standard_tree(package=None, folder_url=FOLDER_URL, descriptor=None):
    tree = Tree(work / "tree")
    tree.write_descriptor(descriptor if descriptor is not None else descriptor_text(folder_url))
    tree.write_package(f"{STEM}.msi", package if package is not None else package_bytes(300_000))
    return tree


def case_happy_path():
    """The package arrives slowly enough for a screenshot of the progress
    page; the stand-in installer is started with the exact parameters."""
    remove_stored_packages()
    package = package_bytes(600_000)
    tree = standard_tree(package)
    server = Nginx(tree.root, work / "nginx", slow=r"\.msi$", rate="150k")
    try:
        app = app_folder(env["E2E_PROGRAM"])
        report = run_driver("happy", app, ["wait-progress-page", "60", "wait-progress", "250", "60",
                                           "screenshot", "progress-page", "wait-exit", "90"],
                            limited_token=True)
        check_dialog(report)
        check_equal(first(report, "buttons"), "2=Cancel", "progress page buttons")
        check_equal(first(report, "exit"), "0", "exit code")
        check_equal(first(report, "highest-progress"), "1000", "highest progress bar position")
        check_equal(first(report, "error-box-seen"), "no", "no error box")
        stored = check_installer_parameters(recorded_parameters(), STEM, report, elevated=False)
        if stored:
            check(stored.exists() and stored.read_bytes() == package, "the stored package is the served one")
        requested = paths_requested(server)
        check_equal([p for p in requested if p.startswith("/Lumora/packages/")],
                    [f"/Lumora/packages/{STEM}.msi.minisig", f"/Lumora/packages/{STEM}.msi"],
                    "package requests")
        check_equal(len([p for p in requested if p.endswith(".txt.minisig")]), 1, "one descriptor signature request")
        print("requests:", requested)
    finally:
        server.stop()


def case_second_run_reuses_package():
    """Two runs with an unchanged package: the second only fetches the
    package's signature."""
    remove_stored_packages()
    tree = standard_tree()
    server = Nginx(tree.root, work / "nginx")
    try:
        app = app_folder(env["E2E_PROGRAM"])
        varnex = glob.glob(str(prefix / "drive_c/Program Files*/Common Files")) 
        check(varnex and not os.path.exists(os.path.join(varnex[0], "Varnex")), "no Varnex folder before the run")
        # Elevated (Wine's default token): Common Files\Varnex\Kestrup, made
        # by the first run and found by the second.
        first_report = run_driver("first-run", app, ["wait-exit", "90"])
        check_equal(first(first_report, "exit"), "0", "first run exit code")
        stored = check_installer_parameters(recorded_parameters(), STEM, first_report, elevated=True)
        modified = stored.stat().st_mtime_ns if stored and stored.exists() else None
        check(f"/Lumora/packages/{STEM}.msi" in paths_requested(server), "the first run downloads the package")
        server.clear_log()
        app = app_folder(env["E2E_PROGRAM"])
        second_report = run_driver("second-run", app, ["wait-exit", "90"])
        check_equal(first(second_report, "exit"), "0", "second run exit code")
        package_requests = [p for p in paths_requested(server) if p.startswith("/Lumora/packages/")]
        check_equal(package_requests, [f"/Lumora/packages/{STEM}.msi.minisig"],
                    "second run: one signature request, no package request")
        if stored and stored.exists():
            check_equal(stored.stat().st_mtime_ns, modified, "the reused package file is untouched")
        check_installer_parameters(recorded_parameters(), STEM, second_report, elevated=True)
    finally:
        server.stop()


def case_wine_msiexec_installs_demo():
    """Wine's own msiexec installs the demo product from the stored package."""
    remove_stored_packages()
    installed = glob.glob(str(prefix / "drive_c/Program Files*/Lumora Demo"))
    for path in installed:
        shutil.rmtree(path)
    subprocess.run([env["E2E_WINE_RUN"], "msiexec", "/x", "{*}", "/qn"], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    tree = standard_tree(demo_msi(work))
    server = Nginx(tree.root, work / "nginx")
    try:
        app = app_folder(env["E2E_PROGRAM"], recorder=False)
        report = run_driver("wine-msiexec", app, ["wait-exit", "90"])
        check_equal(first(report, "exit"), "0", "exit code")
        wait_for_wine_processes()
        product = glob.glob(str(prefix / "drive_c/Program Files*/Lumora Demo/Lumora-demo.txt"))
        check(len(product) == 1, "Wine's msiexec installed Program Files\\Lumora Demo\\Lumora-demo.txt")
        print("installed:", product)
    finally:
        server.stop()


def case_cancel_during_package():
    """Cancel while the package trickles in: exit code 1223, no error box."""
    remove_stored_packages()
    tree = standard_tree(package_bytes(2_000_000))
    server = Nginx(tree.root, work / "nginx", slow=r"\.msi$", rate="40k")
    try:
        app = app_folder(env["E2E_PROGRAM"])
        report = run_driver("cancel-package", app, ["wait-progress-page", "60", "wait-progress", "150", "60",
                                                    "click", "2", "wait-exit", "60"])
        check_equal(first(report, "exit"), "1223", "exit code")
        check_equal(first(report, "error-box-seen"), "no", "no error box")
        check(not RECORD.exists(), "no installer started")
        time.sleep(1)
        package = [r for r in server.requests() if r[1] == f"/Lumora/packages/{STEM}.msi"]
        check(len(package) == 1 and package[0][3] < 2_000_000, f"the package download was cut short: {package}")
    finally:
        server.stop()


def package_folder_files(name):
    """The files matching `name` in either package folder (the temporary
    folder, or Common Files for an elevated run), as a run left them."""
    drive_c = prefix / "drive_c"
    patterns = [f"users/*/AppData/Local/Temp/{name}", f"users/*/Temp/{name}",
                f"Program Files*/Common Files/Varnex/Kestrup/{name}"]
    return sorted(path for pattern in patterns for path in glob.glob(str(drive_c / pattern)))


def stored_package_files():
    """The package files in either package folder."""
    return package_folder_files(f"{STEM}.msi")


def case_close_window_during_package():
    """Closing the window (its close box, Alt+F4), not Cancel, while the bar
    moves fast, many times at different points of the download: each run
    ends as cancelled, at once, and leaves no package. The dialog closes only
    after it has joined the worker, and no progress report of the worker or
    of WinHTTP's threads may wait for it meanwhile."""
    package = package_bytes(6_000_000)
    tree = standard_tree(package)
    # About three seconds for the package: the bar moves on every block.
    server = Nginx(tree.root, work / "nginx", slow=r"\.msi$", rate="2m")
    try:
        app = app_folder(env["E2E_PROGRAM"])
        for position in (120, 300, 450, 600, 750, 900, 200, 520, 680, 840):
            remove_stored_packages()
            name = f"close-at-{position}"
            report = run_driver(name, app, ["wait-progress-page", "60", "wait-progress", str(position), "60",
                                            "close", "wait-exit", "30"])
            check_equal(first(report, "closed"), "window", f"{name}: the window was closed")
            shown = int(first(report, "progress") or -1)
            check(position <= shown < 1000, f"{name}: closed with the bar moving (at {shown})")
            check_equal(first(report, "exit"), "1223", f"{name}: exit code")
            check_equal(first(report, "error-box-seen"), "no", f"{name}: no error box")
            print(f"{name}: exit {first(report, 'exit-after-click-ms')} ms after the close")
            check(not RECORD.exists(), f"{name}: no installer started")
            check_equal(stored_package_files(), [], f"{name}: no package left")
    finally:
        server.stop()


def partial_files():
    """Partial package files and their records in either package folder."""
    return package_folder_files(f"{STEM}.msi.partial*")


def cancelled_run_then_again(program, name, size=1_000_000):
    """A run of `program` cancelled about half way through the package, then
    a run to its end, on one nginx. Returns the files the first run left
    (name: size) and each run's package requests as nginx logged them:
    (status, body bytes sent, Range header)."""
    remove_stored_packages()
    package = package_bytes(size)
    tree = standard_tree(package)
    # About ten seconds for the whole package.
    server = Nginx(tree.root, work / "nginx", slow=r"\.msi$", rate="100k")
    package_path = f"/Lumora/packages/{STEM}.msi"
    try:
        app = app_folder(env[program])
        # 550: half of the package's share of the bar (100 to 1000).
        report = run_driver(f"{name}-first", app, ["wait-progress-page", "60", "wait-progress", "550", "60",
                                                   "click", "2", "wait-exit", "60"],
                            clear_user_key=ACCEPTED_SIGNATURES)
        check_equal(first(report, "exit"), "1223", f"{name}: the first run was cancelled")
        left = {Path(path).name: os.path.getsize(path) for path in partial_files() + stored_package_files()}
        time.sleep(1)  # nginx logs a request when its connection has ended
        first_requests = [r[2:] for r in server.ranges() if r[1] == package_path]
        server.clear_log()
        app = app_folder(env[program])
        report = run_driver(f"{name}-second", app, ["wait-exit", "90"])
        check_equal(first(report, "exit"), "0", f"{name}: the second run's exit code")
        stored = check_installer_parameters(recorded_parameters(), STEM, report, elevated=True)
        if stored:
            check(stored.exists() and stored.read_bytes() == package, f"{name}: the stored package is the served one")
        check_equal(partial_files(), [], f"{name}: no partial file or record is left")
        second_requests = [r[2:] for r in server.ranges() if r[1] == package_path]
        print(f"{name}: left by the first run {left}; package requests {first_requests} then {second_requests}")
        return left, first_requests, second_requests
    finally:
        server.stop()


def case_resume_cancelled_run_fetches_only_the_rest():
    """The resuming build: a run cancelled half way keeps its bytes beside
    the package; the next asks nginx for the rest only (Range: bytes=N-) and
    the two fetch the package about once in all."""
    size = 1_000_000
    left, first_requests, second_requests = cancelled_run_then_again("E2E_PROGRAM_RESUME", "resume", size)
    kept = left.get(f"{STEM}.msi.partial")
    check(kept is not None and 0 < kept < size, f"the cancelled run kept its bytes in {STEM}.msi.partial: {left}")
    check(f"{STEM}.msi.partial.record" in left, "with their record beside them")
    check(f"{STEM}.msi" not in left, "and no package file")
    check_equal(len(second_requests), 1, "the second run makes one package request")
    if kept and second_requests:
        status, sent, range_header = second_requests[0]
        check_equal(range_header, f"bytes={kept}-", "the second run asks for the rest")
        check_equal(status, 206, "and gets it as a range")
        check_equal(sent, size - kept, "and fetches only the rest")
    total = sum(sent for _, sent, _ in first_requests + second_requests)
    print(f"package bytes sent over both runs: {total} for a package of {size}")
    check(total < size * 1.25, f"the two runs fetched the package about once in all ({total} bytes for {size})")


def case_restart_cancelled_run_fetches_the_whole_package():
    """The default build: a cancelled run leaves nothing, and the next run
    fetches the whole package again from byte 0."""
    size = 1_000_000
    left, _, second_requests = cancelled_run_then_again("E2E_PROGRAM", "restart", size)
    check_equal(left, {}, "the cancelled run leaves no file")
    check_equal(second_requests, [(200, size, "")], "the second run fetches the whole package without a range")


def case_cancel_during_descriptor():
    """Cancel while the descriptor trickles in: the descriptor's transfer
    ends at once, the exit code is 1223 and the package is never asked for."""
    remove_stored_packages()
    descriptor = descriptor_text(FOLDER_URL, padding=150_000)
    tree = standard_tree(descriptor=descriptor)
    server = Nginx(tree.root, work / "nginx", slow=r"\.txt$", rate="30k")
    try:
        app = app_folder(env["E2E_PROGRAM"])
        report = run_driver("cancel-descriptor", app, ["wait-progress-page", "60", "sleep", "1000",
                                                       "click", "2", "sleep", "1000", "note-dialog",
                                                       "wait-exit", "90"])
        check_equal(first(report, "dialog-open"), "no", "dialog closed a second after Cancel")
        check_equal(first(report, "exit"), "1223", "exit code")
        check_equal(first(report, "error-box-seen"), "no", "no error box")
        print("exit after the click:", first(report, "exit-after-click-ms"), "ms")
        time.sleep(1)
        requests = server.requests()
        print("requests:", requests)
        descriptor_gets = [r for r in requests if r[1].endswith(".txt")]
        check(len(descriptor_gets) == 1 and descriptor_gets[0][3] < len(descriptor),
              f"the descriptor download was cut short: {descriptor_gets}")
        check(not any(r[1] == f"/Lumora/packages/{STEM}.msi" for r in requests), "no package request")
    finally:
        server.stop()


def failure_case(name, expected_text, prepare, screenshot=False):
    """A failure: the error box owned by the dialog shows the message chain,
    then the exit code is 1603."""
    remove_stored_packages()
    tree = prepare()
    server = Nginx(tree.root, work / "nginx") if tree else None
    try:
        app = app_folder(env["E2E_PROGRAM"], broken_installer=(name == "installer_not_startable"))
        commands = ["wait-progress-page", "60", "wait-error-box", "90"]
        if screenshot:
            commands += ["screenshot", "error-box"]
        report = run_driver(name, app, commands + ["dismiss-error-box", "wait-exit", "60"])
        check_failure_report(report, expected_text)
    finally:
        if server:
            server.stop()


def check_failure_report(report, expected_text):
    check_equal(first(report, "error-box-text"), expected_text, "error box text")
    check_equal(first(report, "error-box-caption"), TITLE, "error box caption")
    check_equal(first(report, "error-box-owner"), "dialog", "error box owner")
    check_equal(first(report, "error-box-icon"), "yes", "error icon")
    check_equal(first(report, "dialog-behind-error-box"), "yes", "progress page stays behind the box")
    check_equal(first(report, "exit"), "1603", "exit code")
    check(not RECORD.exists(), "no installer started")


def prepare_no_server():
    return None


def prepare_descriptor_signature_missing():
    tree = standard_tree()
    for path in tree.descriptors():
        os.remove(str(path) + ".minisig")
    return tree


def prepare_tampered_descriptor():
    tree = standard_tree()
    for path in tree.descriptors():
        path.write_bytes(descriptor_text(f"http://127.0.0.1:{PORT}/elsewhere"))
    return tree


def prepare_descriptor_without_url():
    return standard_tree(descriptor=b"1A2B\nLumora test channel\n")


def prepare_descriptor_url_with_nul():
    """A signed descriptor whose third line would end early at a NUL byte."""
    return standard_tree(descriptor=f"1A2B\nLumora test channel\n{FOLDER_URL}\0.elsewhere/\n".encode())


def prepare_unsupported_scheme():
    return standard_tree(folder_url=f"ftp://127.0.0.1:{PORT}/Lumora/packages")


def prepare_tampered_package():
    tree = standard_tree()
    path = tree.packages / f"{STEM}.msi"
    content = bytearray(path.read_bytes())
    content[1000] ^= 0x01
    path.write_bytes(bytes(content))
    return tree


def prepare_package_file_blocked():
    """A folder where the package file belongs (the program runs elevated:
    Common Files\\Varnex\\Kestrup), so that it cannot be opened."""
    tree = standard_tree()
    common = glob.glob(str(prefix / "drive_c/Program Files*/Common Files"))[0]
    os.makedirs(os.path.join(common, "Varnex", "Kestrup", f"{STEM}.msi"))
    return tree


FAILURES = {
    # Wine's WinHTTP has no message text for 12029 (cannot connect).
    "no_server": ("Failed to load Minisign signature: WinHttpSendRequest failed: Error 12029", prepare_no_server),
    "descriptor_signature_404": ("Failed to load Minisign signature: 404", prepare_descriptor_signature_missing),
    "tampered_descriptor": ("Invalid Minisign signature", prepare_tampered_descriptor),
    "descriptor_without_url": ("update URL unavailable", prepare_descriptor_without_url),
    "descriptor_url_with_nul": ("update URL unavailable: it contains a NUL byte", prepare_descriptor_url_with_nul),
    "unsupported_scheme": ("Unrecognized scheme", prepare_unsupported_scheme),
    "tampered_package": ("Invalid Minisign signature", prepare_tampered_package),
    # std::system_error in the system category: the C++ runtime's text for the code.
    "package_file_blocked": ("Failed to open file: Access denied", prepare_package_file_blocked),
    # msiexec.exe is no program: ShellExecuteW fails after a good download
    # with ERROR_BAD_EXE_FORMAT, whose system text keeps its insert.
    "installer_not_startable": ("ShellExecute failed: Bad EXE format for %1.", standard_tree),
}


# ---------------------------------------------------------------------------
# Signature freshness (the program built with the checks on, floor 1500000000)

ACCEPTED_SIGNATURES = r"Software\Varnex\Lumora\Kestrup\AcceptedSignatures"
REPLAYED = "Minisign signature is older than one already accepted"
BELOW_FLOOR = "Minisign signature is older than this program accepts"
ANOTHER_FILE = "Minisign signature is for another file"
NOT_LISTED_HASH = "Package does not match its descriptor"


def listed_descriptor(packages):
    """The descriptor with a package line per (name, content), as published."""
    return descriptor_text(FOLDER_URL) + b"".join(
        b"package %s %s\n" % (name.encode(), hashlib.blake2b(content, digest_size=64).hexdigest().encode())
        for name, content in packages)


def fresh_tree(descriptor_comment=None, package_comment=None):
    """The standard tree with package lines; trusted comments as given."""
    package = package_bytes(300_000)
    tree = Tree(work / "tree")
    tree.write_descriptor(listed_descriptor([(f"{STEM}.msi", package)]), comment=descriptor_comment)
    tree.write_package(f"{STEM}.msi", package, package_comment)
    return tree


def records(report):
    """name -> time of the record of accepted signatures after the run."""
    return dict(value.rsplit("=", 1) for value in report.get("user-value", []))


def run_fresh(name, tree, program="E2E_PROGRAM_FRESH", clear=True, expected_error=None):
    """One run of a program on `tree` from an empty package folder (and with
    clear, an empty record); checks a success or the error box's text and
    returns the report."""
    remove_stored_packages()
    server = Nginx(tree.root, work / f"nginx-{name}")
    try:
        app = app_folder(env[program])
        if expected_error:
            commands = ["wait-progress-page", "60", "wait-error-box", "90", "dismiss-error-box", "wait-exit", "60"]
        else:
            commands = ["wait-exit", "90"]
        report = run_driver(name, app, commands + ["note-user-key", ACCEPTED_SIGNATURES],
                            clear_user_key=ACCEPTED_SIGNATURES if clear else None)
        if expected_error:
            check_failure_report(report, expected_error)
        else:
            check_equal(first(report, "exit"), "0", f"{name}: exit code")
            check_equal(first(report, "error-box-seen"), "no", f"{name}: no error box")
            check(recorded_parameters() is not None, f"{name}: the installer was started")
        print(f"{name}: requests {paths_requested(server)}")
        return report
    finally:
        server.stop()


def case_fresh_replayed_descriptor():
    """A newer descriptor is accepted and recorded, the same files again are
    fine (the package is reused), an older one replayed after them is not."""
    tree = fresh_tree(descriptor_comment=signed_at(1700000000))
    report = run_fresh("newer", tree)
    recorded = records(report)
    print("recorded:", recorded)
    descriptor_times = [time for name, time in recorded.items() if name.endswith("-stable.txt")]
    check_equal(descriptor_times, ["1700000000"], "the descriptor's signing time recorded")
    package_time = recorded.get(f"/Lumora/packages/{STEM}.msi")
    check(package_time is not None and int(package_time) > 1700000000, "the package's signing time recorded")
    check_equal(len(recorded), 2, "a descriptor and a package recorded")

    # The same files again (elevated: the package waits in Common Files).
    app = app_folder(env["E2E_PROGRAM_FRESH"])
    server = Nginx(tree.root, work / "nginx-again")
    try:
        report = run_driver("again", app, ["wait-exit", "90"])
        check_equal(first(report, "exit"), "0", "the same files again: exit code")
        check_equal([p for p in paths_requested(server) if p.startswith("/Lumora/packages/")],
                    [f"/Lumora/packages/{STEM}.msi.minisig"], "the same files again: the package is reused")
    finally:
        server.stop()

    tree.write_descriptor(listed_descriptor([(f"{STEM}.msi", (tree.packages / f"{STEM}.msi").read_bytes())]),
                          comment=signed_at(1600000000))
    report = run_fresh("replayed", tree, clear=False, expected_error=REPLAYED)
    check_equal(records(report), recorded, "the record is unchanged")


def case_fresh_signed_before_floor():
    run_fresh("floor", fresh_tree(descriptor_comment=signed_at(1400000000)), expected_error=BELOW_FLOOR)


def case_fresh_swapped_package_signature():
    """The package and signature of the other architecture served as this
    one's: the x64 package as the Win32 package, or the Win32 package as the
    x64 one where the program asks for that."""
    tree = fresh_tree()
    other_stem = "Lumora.Win32" if ARCHITECTURE == ".x64" else "Lumora.x64"
    other = tree.write_package(f"{other_stem}.msi", package_bytes(1000))
    shutil.copy(other, tree.packages / f"{STEM}.msi")
    shutil.copy(f"{other}.minisig", tree.packages / f"{STEM}.msi.minisig")
    run_fresh("swapped", tree, expected_error=ANOTHER_FILE)


def case_fresh_other_channel_descriptor():
    """The beta channel's descriptors served as the stable ones."""
    tree = fresh_tree()
    tree.write_descriptor(descriptor_text(FOLDER_URL), channel="beta")
    for stable in tree.descriptors():
        beta = stable.with_name(stable.name.replace("-stable.txt", "-beta.txt"))
        shutil.copy(beta, stable)
        shutil.copy(f"{beta}.minisig", f"{stable}.minisig")
    run_fresh("other-channel", tree, expected_error=ANOTHER_FILE)


def case_fresh_package_not_matching_descriptor():
    """Another validly signed package than the descriptor lists."""
    tree = fresh_tree()
    tree.write_package(f"{STEM}.msi", package_bytes(299_999))
    run_fresh("not-listed", tree, expected_error=NOT_LISTED_HASH)


def case_fresh_altered_trusted_comment():
    """Refused with the checks, accepted by the program built without them."""
    tree = fresh_tree()
    for path in tree.descriptors():
        lines = Path(f"{path}.minisig").read_text().split("\n")
        lines[2] = "trusted comment: timestamp:4000000000"
        Path(f"{path}.minisig").write_text("\n".join(lines))
    run_fresh("altered-checked", tree, expected_error="Invalid Minisign signature")
    report = run_fresh("altered-unchecked", tree, program="E2E_PROGRAM")
    check_equal(first(report, "user-key"), "missing", "the program without the checks records nothing")


def case_fresh_custom_comments():
    """Trusted comments without time or file: accepted, nothing recorded."""
    tree = fresh_tree(descriptor_comment=lambda path: "Lumora test release", package_comment="Lumora package")
    report = run_fresh("custom", tree)
    check_equal(records(report), {}, "nothing recorded")


def case_language_page_choice():
    """Two languages: the language page with command links; choosing one
    navigates to the progress page and starts one worker."""
    remove_stored_packages()
    tree = Tree(work / "tree")
    tree.write_descriptor(descriptor_text(FOLDER_URL))
    tree.write_package(f"{STEM}.en.msi", package_bytes(100_000))
    server = Nginx(tree.root, work / "nginx")
    try:
        app = app_folder(env["E2E_PROGRAM_TWO"])
        report = run_driver("language-choice", app, ["wait-dialog", "60", "screenshot", "language-page",
                                                     "click", "1001", "wait-exit", "90"], limited_token=True)
        check_equal(report.get("instruction", [None])[0], LANGUAGE_INSTRUCTION, "language page instruction")
        check_equal(first(report, "title"), TITLE, "dialog title")
        check_equal(first(report, "buttons"),
                    "1000=Sloven\u0161\u010dina (command link); 1001=English (command link); 2=Cancel",
                    "language buttons")
        check_equal(first(report, "exit"), "0", "exit code")
        check_equal(first(report, "highest-progress"), "1000", "the progress page was shown and filled")
        check_installer_parameters(recorded_parameters(), f"{STEM}.en", report, elevated=False)
        requested = paths_requested(server)
        print("requests:", requested)
        check_equal(len([p for p in requested if p.endswith(".txt.minisig")]), 1,
                    "one worker: one descriptor signature request")
        check_equal([p for p in requested if p.startswith("/Lumora/packages/")],
                    [f"/Lumora/packages/{STEM}.en.msi.minisig", f"/Lumora/packages/{STEM}.en.msi"],
                    "the chosen language's package")
    finally:
        server.stop()


def case_language_page_cancel():
    """Cancel on the language page: exit code 0 and no request at all."""
    tree = standard_tree()
    server = Nginx(tree.root, work / "nginx")
    try:
        app = app_folder(env["E2E_PROGRAM_TWO"])
        report = run_driver("language-cancel", app, ["wait-dialog", "60", "sleep", "500", "click", "2",
                                                     "wait-exit", "30"])
        check_equal(first(report, "instruction"), LANGUAGE_INSTRUCTION, "language page shown")
        check_equal(first(report, "exit"), "0", "exit code")
        check_equal(server.requests(), [], "no request")
        check(not RECORD.exists(), "no installer started")
    finally:
        server.stop()


def case_no_display():
    """No display: the task dialog cannot be made, so no worker runs. The
    program ends with 1603, not with the 0 of a started installer, and
    requests nothing."""
    tree = standard_tree()
    server = Nginx(tree.root, work / "nginx")
    try:
        app = app_folder(env["E2E_PROGRAM"])
        report = run_driver("no-display", app, ["wait-exit", "120"], headless=True)
        check_equal(first(report, "exit"), "1603", "exit code")
        check_equal(server.requests(), [], "no request")
        check(not RECORD.exists(), "no installer started")
    finally:
        server.stop()


def case_worker_thread_cannot_start():
    """The worker thread cannot be made (no room left for its stack): the
    dialog closes and the entry point's own error box, owned by no window,
    ends the program with -1. Nothing is requested, no installer starts."""
    tree = standard_tree()
    server = Nginx(tree.root, work / "nginx")
    try:
        app = app_folder(env["E2E_PROGRAM_TWO"])
        # On the language page no worker runs yet: the choice starts it.
        report = run_driver("thread-cannot-start", app,
                            ["wait-dialog", "60", "fill-address-space", "click", "1000",
                             "wait-error-box", "60", "dismiss-error-box", "wait-exit", "30"])
        print("address space reserved:", first(report, "address-space-reserved"))
        check_equal(first(report, "error-box-caption"), TITLE, "error box caption")
        check_equal(first(report, "error-box-owner"), "none", "the entry point's box has no owner")
        check_equal(first(report, "dialog-behind-error-box"), "no", "the dialog has closed")
        check(bool(first(report, "error-box-text")), "the error box says why")
        check_equal(first(report, "exit"), "-1", "exit code")
        check_equal(server.requests(), [], "no request")
        check(not RECORD.exists(), "no installer started")
    finally:
        server.stop()


CASES = {
    "happy_path": case_happy_path,
    "second_run_reuses_package": case_second_run_reuses_package,
    "wine_msiexec_installs_demo": case_wine_msiexec_installs_demo,
    "cancel_during_package": case_cancel_during_package,
    "cancel_during_descriptor": case_cancel_during_descriptor,
    "close_window_during_package": case_close_window_during_package,
    "resume_cancelled_run_fetches_only_the_rest": case_resume_cancelled_run_fetches_only_the_rest,
    "restart_cancelled_run_fetches_the_whole_package": case_restart_cancelled_run_fetches_the_whole_package,
    "language_page_choice": case_language_page_choice,
    "language_page_cancel": case_language_page_cancel,
    "worker_thread_cannot_start": case_worker_thread_cannot_start,
    "no_display": case_no_display,
    "fresh_replayed_descriptor": case_fresh_replayed_descriptor,
    "fresh_signed_before_floor": case_fresh_signed_before_floor,
    "fresh_swapped_package_signature": case_fresh_swapped_package_signature,
    "fresh_other_channel_descriptor": case_fresh_other_channel_descriptor,
    "fresh_package_not_matching_descriptor": case_fresh_package_not_matching_descriptor,
    "fresh_altered_trusted_comment": case_fresh_altered_trusted_comment,
    "fresh_custom_comments": case_fresh_custom_comments,
}
for failure_name, (failure_text, failure_prepare) in FAILURES.items():
    CASES[f"failure_{failure_name}"] = (
        lambda n=failure_name, t=failure_text, p=failure_prepare:
        failure_case(n, t, p, screenshot=(n == "tampered_package")))


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in CASES:
        sys.exit("usage: e2e.py CASE\ncases: " + " ".join(CASES))
    if work.exists():
        shutil.rmtree(work)
    work.mkdir(parents=True)
    CASES[sys.argv[1]]()
    if failures:
        print(f"{len(failures)} check(s) failed")
        sys.exit(1)
    print("all checks passed")


if __name__ == "__main__":
    main()
