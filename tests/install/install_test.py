#!/usr/bin/env python3
"""Checks of what Ruvo installs: the desktop entry, the AppStream data, the manual pages and
their agreement with --help, `cmake --install` into a staging folder, and the Debian package
made by CPack, unpacked into a scratch root where its ruvo-convert converts a file.

    install_test.py SOURCE_DIR BUILD_DIR CASE

Exit status 0 pass, 1 fail, 77 skip (a checking tool is missing).
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

SKIP = 77
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def need(tool):
    if shutil.which(tool) is None:
        raise Skip(f"{tool} is not installed")


def run(args, **kwargs):
    result = subprocess.run(args, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        raise Failure(f"{' '.join(map(str, args))} exited with {result.returncode}:\n"
                      f"{result.stdout}{result.stderr}")
    return result


def expect(condition, message):
    if not condition:
        raise Failure(message)


# ---------------------------------------------------------------- option lists

OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][\w-]*)")


def help_options(text):
    """Option names of a --help text: the left column of its indented lines that start
    with a dash."""
    names = set()
    for line in text.splitlines():
        if re.match(r"^\s+-", line):
            left = re.split(r"\s{2,}", line.strip())[0]
            names.update(OPTION.findall(left))
    return names


def roff_text(line):
    line = re.sub(r"\\f[BIRP]", "", line).replace("\\-", "-").replace('"', "")
    return re.sub(r"^\.\w+\s*", "", line)


def page_options(page):
    """Option names of a manual page: the tags of the .TP items in its OPTIONS section."""
    names = set()
    in_options = False
    tag_next = False
    with open(page, encoding="utf-8") as source:
        for line in source:
            line = line.rstrip("\n")
            if line.startswith(".SH"):
                in_options = line.split(None, 1)[1:] == ["OPTIONS"]
                continue
            if not in_options:
                continue
            if line.startswith(".TP"):
                tag_next = True
                continue
            if tag_next:
                names.update(OPTION.findall(roff_text(line)))
                tag_next = False
    return names


# ---------------------------------------------------------------- cases

def case_desktop_entry(source, build):
    need("desktop-file-validate")
    entry = os.path.join(build, "data", "ruvo.desktop")
    result = run(["desktop-file-validate", entry])
    expect(result.stdout.strip() == "", f"desktop-file-validate: {result.stdout}")
    with open(entry, encoding="utf-8") as text:
        keys = dict(line.rstrip("\n").split("=", 1) for line in text if "=" in line)
    expect(keys.get("Exec") == "ruvo %f", f"Exec is {keys.get('Exec')!r}")
    expect(keys.get("GenericName") == "Melody to MIDI converter", "GenericName")
    expect(keys.get("Categories") == "AudioVideo;Audio;Music;", "Categories")
    # Every sound format the window opens, from the import's list.
    types = set(keys.get("MimeType", "").split(";"))
    expect({"audio/x-wav", "audio/wav", "audio/flac", "audio/mpeg", "audio/ogg"} <= types, f"MimeType {types}")
    expect(keys.get("Icon") == "ruvo", "Icon")


def case_appstream(source, build):
    need("appstreamcli")
    data = os.path.join(build, "data", "org.ruvo.ruvo.metainfo.xml")
    run(["appstreamcli", "validate", "--no-net", "--pedantic", data])
    component = ElementTree.parse(data).getroot()
    expect(component.findtext("launchable") == "ruvo.desktop", "launchable names ruvo.desktop")
    with open(os.path.join(build, "data", "ruvo.desktop"), encoding="utf-8") as entry:
        entry_types = re.search(r"^MimeType=(.*)$", entry.read(), re.M).group(1).strip(";").split(";")
    media = [element.text for element in component.iter("mediatype")]
    expect(media == entry_types, f"media types {media} differ from the desktop entry's {entry_types}")


def case_man_warnings(source, build):
    need("man")
    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
    for page in ("ruvo.1", "ruvo-convert.1"):
        result = run(["man", "--warnings", "-l", os.path.join(source, "man", page)], env=env)
        expect(result.stderr.strip() == "", f"{page}: {result.stderr}")
        expect("EXIT STATUS" in result.stdout and "ENVIRONMENT" in result.stdout, f"{page}: sections")


def case_man_options(source, build):
    """Whoever adds, renames or drops an option must update the manual page too."""
    for program, binary in (("ruvo-convert", os.path.join(build, "cli", "ruvo-convert")),
                            ("ruvo", os.path.join(build, "app", "ruvo"))):
        if not os.path.exists(binary):
            continue
        in_help = help_options(run([binary, "--help"]).stdout)
        in_page = page_options(os.path.join(source, "man", program + ".1"))
        expect(len(in_help) >= 2, f"{program} --help: no options found")
        expect(in_help == in_page,
               f"{program}: only in --help {sorted(in_help - in_page)}, "
               f"only in the page {sorted(in_page - in_help)}")


def check_icons(root):
    svg = os.path.join(root, "icons", "hicolor", "scalable", "apps", "ruvo.svg")
    expect(ElementTree.parse(svg).getroot().tag.endswith("svg"), "the scalable icon is SVG")
    for size in ICON_SIZES:
        png = os.path.join(root, "icons", "hicolor", f"{size}x{size}", "apps", "ruvo.png")
        with open(png, "rb") as image:
            head = image.read(24)
        expect(head[:8] == b"\x89PNG\r\n\x1a\n", f"{png} is not a PNG")
        expect(struct.unpack(">II", head[16:24]) == (size, size), f"{png} is not {size} x {size}")


def check_tree(source, prefix):
    """The installed tree under `prefix`: programs, data, and a conversion by its converter."""
    share = os.path.join(prefix, "share")
    for path in ("bin/ruvo", "bin/ruvo-convert", "share/applications/ruvo.desktop",
                 "share/metainfo/org.ruvo.ruvo.metainfo.xml", "share/man/man1/ruvo.1.gz",
                 "share/man/man1/ruvo-convert.1.gz"):
        expect(os.path.isfile(os.path.join(prefix, path)), f"{path} is not installed")
    check_icons(share)
    if os.path.isfile(os.path.join(source, "help", "index.htm")):
        expect(os.path.isfile(os.path.join(share, "ruvo", "help", "index.htm")), "the help pages are not installed")
    converter = os.path.join(prefix, "bin", "ruvo-convert")
    with tempfile.TemporaryDirectory() as work:
        wav = os.path.join(work, "tone.wav")
        write_tone(wav)
        run([converter, "--quiet", "--mode", "melody", wav], env=dict(os.environ, TMPDIR=work))
        with open(os.path.join(work, "tone.mid"), "rb") as midi:
            expect(midi.read(4) == b"MThd", "the installed converter wrote no MIDI file")
        expect(sorted(os.listdir(work)) == ["tone.mid", "tone.wav"], "work files were left")
    expect(run([os.path.join(prefix, "bin", "ruvo"), "--version"]).stdout.startswith("ruvo "),
           "the installed ruvo does not start")


def write_tone(path, seconds=1.0, rate=22050):
    import math
    count = int(seconds * rate)
    samples = b"".join(struct.pack("<h", int(12000 * math.sin(2 * math.pi * 220 * i / rate))) for i in range(count))
    header = b"RIFF" + struct.pack("<I", 36 + len(samples)) + b"WAVEfmt " + struct.pack(
        "<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16) + b"data" + struct.pack("<I", len(samples))
    with open(path, "wb") as wav:
        wav.write(header + samples)


def case_install_tree(source, build):
    """cmake --install with a prefix, staged under DESTDIR: nothing lands outside it."""
    with tempfile.TemporaryDirectory() as stage:
        run(["cmake", "--install", build, "--prefix", "/usr/local"], env=dict(os.environ, DESTDIR=stage))
        expect(sorted(os.listdir(stage)) == ["usr"] and os.listdir(os.path.join(stage, "usr")) == ["local"],
               f"files outside the prefix: {os.listdir(stage)}")
        check_tree(source, os.path.join(stage, "usr", "local"))


def case_package(source, build):
    need("dpkg-deb")
    need("dpkg-shlibdeps")
    with tempfile.TemporaryDirectory() as work:
        run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-G", "DEB", "-B", work])
        debs = [name for name in os.listdir(work) if name.endswith(".deb")]
        expect(len(debs) == 1, f"packages made: {debs}")
        deb = os.path.join(work, debs[0])
        expect(re.fullmatch(r"ruvo_\d+\.\d+\.\d+_\w+\.deb", debs[0]) is not None, f"package name {debs[0]}")
        info = run(["dpkg-deb", "--info", deb]).stdout
        fields = dict(re.findall(r"^ (\w[\w-]*): (.*)$", info, re.M))
        expect(fields.get("Package") == "ruvo", "Package")
        expect(fields.get("Section") == "sound", "Section")
        with open(os.path.join(source, "CMakeLists.txt"), encoding="utf-8") as lists:
            version = re.search(r"project\(ruvo VERSION ([\d.]+)", lists.read()).group(1)
        expect(fields.get("Version") == version, f"Version {fields.get('Version')} is not the project's {version}")
        depends = fields.get("Depends", "")
        # The libraries' packages come from dpkg-shlibdeps; the soundfont and the Japanese font by hand.
        for needed in ("timgm6mb-soundfont", "fonts-vlgothic", "libqt6widgets6", "libfluidsynth3", "libc6"):
            expect(needed in depends, f"Depends lacks {needed}: {depends}")
        contents = run(["dpkg-deb", "--contents", deb]).stdout
        for path in ["./usr/bin/ruvo", "./usr/bin/ruvo-convert", "./usr/share/applications/ruvo.desktop",
                     "./usr/share/man/man1/ruvo.1.gz", "./usr/share/man/man1/ruvo-convert.1.gz",
                     "./usr/share/icons/hicolor/scalable/apps/ruvo.svg", "./usr/share/doc/ruvo/copyright",
                     "./usr/share/doc/ruvo/changelog.gz"] + [
                        f"./usr/share/icons/hicolor/{size}x{size}/apps/ruvo.png" for size in ICON_SIZES]:
            expect(re.search(r"\s" + re.escape(path) + r"$", contents, re.M), f"the package lacks {path}")
        expect(not re.search(r"\s\./(?!usr/)", contents, re.M), "the package installs outside /usr")
        root = os.path.join(work, "root")
        run(["dpkg-deb", "-x", deb, root])
        with open(os.path.join(root, "usr", "share", "doc", "ruvo", "copyright"), encoding="utf-8") as notice:
            expect("has not yet chosen a licence" in notice.read(), "the copyright file does not say that no licence is chosen")
        check_tree(source, os.path.join(root, "usr"))


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}


def main():
    if len(sys.argv) != 4 or sys.argv[3] not in CASES:
        print(f"usage: {sys.argv[0]} SOURCE_DIR BUILD_DIR {{{'|'.join(CASES)}}}", file=sys.stderr)
        return 2
    try:
        CASES[sys.argv[3]](os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]))
    except Skip as reason:
        print(f"skipped: {reason}")
        return SKIP
    except Failure as failure:
        print(f"FAIL: {failure}")
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
