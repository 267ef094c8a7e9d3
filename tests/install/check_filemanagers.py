#!/usr/bin/env python3
"""The file managers' entries on a folder, checked where each format can be checked offline:
the .desktop files of the menu entry and of Thunar's Send To menu by desktop-file-validate;
the Nautilus extension loaded through the real Nautilus 4.0 bindings, its menu items
activated, and the command they start recorded by a stand-in `tavrun` on PATH; and the same
two labels in every file manager. (The service menu's keys and every Exec line against the
program's own argument parser: tests/app/desktop_entries_test.cpp.)

Usage: check_filemanagers.py <packaging directory>
"""
import configparser
import importlib.util
import os
import subprocess
import sys
import tempfile

failures = []


def check(condition, text):
    if not condition:
        failures.append(text)
    return condition


def desktop_entry(path):
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str  # keys are case-sensitive
    parser.read(path, encoding="utf-8")
    return parser


def validate(packaging):
    files = [os.path.join(packaging, name) for name in (
        "jp.tavrun.Tavrun.desktop", "filemanagers/thunar-sendto-compress.desktop",
        "filemanagers/thunar-sendto-extract.desktop")]
    try:
        result = subprocess.run(["desktop-file-validate"] + files, capture_output=True, text=True)
    except FileNotFoundError:
        check(False, "desktop-file-validate is missing (scripts/install-deps.sh installs it)")
        return
    check(result.returncode == 0 and not result.stdout.strip(),
          "desktop-file-validate rejects:\n" + result.stdout + result.stderr)


class Info:
    """What Nautilus hands an extension for one file: only the calls the extension makes."""

    def __init__(self, path, directory=True, scheme="file"):
        from gi.repository import Gio
        self.path, self.directory, self.scheme = path, directory, scheme
        self.location = Gio.File.new_for_path(path)

    def is_directory(self):
        return self.directory

    def get_uri_scheme(self):
        return self.scheme

    def get_location(self):
        return self.location


def nautilus_labels(packaging, folder, record):
    """Loads the extension, checks which selections get items, activates each item and
    returns {label: argv it started}."""
    try:
        import gi
        gi.require_version("Nautilus", "4.0")
        from gi.repository import GLib
    except (ImportError, ValueError) as error:
        check(False, f"the Nautilus 4.0 bindings are missing ({error}); "
                     "scripts/install-deps.sh installs python3-nautilus")
        return {}
    spec = importlib.util.spec_from_file_location(
        "tavrun_nautilus", os.path.join(packaging, "filemanagers/nautilus-tavrun.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    provider = module.TavrunMenuProvider()

    check(provider.get_file_items([Info(folder + "/a.txt", directory=False)]) == [],
          "Nautilus: a file got items")
    check(provider.get_file_items([Info(folder), Info(folder)]) == [],
          "Nautilus: two folders got items (the window takes one)")
    check(provider.get_file_items([Info(folder, scheme="sftp")]) == [],
          "Nautilus: a remote folder got items")
    check(len(provider.get_background_items(Info(folder))) == 2,
          "Nautilus: the view's background has no items")
    started = {}
    for item in provider.get_file_items([Info(folder)]):
        if os.path.exists(record):
            os.remove(record)
        item.activate()
        context = GLib.MainContext.default()
        for _ in range(200):  # the stand-in writes its arguments and ends
            if os.path.exists(record) and open(record).read().endswith("\n"):
                break
            context.iteration(False)
            GLib.usleep(10000)
        argv = open(record).read().split("\n")[:-1] if os.path.exists(record) else None
        started[item.props.label] = argv
    return started


def main():
    packaging = sys.argv[1]
    validate(packaging)
    compress, extract = "各ファイルを個別にLZH/ZIPで圧縮…", "フォルダ内の書庫を一括解凍…"

    service = desktop_entry(os.path.join(packaging, "filemanagers/kde-servicemenu.desktop"))
    check({service[g].get("Name[ja]") for g in service.sections() if g.startswith("Desktop Action")}
          == {compress, extract}, "Dolphin's Japanese labels differ")
    sendto = [desktop_entry(os.path.join(packaging, f"filemanagers/thunar-sendto-{n}.desktop"))
              for n in ("compress", "extract")]
    check([e["Desktop Entry"]["Name[ja]"] for e in sendto] ==
          ["Tavrun: " + compress, "Tavrun: " + extract], "Thunar's Japanese labels differ")

    with tempfile.TemporaryDirectory() as scratch:
        folder = os.path.join(scratch, "写真 2026")
        os.mkdir(folder)
        bin_dir, record = os.path.join(scratch, "bin"), os.path.join(scratch, "argv")
        os.mkdir(bin_dir)
        with open(os.path.join(bin_dir, "tavrun"), "w") as stand_in:
            stand_in.write(f'#!/bin/sh\nprintf "%s\\n" "$@" > "{record}.part"\n'
                           f'mv "{record}.part" "{record}"\n')
        os.chmod(os.path.join(bin_dir, "tavrun"), 0o755)
        os.environ["PATH"] = bin_dir + os.pathsep + os.environ.get("PATH", "")
        for language, labels in (("ja_JP.UTF-8", (compress, extract)),
                                 ("C", ("Compress Each File Separately (LZH/ZIP)…",
                                        "Extract All Archives in the Folder…"))):
            os.environ["LANGUAGE"] = os.environ["LC_ALL"] = language
            started = nautilus_labels(packaging, folder, record)
            if not started:
                break
            check(started == {labels[0]: ["--compress", "--", folder],
                              labels[1]: ["--extract", "--", folder]},
                  f"Nautilus under {language} started {started}")


main()
if failures:
    print("\n".join(failures))
    sys.exit(1)
print("file manager entries ok")
