#!/usr/bin/env python3
"""Lays out and audits the update tree that Lumora's setup program reads.

publish: from a folder of packages (Lumora<arch><language>.msi), a list of
channels, the URL of the package folder, a descriptor number and text, and a
minisign secret key, writes into an output folder (the update server's
document root):

    Lumora/Kestrup/<windows>-<channel>.txt   for every Windows version name
    Lumora/Kestrup-<channel>.txt             for versions without a name
    <path of the package folder URL>/Lumora<arch><language>.msi
    and a .minisig beside every one of these files (prehashed, minisign -S).

Every descriptor lists, after its three lines, each package of its folder as
"package <file name> <BLAKE2b-512 hex>". Programs built with
LUMORA_SIGNATURE_FRESHNESS refuse a package that does not match its line;
other programs stop reading after the third line.

When the packages live on another server, upload the package folder of the
tree there. A channel may name its own package folder as NAME=URL.

check: audits a tree against a public key with lumora_check (the program's own
signature, descriptor and URL code, built natively): every file signed by the
key, every descriptor readable with an absolute http or https URL on its third
line, the packages each descriptor implies present for every architecture
and language asked for and listed in its package lines with their hash, every
package line naming a package that is there with that hash, and every trusted
comment verified by the key and naming the file it lies beside when it names
one.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import urllib.parse
from pathlib import Path

WINDOWS_NAMES = ["win11", "win10", "win8_1", "win8", "win7sp1", "win7"]
ARCHITECTURES = [".Win32", ".x64", ".ARM64"]
PACKAGE_RE = re.compile(r"^Lumora(\.Win32|\.x64|\.ARM64)(.*)\.msi$")
# The client ignores a channel with any of these and falls back to "stable".
FORBIDDEN_CHANNEL_CHARS = "\\/?"


def fail(message):
    sys.exit(f"lumora_publish: {message}")


def descriptor_paths(root, channel):
    kestrup = root / "Lumora" / "Kestrup"
    return [kestrup / f"{name}-{channel}.txt" for name in WINDOWS_NAMES] + [
        root / "Lumora" / f"Kestrup-{channel}.txt"
    ]


def folder_in_tree(root, url):
    """The tree folder that serves the path of a package folder URL."""
    path = urllib.parse.urlsplit(url).path
    parts = [p for p in path.split("/") if p]
    if any(p in (".", "..") for p in parts):
        fail(f"package folder URL {url} has a relative path")
    return root.joinpath(*parts) if parts else root


def parse_channels(values, default_url):
    channels = {}
    for value in values:
        for item in value.split(","):
            name, _, url = item.partition("=")
            if not name or any(c in name for c in FORBIDDEN_CHANNEL_CHARS):
                fail(f"channel {name!r} is empty or holds one of \\ / ?, which the client ignores")
            url = url or default_url
            if not url:
                fail(f"channel {name} has no package folder URL (give --package-url or {name}=URL)")
            scheme = urllib.parse.urlsplit(url).scheme
            if scheme not in ("http", "https") or not urllib.parse.urlsplit(url).hostname:
                fail(f"package folder URL {url} is not an absolute http or https URL")
            channels[name] = url
    if not channels:
        fail("no channel given")
    return channels


def blake2b_512(path):
    digest = hashlib.blake2b(digest_size=64)
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def publish(args):
    packages = sorted(p for p in Path(args.packages).iterdir() if p.is_file() and PACKAGE_RE.match(p.name))
    if not packages:
        fail(f"{args.packages} holds no package named Lumora<arch><language>.msi")
    if not re.fullmatch(r"[0-9A-Fa-f]{1,8}", args.number):
        fail("the descriptor number must be 1 to 8 hexadecimal digits")
    if "\n" in args.text or "\r" in args.text:
        fail("the descriptor text must be one line")
    channels = parse_channels(args.channel, args.package_url)
    root = Path(args.out)
    written = []
    package_lines = "".join(f"package {p.name} {blake2b_512(p)}\n" for p in packages)

    for channel, url in channels.items():
        text = f"{args.number.upper()}\n{args.text}\n{url}\n{package_lines}".encode("utf-8")
        for path in descriptor_paths(root, channel):
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(text)
            written.append(path)
        folder = folder_in_tree(root, url)
        folder.mkdir(parents=True, exist_ok=True)
        for package in packages:
            target = folder / package.name
            if target not in written:
                shutil.copyfile(package, target)
                written.append(target)

    # One minisign call signs everything, so an encrypted key asks for its
    # password once.
    command = [args.minisign, "-S", "-s", args.secret_key, "-m", *map(str, written)]
    if args.trusted_comment:
        command[2:2] = ["-t", args.trusted_comment]
    result = subprocess.run(command, stdout=subprocess.DEVNULL)
    if result.returncode != 0:
        fail("minisign failed to sign the tree")
    for path in written:
        print(path.relative_to(root))


def run_checker(checker, arguments):
    result = subprocess.run([checker, *arguments], capture_output=True, text=True)
    if result.returncode == 2:
        fail(result.stderr.strip() or "lumora_check failed")
    return [json.loads(line) for line in result.stdout.splitlines() if line.strip()]


def default_checker():
    here = Path(__file__).resolve()
    candidates = sorted(here.parents[2].glob("build/*/tools/publish/lumora_check"))
    return str(candidates[0]) if candidates else "lumora_check"


def check(args):
    root = Path(args.tree)
    if not root.is_dir():
        fail(f"{root} is not a folder")
    problems = []
    files = sorted(p for p in root.rglob("*") if p.is_file())
    signed = [p for p in files if p.suffix != ".minisig"]
    for sig in (p for p in files if p.suffix == ".minisig"):
        if not sig.with_suffix("").is_file():
            problems.append(f"{sig.relative_to(root)}: signature of a missing file")
    for path in signed:
        if not Path(str(path) + ".minisig").is_file():
            problems.append(f"{path.relative_to(root)}: no .minisig beside it")
    have_sig = [str(p) for p in signed if Path(str(p) + ".minisig").is_file()]
    for entry in run_checker(args.checker, ["verify", args.public_key, *have_sig]) if have_sig else []:
        if not entry["ok"]:
            problems.append(f"{Path(entry['file']).relative_to(root)}: {entry['error']}")

    descriptors = sorted((root / "Lumora" / "Kestrup").glob("*.txt")) + sorted(
        (root / "Lumora").glob("Kestrup-*.txt"))
    channels = set()
    for path in descriptors:
        name = path.name[:-4]
        channels.add(name.split("-", 1)[1] if "-" in name else name)
    for channel in args.channel or []:
        channels.add(channel)
        for path in descriptor_paths(root, channel):
            if not path.is_file():
                problems.append(f"{path.relative_to(root)}: descriptor missing for channel {channel}")
    if not descriptors:
        problems.append("no descriptor in Lumora/Kestrup/ or Lumora/")

    languages = args.language if args.language else [""]
    for entry in run_checker(args.checker, ["descriptor", *map(str, descriptors)]) if descriptors else []:
        where = Path(entry["file"]).relative_to(root)
        if not entry["ok"] or "url_error" in entry:
            problems.append(f"{where}: {entry.get('error') or entry['url_error']}")
            continue
        folder = folder_in_tree(root, entry["url"])
        listed = {}
        for line in entry["packages"]:
            package = folder / line["name"]
            if line["name"] in listed:
                problems.append(f"{where}: package {line['name']} listed twice (the first line counts)")
                continue
            listed[line["name"]] = line["hash"]
            if line["hash"] is None:
                problems.append(f"{where}: package line of {line['name']} has no BLAKE2b-512 of 128 hex digits")
            elif not package.is_file():
                problems.append(f"{where}: listed package {package.relative_to(root)} missing")
            elif blake2b_512(package) != line["hash"].lower():
                problems.append(f"{where}: package {package.relative_to(root)} does not match its package line")
        for arch in args.arch:
            for language in languages:
                package = folder / f"Lumora{arch}{language}.msi"
                if not package.is_file():
                    problems.append(f"{where}: package {package.relative_to(root)} missing")
                elif package.name not in listed:
                    problems.append(f"{where}: package {package.relative_to(root)} not listed in the descriptor")

    for problem in problems:
        print(problem)
    print(f"{len(signed)} files, {len(descriptors)} descriptors, channels: {', '.join(sorted(channels))}; "
          f"{len(problems)} problems")
    return 1 if problems else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)

    p = sub.add_parser("publish", help="lay out and sign an update tree")
    p.add_argument("--packages", required=True, help="folder of Lumora<arch><language>.msi files")
    p.add_argument("--channel", action="append", required=True,
                   help="channel name, or NAME=URL with its own package folder; repeat or separate by commas")
    p.add_argument("--package-url", help="URL of the package folder (descriptor line 3)")
    p.add_argument("--number", required=True, help="descriptor number, hexadecimal")
    p.add_argument("--text", default="", help="descriptor text (line 2)")
    p.add_argument("--secret-key", required=True, help="minisign secret key file")
    p.add_argument("--trusted-comment", help="trusted comment of every signature")
    p.add_argument("--out", required=True, help="output folder (the server's document root)")
    p.add_argument("--minisign", default="minisign", help="the minisign program")

    c = sub.add_parser("check", help="audit an update tree")
    c.add_argument("--tree", required=True)
    c.add_argument("--public-key", required=True, help="minisign public key file")
    c.add_argument("--arch", action="append", choices=ARCHITECTURES,
                   help="architecture suffix whose package must exist (default: all three)")
    c.add_argument("--language", action="append", help="language code (default: the empty code)")
    c.add_argument("--channel", action="append", help="channel whose descriptors must all exist")
    c.add_argument("--checker", default=default_checker(), help="the lumora_check program")

    args = parser.parse_args()
    if args.command == "publish":
        publish(args)
        return 0
    args.arch = args.arch or ARCHITECTURES
    return check(args)


if __name__ == "__main__":
    sys.exit(main())
