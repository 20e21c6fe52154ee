#!/usr/bin/env python3
"""End-to-end cases of LumoraSetup.exe in a 64-bit Wine prefix: the 32-bit
program under WOW64, as on most users' machines (a win64 prefix), or the
64-bit program (the win64 build, a win64-only prefix).

usage: wow64_e2e.py CASE

The cases of e2e.py run here too (with E2E_ARCHITECTURE=.x64 the program must
ask for Lumora.x64.msi); this file adds what only a 64-bit Windows shows:
the x64 product installed into the 64-bit Program Files, the package kept in
the Common Files folder of 32-bit programs by either build, and the channel
read from the 64-bit registry view while Wow6432Node is ignored.
Environment: as e2e.py, plus WINEARCH=win64 for the WOW64 prefix.
"""

import glob
import subprocess
import sys

import e2e
from e2e import (FOLDER_URL, STEM, Nginx, Tree, app_folder, check, check_equal, check_installer_parameters,
                 descriptor_text, env, first, package_bytes, paths_requested, prefix, recorded_parameters,
                 remove_stored_packages, run_driver, work)

KESTRUP_KEY = r"HKLM\Software\Varnex\Lumora\Kestrup"
# The registry views reg.exe is told to use: the 64-bit one, and the one a
# 32-bit program opens without KEY_WOW64_64KEY (Wow6432Node). Named on every
# call: which reg.exe Wine starts, and so its default view, depends on the
# loader that starts it.
VIEW_64 = "/reg:64"
VIEW_32 = "/reg:32"


def reg(*arguments, must_succeed=True):
    result = subprocess.run([env["E2E_WINE_RUN"], "reg", *arguments], capture_output=True, text=True, timeout=60,
                            stdin=subprocess.DEVNULL)
    if must_succeed and result.returncode != 0:
        raise SystemExit(f"reg {' '.join(arguments)} failed: {result.stdout}{result.stderr}")


def remove_channel_values():
    for view in (VIEW_64, VIEW_32):
        reg("delete", KESTRUP_KEY, "/f", view, must_succeed=False)


def case_wine_msiexec_installs_x64_demo():
    """Wine's msiexec, started by the program, installs the x64 demo product
    into the 64-bit Program Files. The program runs elevated (Wine's default
    token), so it keeps the package in the Common Files folder of 32-bit
    programs, where either build finds the package the other left."""
    drive_c = prefix / "drive_c"
    e2e.case_wine_msiexec_installs_demo()
    check((drive_c / "Program Files" / "Lumora Demo" / "Lumora-demo.txt").is_file(),
          "the x64 product is in the 64-bit Program Files")
    check(not (drive_c / "Program Files (x86)" / "Lumora Demo").exists(),
          "nothing was installed into the 32-bit Program Files")
    stored = glob.glob(str(drive_c / "Program Files*" / "Common Files" / "Varnex" / "Kestrup" / f"{STEM}.msi"))
    print("package kept at:", stored)
    check_equal([path[len(str(drive_c)) + 1:] for path in stored],
                [f"Program Files (x86)/Common Files/Varnex/Kestrup/{STEM}.msi"],
                "the package in the Common Files folder of 32-bit programs")


# In which view the channel "beta" is set, with a decoy beside it, and the
# channel whose descriptor the program must ask for.
CHANNEL_CASES = [
    ("64-bit view, decoy in Wow6432Node", [(VIEW_64, "beta"), (VIEW_32, "decoy")], "beta"),
    ("Wow6432Node only", [(VIEW_32, "beta")], "stable"),
]


def case_channel_from_64_bit_view():
    """The channel is read in the 64-bit view; a value only Wow6432Node holds
    leaves the default channel. The descriptor path shows which was used."""
    tree = Tree(work / "tree")
    for channel in ("stable", "beta", "decoy"):
        tree.write_descriptor(descriptor_text(FOLDER_URL), channel=channel)
    tree.write_package(f"{STEM}.msi", package_bytes(100_000))
    server = Nginx(tree.root, work / "nginx")
    try:
        for number, (name, values, channel) in enumerate(CHANNEL_CASES):
            print(f"--- {name}: expecting the channel {channel}")
            remove_stored_packages()
            remove_channel_values()
            for view, value in values:
                reg("add", KESTRUP_KEY, "/v", "Channel", "/t", "REG_SZ", "/d", value, "/f", view)
            server.clear_log()
            app = app_folder(env["E2E_PROGRAM"])
            report = run_driver(f"channel-{number}", app, ["wait-exit", "90"], limited_token=True)
            check_equal(first(report, "exit"), "0", f"{name}: exit code")
            descriptors = [path for path in paths_requested(server) if path.endswith(".txt")]
            print("descriptor requests:", descriptors)
            check(len(descriptors) == 1 and descriptors[0].endswith(f"-{channel}.txt"),
                  f"{name}: the descriptor of the channel {channel} was requested, got {descriptors}")
            check_installer_parameters(recorded_parameters(), STEM, report, elevated=False)
    finally:
        remove_channel_values()
        server.stop()


e2e.CASES.update({
    "wine_msiexec_installs_x64_demo": case_wine_msiexec_installs_x64_demo,
    "channel_from_64_bit_view": case_channel_from_64_bit_view,
})

if __name__ == "__main__":
    made = (prefix / ".lumora-ready").read_text().strip() if (prefix / ".lumora-ready").is_file() else ""
    if e2e.ARCHITECTURE != ".x64" or made not in ("win64", "win64-only"):
        sys.exit("wow64_e2e.py runs in a 64-bit prefix with E2E_ARCHITECTURE=.x64")
    e2e.main()
