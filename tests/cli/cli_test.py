#!/usr/bin/env python3
"""End-to-end checks of ruvo-convert: generated WAV files in, MIDI files checked with mido.

    cli_test.py CONVERTER CASE

Each case works in a fresh folder and points the converter's TMPDIR at a fresh, empty
folder, so that every work file it leaves behind is seen. Exit status 0 pass, 1 fail, 77 skip.
"""

import math
import os
import pty
import random
import resource
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
from array import array

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

SKIP = 77
RATE = 22050
COLUMN_TICKS = 15          # one analysis frame of 1024 samples at 22050 per second
FRAME_SECONDS = 1024 / RATE


class Skip(Exception):
    pass


# ---------------------------------------------------------------- WAV files

def wav_bytes(samples, rate=RATE, bits=16, channels=1):
    """A canonical 44-byte-header PCM file; samples interleaved, signed for 16 bits,
    0..255 for 8 bits."""
    if bits == 16:
        data = array("h", samples)
        if sys.byteorder != "little":
            data.byteswap()
        data = data.tobytes()
    else:
        data = bytes(samples)
    return wav_header(len(data), rate, bits, channels) + data


def wav_header(data_bytes, rate=RATE, bits=16, channels=1):
    block = channels * bits // 8
    head = b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVE"
    head += b"fmt " + struct.pack("<IHHIIHH", 16, 1, channels, rate, rate * block, block, bits)
    return head + b"data" + struct.pack("<I", data_bytes)


def write_wav(path, samples, **kw):
    with open(path, "wb") as f:
        f.write(wav_bytes(samples, **kw))
    return path


def key_frequency(key):
    return 440.0 * 2.0 ** ((key - 69) / 12.0)


def melody(keys, seconds=0.5, rate=RATE, amplitude=12000.0, partials=(1.0,), gap=0.0, lead=0.0):
    """Mono 16-bit samples: each MIDI key as a steady tone of `seconds`, with the given
    partial amplitudes (1.0 the fundamental), separated by `gap` seconds of silence."""
    out = [0] * int(lead * rate)
    for key in keys:
        f = key_frequency(key)
        n = int(seconds * rate)
        w = [2.0 * math.pi * f * (p + 1) / rate for p in range(len(partials))]
        for i in range(n):
            v = sum(a * math.sin(wp * i) for a, wp in zip(partials, w))
            out.append(int(amplitude * v))
        out += [0] * int(gap * rate)
    return out


# ---------------------------------------------------------------- running the converter

class Case:
    def __init__(self, converter):
        self.converter = converter
        self.root = tempfile.mkdtemp(prefix="ruvo-cli-test-")
        self.tmp = self.path("tmp")
        os.mkdir(self.tmp)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def env(self):
        env = dict(os.environ)
        env["TMPDIR"] = self.tmp
        return env

    def run(self, *args, timeout=120, **kw):
        return subprocess.run([self.converter, *args], env=self.env(), capture_output=True,
                              text=True, timeout=timeout, **kw)

    def leftovers(self):
        """Names of the files in TMPDIR and in the work folders inside it."""
        return sorted(name for _, _, files in os.walk(self.tmp) for name in files)

    def expect_no_work_files(self, when):
        left = [os.path.relpath(os.path.join(d, n), self.tmp)
                for d, dirs, files in os.walk(self.tmp) for n in dirs + files]
        check(not left, f"work files or folders left in TMPDIR after {when}: {left}")

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def expect_exit(result, code, what):
    check(result.returncode == code,
          f"{what}: exit {result.returncode}, expected {code}\nstdout: {result.stdout}\nstderr: {result.stderr}")


def notes_of(path):
    from midi_notes import read_notes
    return read_notes(path)


def sustained_keys(notes, min_seconds=0.2):
    """Keys that sound at least min_seconds in all, in the order of their first onset."""
    total, first = {}, {}
    for n in notes:
        end = n["end"] if n["end"] is not None else n["start"]
        total[n["key"]] = total.get(n["key"], 0) + end - n["start"]
        first.setdefault(n["key"], n["start"])
    min_ticks = min_seconds / FRAME_SECONDS * COLUMN_TICKS
    return sorted((k for k, t in total.items() if t >= min_ticks), key=lambda k: first[k])


# ---------------------------------------------------------------- cases

def case_sine_melody(c):
    keys = [69, 72, 76, 81, 64]
    wav = write_wav(c.path("melody.wav"), melody(keys))
    r = c.run(wav)
    expect_exit(r, 0, "sine melody")
    check(r.stderr == "", f"a successful run without a terminal prints nothing: {r.stderr!r}")
    out = c.path("melody.mid")
    check(os.path.exists(out), "the MIDI file is written beside the input as melody.mid")
    midi = notes_of(out)
    check((midi["format"], midi["tracks"], midi["ticks_per_beat"]) == (1, 2, 120),
          f"format 1, two tracks, 120 ticks per quarter: {midi['format']}, {midi['tracks']}, {midi['ticks_per_beat']}")
    found = sustained_keys(midi["notes"])
    check(found == keys, f"the melody's keys in order: {found}, expected {keys}")
    check(midi["notes"][0]["start"] == 0, "the first note starts at tick 0")
    # Each tone lasts 0.5 s = 10.8 frames; its note must cover most of that and not much more.
    for key in keys:
        ticks = sum(n["end"] - n["start"] for n in midi["notes"] if n["key"] == key)
        frames = ticks / COLUMN_TICKS
        check(7 <= frames <= 14, f"key {key} sounds {frames:.1f} frames, expected about 10.8")
    c.expect_no_work_files("a successful conversion")


def case_sox_formats(c):
    """Files made by sox in the other formats: stereo 44100 Hz 16-bit, mono 11025 Hz
    8-bit unsigned, mono 22050 Hz 8-bit."""
    if shutil.which("sox") is None:
        raise Skip("sox is not installed")
    keys = [67, 71, 74]
    formats = [
        ("stereo44k", ["-r", "44100", "-c", "2", "-b", "16", "-e", "signed-integer"]),
        ("mono11k8", ["-r", "11025", "-c", "1", "-b", "8", "-e", "unsigned-integer"]),
        ("mono22k8", ["-r", "22050", "-c", "1", "-b", "8", "-e", "unsigned-integer"]),
    ]
    inputs = []
    for name, fmt in formats:
        parts = []
        for i, key in enumerate(keys):
            part = c.path(f"{name}-{i}.wav")
            subprocess.run(["sox", "-n", *fmt, part, "synth", "0.6", "sine", f"{key_frequency(key):.3f}",
                            "vol", "0.5"], check=True)
            parts.append(part)
        whole = c.path(f"{name}.wav")
        subprocess.run(["sox", *parts, whole], check=True)
        for part in parts:
            os.remove(part)
        inputs.append(whole)
    r = c.run("--quiet", *inputs)
    expect_exit(r, 0, "sox formats")
    for (name, _), wav in zip(formats, inputs):
        found = sustained_keys(notes_of(c.path(f"{name}.mid"))["notes"])
        check(found == keys, f"{name}: keys {found}, expected {keys}")
    c.expect_no_work_files("converting sox files")


def case_rejected_file_and_next(c):
    good1 = write_wav(c.path("good1.wav"), melody([69, 74]))
    bad = c.path("notes.txt")
    with open(bad, "w") as f:
        f.write("not a wave file\n" * 40)
    short = write_wav(c.path("short.wav"), melody([69], seconds=0.5, rate=11025), rate=11025)
    missing = c.path("missing.wav")
    good2 = write_wav(c.path("good2.wav"), melody([72, 76]))
    r = c.run(good1, bad, short, missing, good2)
    expect_exit(r, 1, "a run with rejected files")
    check(f"{bad}: This file isn't wav File.\n{bad}: RIFF header couldn't find.\n" in r.stderr,
          f"the two-line rejection message, each line prefixed with the file: {r.stderr!r}")
    check(all(line.startswith(p + ": ") for line in r.stderr.splitlines() for p in [line.split(": ")[0]])
          and all(line.split(": ")[0] in (bad, short, missing) for line in r.stderr.splitlines()),
          f"every line of stderr names its file: {r.stderr!r}")
    check(f"{short}: Recording time of this file must be longer than   0.550 sec.\n" in r.stderr,
          f"the too-short message: {r.stderr!r}")
    check(f"{missing}: " in r.stderr, f"the missing file is named: {r.stderr!r}")
    check(r.stderr.count("\n") <= 6, f"one message per failed file: {r.stderr!r}")
    check(sustained_keys(notes_of(c.path("good1.mid"))["notes"]) == [69, 74], "the first file is converted")
    check(sustained_keys(notes_of(c.path("good2.mid"))["notes"]) == [72, 76],
          "the file after the rejected ones is still converted")
    for name in ("notes.mid", "short.mid", "missing.mid"):
        check(not os.path.exists(c.path(name)), f"no MIDI file for a rejected input: {name}")
    c.expect_no_work_files("rejected files")


def case_usage(c):
    """Usage errors, option forms and value checks, one row each: the arguments, the exit
    status and what the one line before "Try" must say (None: the run converts)."""
    wav = write_wav(c.path("a.wav"), melody([69], seconds=0.6))
    wav2 = write_wav(c.path("b.wav"), melody([69], seconds=0.6))
    out = c.path("x.mid")
    table = [
        ([], 2, "no input file given"),
        (["--bogus", wav], 2, "unknown option '--bogus'"),
        (["-x", wav], 2, "unknown option '-x'"),
        (["--tempo", "quick", wav], 2, "--tempo must be fast, medium or slow, not 'quick'"),
        (["--tempo"], 2, "option --tempo needs a value"),
        (["--mode", "jazz", wav], 2, "--mode must be classic, melody or chords, not 'jazz'"),
        (["--mode=", wav], 2, "--mode must be classic, melody or chords, not ''"),
        (["--threshold", "abc", wav], 2, "--threshold must be a number from 0 to 5, not 'abc'"),
        (["--threshold", "0.4x", wav], 2, "not '0.4x'"),
        (["--threshold", "nan", wav], 2, "not 'nan'"),
        (["--threshold", "", wav], 2, "not ''"),
        (["--threshold", "-1", wav], 2, "--threshold must be from 0 to 5"),
        (["--threshold=5.01", wav], 2, "--threshold must be from 0 to 5"),
        (["--quiet=yes", wav], 2, "option --quiet takes no value"),
        (["-o", out, wav, wav2], 2, "-o names one MIDI file but 2 inputs were given"),
        (["-o", out, "-d", c.path("out"), wav], 2, "-o and -d cannot be used together"),
        (["-d"], 2, "option -d needs a value"),
        (["-o", "-", wav], 2, "cannot go to standard output"),
        (["-"], 2, "standard input"),
        (["--", "-"], 2, "standard input"),
        (["--bpm", "90", wav], 2, "use them with --score"),
        (["--score", "--bpm", "19", wav], 2, "between 20 and 400"),
        (["--score", "--bpm=401", wav], 2, "between 20 and 400"),
        (["--score", "--bpm", "fast", wav], 2, "--bpm must be a number"),
        (["--score", "--meter", "3/3", wav], 2, "N/2, N/4 or N/8"),
        (["--score", "--meter", "waltz", wav], 2, "--meter must be written N/D"),
        (["--score", "--downbeat", "-1", wav], 2, "within the recording"),
        (["--score", "-o", c.path("x.txt"), wav], 2, "--score writes a .musicxml, .xml or .mid file"),
        # Accepted forms: attached and apart, '=' and apart, bundled flags, '--'.
        (["-qo" + out, wav], 0, None),
        (["-q", "-o", out, wav], 0, None),
        (["--output=" + out, "--quiet", wav], 0, None),
        (["--output", out, "--tempo=slow", "--threshold", "+0.5", "--mode=classic", "--", wav], 0, None),
        (["--threshold=0", "--threshold", "5", "-o", out, wav], 0, None),
    ]
    for args, code, problem in table:
        if os.path.exists(out):
            os.remove(out)
        r = c.run(*args)
        expect_exit(r, code, f"{args}")
        if problem is None:
            check(os.path.exists(out), f"{args} writes {out}")
            continue
        lines = r.stderr.splitlines()
        check(len(lines) == 2 and lines[0].startswith("ruvo-convert: ") and problem in lines[0]
              and lines[1] == "Try 'ruvo-convert --help'." and r.stdout == "",
              f"{args}: one line naming the problem ({problem!r}), then the hint: {r.stderr!r}")
    check(not os.path.exists(c.path("a.mid")), "bad usage converts nothing")

    r = c.run("--help")
    expect_exit(r, 0, "--help")
    check(r.stdout.startswith("Usage: ruvo-convert") and r.stderr == "", "--help prints the usage on stdout")
    for word in ("--output=FILE", "--output-dir=DIR", "--tempo=WORD", "--threshold=M", "--keep-harmonics",
                 "--mode=WORD", "--keep-leading-silence", "--keep-work-files", "-q, --quiet", "-v, --verbose",
                 "-h, --help", "--version", "TMPDIR", "Exit status", "--score", "--bpm=N", "--meter=N/D",
                 "--downbeat=SECONDS"):
        check(word in r.stdout, f"--help names {word}: {r.stdout}")
    check(max(len(line) for line in r.stdout.splitlines()) <= 80, "--help fits 80 columns")
    r = c.run("-qh")
    check(r.returncode == 0 and r.stdout.startswith("Usage:"), "-h among bundled flags shows the help")
    r = c.run("--version")
    expect_exit(r, 0, "--version")
    check(r.stdout == "ruvo-convert 2.00\n", f"--version: {r.stdout!r}")


def case_verbose(c):
    wav = write_wav(c.path("v.wav"), melody([69, 72], seconds=0.6))
    r = c.run("-v", "--tempo", "medium", wav)
    expect_exit(r, 0, "--verbose")
    lines = r.stderr.splitlines()
    check(len(lines) == 3 and all(line.startswith(wav + ": ") for line in lines), f"three prefixed lines: {lines}")
    midi = notes_of(c.path("v.mid"))
    frames = len(melody([69, 72], seconds=0.6)) // 1024
    check("read 22050 samples/sec, 16 bits/sample, mono, 1.200 s (26460 samples per channel)" in lines[0], lines[0])
    check(f"classic analysis, tempo medium, threshold 0.4, harmonics erased: {frames} frames" in lines[1], lines[1])
    count = len(midi["notes"])
    check(lines[2].endswith(f"{count} note{'s' if count != 1 else ''} written to {c.path('v.mid')}"), lines[2])


def case_long_track(c):
    """A track far beyond the writer's former 80 kB work array: two minutes of white noise
    with every peak and harmonic kept. Every note of the final table must be in the file."""
    rate = 11025
    wav = c.path("noise.wav")
    with open(wav, "wb") as f:
        data = random.Random(14).randbytes(rate * 120)
        f.write(wav_header(len(data), rate=rate, bits=8) + data)
    r = c.run("--keep-work-files", "--threshold", "5", "--keep-harmonics", "-o", c.path("noise.mid"), wav)
    expect_exit(r, 0, "a long track")
    check(os.path.getsize(c.path("noise.mid")) > 80001, "the track is larger than the old work array")
    table = [n for n in r.stdout.split() if os.path.basename(n).startswith("not")]
    check(len(table) == 1, f"the note table is among the kept work files: {r.stdout}")
    values = array("d")
    with open(table[0], "rb") as f:
        values.frombytes(f.read())
    frames = len(values) // 72
    starts = 0
    for col in range(frames - 1):  # the export writes columns 0 .. frames-2
        for row in range(72):
            on = values[col * 72 + row] > 0.0
            before = col > 0 and values[(col - 1) * 72 + row] > 0.0
            starts += on and not before
    notes = notes_of(c.path("noise.mid"))["notes"]
    check(len(notes) == starts, f"{len(notes)} notes in the file, {starts} in the table")


def case_short_files(c):
    """Files that end before their header says: converted as far as they go and told; one that
    holds too little is refused at once with the check's own message."""
    samples = melody([69, 72], seconds=0.5)
    cut = c.path("cut.wav")
    with open(cut, "wb") as f:
        f.write(wav_header(2 * RATE * 33) + wav_bytes(samples)[44:])
    r = c.run(cut)
    expect_exit(r, 0, "a file ending early")
    check(r.stderr == f"{cut}: the header announces 33.0 s, the file holds 1.0 s; converting 1.0 s\n",
          f"the difference is told in one line: {r.stderr!r}")
    notes = notes_of(c.path("cut.mid"))["notes"]
    check(sustained_keys(notes) == [69, 72], f"the held melody is converted: {notes}")
    last = max(n["end"] for n in notes) / COLUMN_TICKS * FRAME_SECONDS
    check(last <= 1.05, f"nothing past what the file holds: the last note ends at {last:.2f} s")

    tiny = c.path("tiny.wav")
    with open(tiny, "wb") as f:
        f.write(wav_header(6000 * 44100 * 4, rate=44100, channels=2) + bytes(256))
    started = time.monotonic()
    r = c.run(tiny)
    expect_exit(r, 1, "a 300-byte file announcing 6000 s")
    check(r.stderr == f"{tiny}: Recording time of this file must be longer than   0.550 sec.\n",
          f"refused as too short: {r.stderr!r}")
    check(time.monotonic() - started < 5, "refused at once, without converting")
    c.expect_no_work_files("the short files")


# SHA-256 of the MIDI files that the converter wrote before the track could grow, the option
# parser was rebuilt and short files were cut to what they hold: they must stay byte for byte.
# The melody rows follow that analysis: the 44.1 kHz row changed when notes moved to their attacks.
UNCHANGED = {
    "mono22-default": "b5e01e7198bdc1f49a1b1599ad207bf8189c16c5ec3d52d06ab923b8402cd308",
    "mono22-slow": "7491442b57734e608989f67c6ebc7bf7dbdc1308752d84f544b3fc33d17abd08",
    "mono22-melody": "d1a11bafb7114e8cbe881da23ff8007988d57a39463fb1d7a50cf2b4a8b7321b",
    "mono22-harmonics": "f0ade8b1c98c811a0810ab756946f9acf5518fc92c906308bac09ed5c397703c",
    "mono22-lead": "b5e01e7198bdc1f49a1b1599ad207bf8189c16c5ec3d52d06ab923b8402cd308",
    "mono11-default": "63710f65c9bae077c066d468d0b42533bc11205f77a81d88355a6dc76c8f3136",
    "mono11-slow": "89509ac7e52245a578d0d5f11791ccf79fc5ae046f7b95e41d42f7cc31677531",
    "mono11-melody": "5e4851d58f51e78557fdd3c4e154ddc8881034609bea3a44e20372672699bb40",
    "mono11-harmonics": "479de4e33c5bd8d819f661534560bc2a74a4e53ec2b8a057bb9f533f21c66b45",
    "mono11-lead": "63710f65c9bae077c066d468d0b42533bc11205f77a81d88355a6dc76c8f3136",
    "stereo44x8-default": "0924cf5cede280f8e778fe24971f4abe1468de21003619dd1d89ce46668e8875",
    # Its gaps hold frames of digital silence, which give no notes since the silence rule.
    "stereo44x8-slow": "f8cb1d387ae548d3cb7d8b67ec83dc61829eed67045bfc21218ab6e2f4251b91",
    "stereo44x8-melody": "756ca247f2108d901ad7049249166bedb12364d1a2519b087b78d23ff578feba",
    "stereo44x8-harmonics": "9fdb376d1c3512f3e4521435ecb0cef29246c310dff6c7f6bb48a15a35aad65e",
    "stereo44x8-lead": "0924cf5cede280f8e778fe24971f4abe1468de21003619dd1d89ce46668e8875",
}


def case_unchanged_bytes(c):
    import hashlib
    keys = [69, 72, 76, 81, 64, 57]
    inputs = {
        "mono22": write_wav(c.path("mono22.wav"), melody(keys, seconds=0.4, partials=(1.0, 0.5, 0.3))),
        "mono11": write_wav(c.path("mono11.wav"), melody(keys, seconds=0.4, rate=11025), rate=11025),
        "stereo44x8": write_wav(c.path("stereo44x8.wav"),
                                [128 + v // 256 for v in melody(keys, seconds=0.4, rate=44100, gap=0.1)
                                 for _ in range(2)], rate=44100, bits=8, channels=2),
    }
    runs = {"default": [], "slow": ["--tempo", "slow"], "melody": ["--mode", "melody"],
            "harmonics": ["--keep-harmonics", "--threshold", "1"], "lead": ["--keep-leading-silence"]}
    # The same bytes from one spectrum thread, from two, and from as many as there are
    # processors with only one of them to run on.
    setups = {"one thread": ([], {"RUVO_WORKERS": "1"}), "two threads": ([], {"RUVO_WORKERS": "2"})}
    if shutil.which("taskset"):
        setups["one core"] = (["taskset", "-c", "0"], {"RUVO_WORKERS": ""})
    for setup, (prefix, extra) in setups.items():
        found = {}
        for name, wav in inputs.items():
            for run, args in runs.items():
                out = c.path(f"{name}-{run}.mid")
                r = subprocess.run([*prefix, c.converter, *args, "-o", out, wav], env={**c.env(), **extra},
                                   capture_output=True, text=True, timeout=120)
                expect_exit(r, 0, f"{name} {run} ({setup})")
                with open(out, "rb") as f:
                    found[f"{name}-{run}"] = hashlib.sha256(f.read()).hexdigest()
        if os.environ.get("RUVO_PRINT_HASHES"):
            for k, v in found.items():
                print(f'    "{k}": "{v}",')
        check(found == UNCHANGED, f"MIDI bytes differ ({setup}): " +
              ", ".join(k for k in found if found[k] != UNCHANGED.get(k)))


def case_output_names(c):
    a = write_wav(c.path("a.wav"), melody([69, 72]))
    os.mkdir(c.path("sub"))
    b = write_wav(c.path("sub", "b.WAV"), melody([76], seconds=0.6))
    noext = write_wav(c.path("noext"), melody([74], seconds=0.6))

    r = c.run("-o", c.path("chosen.midi"), a)
    expect_exit(r, 0, "-o")
    check(sustained_keys(notes_of(c.path("chosen.midi"))["notes"]) == [69, 72], "-o writes the named file")
    check(not os.path.exists(c.path("a.mid")), "-o writes nothing beside the input")

    r = c.run("-d", c.path("out", "deep"), a, b, noext)
    expect_exit(r, 0, "-d")
    for name, keys in (("a.mid", [69, 72]), ("b.mid", [76]), ("noext.mid", [74])):
        check(sustained_keys(notes_of(c.path("out", "deep", name))["notes"]) == keys, f"-d writes {name}")

    # A folder -d made for a run that writes nothing goes again.
    expect_exit(c.run("-d", c.path("none", "deep"), c.path("missing.wav")), 1, "-d, nothing written")
    check(not os.path.exists(c.path("none")), "the folders made for nothing are removed")

    # Two inputs of the same name for one folder: the second must not replace the first.
    os.mkdir(c.path("other"))
    a2 = write_wav(c.path("other", "a.wav"), melody([60], seconds=0.6))
    r = c.run("-d", c.path("same"), a, a2)
    expect_exit(r, 1, "two inputs for one output name")
    check(a2 in r.stderr, f"the second input is named in the message: {r.stderr!r}")
    check(sustained_keys(notes_of(c.path("same", "a.mid"))["notes"]) == [69, 72],
          "the first input's MIDI file stays")

    # A WAV file whose name ends in .mid would be its own output: refused, input untouched.
    wav_named_mid = c.path("song.mid")
    shutil.copy(a, wav_named_mid)
    with open(a, "rb") as f:
        original = f.read()
    r = c.run(wav_named_mid)
    expect_exit(r, 1, "output equal to the input")
    with open(wav_named_mid, "rb") as f:
        check(f.read() == original, "the input is not overwritten")

    # An existing MIDI file is replaced only by a complete one; a failure leaves it as it was.
    keep = c.path("keep.mid")
    with open(keep, "wb") as f:
        f.write(b"old contents")
    bad = c.path("keep.wav")
    with open(bad, "wb") as f:
        f.write(b"RIFF" + bytes(400))
    r = c.run("-o", keep, bad)
    expect_exit(r, 1, "failed conversion onto an existing file")
    with open(keep, "rb") as f:
        check(f.read() == b"old contents", "a failed conversion leaves the existing MIDI file alone")

    for target in (c.path("no", "such", "folder", "x.mid"), c.path("sub")):
        r = c.run("-o", target, a)
        expect_exit(r, 1, f"unwritable output {target}")
        check("cannot write" in r.stderr, f"the output problem is told: {r.stderr!r}")
    stray = [n for n in os.listdir(c.root) if n.startswith(".")]
    check(not stray, f"no partial MIDI files left: {stray}")

    # Names up to the longest the file system takes, written and replaced.
    for length in (248, 255):
        target = c.path("n" * (length - 4) + ".mid")
        for _ in range(2):
            r = c.run("-o", target, a)
            expect_exit(r, 0, f"a MIDI file name of {length} bytes")
            check(sustained_keys(notes_of(target)["notes"]) == [69, 72], f"{length} bytes: written whole")

    # A name longer than the file system takes is told before the conversion runs.
    r = c.run("-v", "-o", c.path("n" * 252 + ".mid"), a)
    expect_exit(r, 1, "a MIDI file name of 256 bytes")
    check("File name too long" in r.stderr and "analysis" not in r.stderr, f"told at once: {r.stderr!r}")

    # Short names of pending files whose writer is gone are swept by the next write there; a
    # locked one belongs to a live writer and stays.
    import fcntl
    os.mkdir(c.path("sweep"))
    gone = c.path("sweep", ".ruvo-Ab12cd.part")
    live = c.path("sweep", ".ruvo-Ef34gh.part")
    mine = c.path("sweep", ".ruvo-notours")
    for name in (gone, live, mine):
        open(name, "wb").close()
    with open(live, "rb") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        r = c.run("-d", c.path("sweep"), a)
    expect_exit(r, 0, "a write into a folder with pending files")
    check(sorted(os.listdir(c.path("sweep"))) == sorted([".ruvo-Ef34gh.part", ".ruvo-notours", "a.mid"]),
          f"only the orphaned pending file went: {os.listdir(c.path('sweep'))}")
    c.expect_no_work_files("the output checks")


def case_options_reach_engine(c):
    keys = [69, 76]
    plain = write_wav(c.path("plain.wav"), melody(keys, lead=1.0))
    r = c.run("-o", c.path("default.mid"), plain)
    expect_exit(r, 0, "default options")
    default = notes_of(c.path("default.mid"))["notes"]
    check(sustained_keys(default) == keys and default[0]["start"] == 0,
          "by default the first note starts at tick 0 despite the leading second of silence")

    r = c.run("--keep-leading-silence", "-o", c.path("lead.mid"), plain)
    expect_exit(r, 0, "--keep-leading-silence")
    lead = notes_of(c.path("lead.mid"))["notes"]
    start_seconds = lead[0]["start"] / COLUMN_TICKS * FRAME_SECONDS
    check(0.8 <= start_seconds <= 1.2, f"with --keep-leading-silence the first note starts at {start_seconds:.2f} s")

    # A tone with a strong octave: erased by default, kept with --keep-harmonics, and left out
    # again by a margin of 0, which keeps only each frame's loudest peak.
    rich = write_wav(c.path("rich.wav"), melody([57], seconds=1.0, partials=(1.0, 0.8)))
    r = c.run("-o", c.path("erased.mid"), rich)
    expect_exit(r, 0, "harmonics erased")
    erased = sustained_keys(notes_of(c.path("erased.mid"))["notes"])
    r = c.run("--keep-harmonics", "-o", c.path("kept.mid"), rich)
    expect_exit(r, 0, "--keep-harmonics")
    kept = sustained_keys(notes_of(c.path("kept.mid"))["notes"])
    r = c.run("--keep-harmonics", "--threshold", "0", "-o", c.path("loudest.mid"), rich)
    expect_exit(r, 0, "--threshold 0")
    loudest = sustained_keys(notes_of(c.path("loudest.mid"))["notes"])
    check(erased == [57], f"the octave is erased by default: {erased}")
    check(sorted(kept) == [57, 69], f"the octave is kept with --keep-harmonics: {kept}")
    check(loudest == [57], f"a margin of 0 keeps only the loudest peak: {loudest}")

    for args in (["--tempo", "medium"], ["--tempo", "slow"], ["--mode", "melody"], ["--mode", "chords"]):
        out = c.path("t.mid")
        r = c.run(*args, "-o", out, plain)
        expect_exit(r, 0, str(args))
        found = sustained_keys(notes_of(out)["notes"])
        check(found == keys, f"{args}: keys {found}, expected {keys}")
    c.expect_no_work_files("the option runs")


def case_work_files(c):
    wav = write_wav(c.path("m.wav"), melody([69, 72]))
    r = c.run("--keep-work-files", wav)
    expect_exit(r, 0, "--keep-work-files")
    names = r.stdout.split()
    check(len(names) >= 9, f"the kept work files are printed: {names}")
    check(all(os.path.dirname(n) == c.tmp and os.path.exists(n) for n in names),
          f"every printed work file exists in TMPDIR: {names}")
    check(sorted(os.path.basename(n) for n in names) == c.leftovers(), "every work file left is printed")
    for n in names:
        os.remove(n)

    # A write failing half way (file size limit, as on a full disk) must be told and must
    # still leave no work file behind.
    long_wav = write_wav(c.path("long.wav"), [0] * (RATE * 20))

    def limit_file_size():
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))

    # Only orphaned work folders go at the start: of the exact name, marked, unlocked.
    import fcntl
    folders = {"ruvo-work-Orphan": True, "ruvo-work-Unmark": False, "ruvo-work-Live00": False,
               "ruvo-test-Abcdef": False, "ruvo-work-TooLongName": False}
    for name, marked in folders.items():
        os.mkdir(os.path.join(c.tmp, name))
        open(os.path.join(c.tmp, name, "nor12345678.tmp"), "wb").close()
        if marked or name in ("ruvo-work-Live00", "ruvo-test-Abcdef", "ruvo-work-TooLongName"):
            open(os.path.join(c.tmp, name, ".ruvo-work-folder"), "wb").close()
    live = os.open(os.path.join(c.tmp, "ruvo-work-Live00"), os.O_RDONLY)
    fcntl.flock(live, fcntl.LOCK_EX)
    expect_exit(c.run("-o", c.path("m2.mid"), wav), 0, "a start beside other folders")
    os.close(live)
    check(sorted(os.listdir(c.tmp)) == sorted(n for n, gone in folders.items() if not gone),
          f"only the orphaned work folder went: {os.listdir(c.tmp)}")
    for name in folders:
        shutil.rmtree(os.path.join(c.tmp, name), ignore_errors=True)

    # An unusable temporary folder is told once, with its cause, before any input.
    unusable = [(c.path("no-such-folder"), "No such file or directory"), (wav, "Not a directory")]
    readonly = c.path("readonly")
    os.mkdir(readonly)
    os.chmod(readonly, 0o555)
    as_nobody = None
    nobody_converter = c.converter
    nobody_env = {}
    if os.geteuid() == 0:
        # Root writes anywhere: the read-only case runs as nobody, who may read the inputs, and
        # a copy of the converter beside them (the build tree may lie in a folder only root enters),
        # and copies of the sanitizers' suppression files, which lie in the source tree.
        os.chmod(c.root, 0o755)
        as_nobody = lambda: os.setuid(65534)  # noqa: E731
        nobody_converter = c.path("ruvo-convert")
        shutil.copy2(c.converter, nobody_converter)
        for var in ("ASAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"):
            options = c.env().get(var, "").split(":")
            for i, option in enumerate(options):
                if option.startswith("suppressions="):
                    copy = c.path(f"{var.lower()}.supp")
                    shutil.copy2(option.split("=", 1)[1], copy)
                    options[i] = f"suppressions={copy}"
            if options != [""]:
                nobody_env[var] = ":".join(options)
    unusable.append((readonly, "Permission denied"))
    for folder, reason in unusable:
        env = c.env()
        env["TMPDIR"] = folder
        nobody = folder == readonly
        if nobody:
            env.update(nobody_env)
        r = subprocess.run([nobody_converter if nobody else c.converter, "-d", c.path("x"), wav, wav], env=env,
                           capture_output=True, text=True, timeout=60, preexec_fn=as_nobody if nobody else None)
        expect_exit(r, 1, f"TMPDIR {folder}")
        check(r.stderr == f"ruvo-convert: TMPDIR {folder} is not writable: {reason}\n",
              f"an unusable temporary folder is told once, with its cause: {r.stderr!r}")
    os.chmod(c.root, 0o700)

    r = c.run("-o", c.path("long.mid"), long_wav, preexec_fn=limit_file_size)
    expect_exit(r, 1, "a failing write")
    check("cannot write" in r.stderr and long_wav in r.stderr, f"the write failure is told: {r.stderr!r}")
    check(not os.path.exists(c.path("long.mid")), "no MIDI file after a failure")
    c.expect_no_work_files("a failed write")


def wait_for(c, proc, prefix, timeout=60):
    """Waits until a work file starting with `prefix` exists; False if the run ended first."""
    deadline = time.monotonic() + timeout
    while proc.poll() is None and time.monotonic() < deadline:
        if any(n.startswith(prefix) for n in c.leftovers()):
            return True
        time.sleep(0.001)
    return False


def case_interrupt(c):
    """Each terminating signal during each stage: the run stops at once, says so, exits with
    128 + the signal's number and leaves nothing, neither work files nor a MIDI file."""
    # Ten minutes of silence take long enough to interrupt in the middle.
    wav = c.path("long.wav")
    with open(wav, "wb") as f:
        f.write(wav_header(RATE * 2 * 600) + bytes(RATE * 2 * 600))
    out = c.path("out")
    os.mkdir(out)
    note_stage = ("thr", "bai", "not", "oct", "ioc")
    signals = (signal.SIGHUP, signal.SIGINT, signal.SIGQUIT, signal.SIGTERM, signal.SIGUSR1)
    for stage, marker in (("WAV stage", "nor"), ("note stage", "thr")):
        for sig in signals:
            proc = subprocess.Popen([c.converter, "-d", out, wav], env=c.env(),
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            check(wait_for(c, proc, marker), f"{sig.name}: the {stage} is reached")
            if stage == "WAV stage":
                check(not [n for n in c.leftovers() if n.startswith(note_stage)], "the signal comes in the WAV stage")
            proc.send_signal(sig)
            # The run must stop at its next step, not finish the conversion and discard it.
            seen = set()
            while proc.poll() is None:
                seen.update(c.leftovers())
                time.sleep(0.002)
            _, err = proc.communicate(timeout=60)
            if stage == "WAV stage":
                late = sorted(n for n in seen if n.startswith(note_stage))
                check(not late, f"{sig.name}: the conversion went on after the signal: {late}")
            check(proc.returncode == 128 + sig, f"{sig.name} in the {stage}: exit {proc.returncode}; {err!r}")
            check(err.endswith("ruvo-convert: interrupted\n"), f"{sig.name}: the interruption is told: {err!r}")
            c.expect_no_work_files(f"{sig.name} in the {stage}")
            check(os.listdir(out) == [], f"{sig.name}: no MIDI file, whole, partial or hidden: {os.listdir(out)}")

    # Standard error closed by its reader: the message fails, the clean-up still runs.
    proc = subprocess.Popen([c.converter, "-d", out, wav], env=c.env(), stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    proc.stderr.close()
    check(wait_for(c, proc, "thr"), "the note stage is reached")
    proc.send_signal(signal.SIGINT)
    proc.wait(timeout=60)
    check(proc.returncode == 130, f"a closed standard error does not end the run: exit {proc.returncode}")
    c.expect_no_work_files("a closed standard error")

    # SIGKILL cannot be caught: the work folder stays until the next start removes it.
    proc = subprocess.Popen([c.converter, "-d", out, wav], env=c.env(), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    check(wait_for(c, proc, "thr"), "the note stage is reached")
    proc.kill()
    proc.wait(timeout=60)
    check(c.leftovers(), "a killed run leaves its work folder")
    # Folders whose names only begin like a work folder's are someone else's.
    others = ["ruvo-songs", "ruvo-cli-test-a1b2c3d4", "ruvo-ab_12c"]
    for name in others:
        os.mkdir(os.path.join(c.tmp, name))
    short = write_wav(c.path("short.wav"), melody([69], seconds=0.6))
    expect_exit(c.run("-d", out, short), 0, "the next run")
    check(sorted(os.listdir(c.tmp)) == sorted(others), f"only the orphaned work folder went: {os.listdir(c.tmp)}")
    for name in others:
        os.rmdir(os.path.join(c.tmp, name))
    c.expect_no_work_files("the next run after SIGKILL")
    check(os.listdir(out) == ["short.mid"], f"nothing but the next run's MIDI file: {os.listdir(out)}")


def case_progress_bar(c):
    wav = write_wav(c.path("m.wav"), melody([69, 72]))

    def run_on_terminal(*args):
        master, slave = pty.openpty()
        proc = subprocess.Popen([c.converter, *args], env=c.env(), stdout=subprocess.DEVNULL,
                                stderr=slave)
        os.close(slave)
        chunks = []
        while True:
            ready, _, _ = select.select([master], [], [], 60)
            if not ready:
                break
            try:
                data = os.read(master, 4096)
            except OSError:
                break
            if not data:
                break
            chunks.append(data)
        os.close(master)
        proc.wait(timeout=60)
        return proc.returncode, b"".join(chunks).decode(errors="replace")

    code, text = run_on_terminal(wav)
    check(code == 0, f"exit {code} on a terminal")
    check("100%" in text and f"written {c.path('m.mid')}" in text, f"the bar runs to 100 % on a terminal: {text!r}")
    code, text = run_on_terminal("--quiet", wav)
    check(code == 0 and "%" not in text, f"--quiet shows no bar: {text!r}")


def case_corrupted_headers(c):
    """Seeded random damage to headers and lengths: the converter must end every file with
    exit 0 or 1, never crash or hang, and leave no work file."""
    rng = random.Random(20240601)
    base_rates = (11025, 22050, 44100)
    files = []
    for i in range(120):
        rate = rng.choice(base_rates)
        bits = rng.choice((8, 16))
        channels = rng.choice((1, 2))
        seconds = rng.uniform(0.3, 1.5)
        count = int(seconds * rate) * channels
        if bits == 16:
            samples = [rng.randint(-20000, 20000) for _ in range(count)]
        else:
            samples = [rng.randint(0, 255) for _ in range(count)]
        data = bytearray(wav_bytes(samples, rate=rate, bits=bits, channels=channels))
        kind = rng.randrange(5)
        if kind == 0:  # random bytes anywhere in the first 300 but the data size
            for _ in range(rng.randint(1, 8)):
                pos = rng.choice([p for p in range(min(300, len(data))) if not 40 <= p < 44])
                data[pos] = rng.randrange(256)
        elif kind == 1:  # truncated anywhere
            del data[rng.randrange(len(data)):]
        elif kind == 2:  # data size larger or smaller than the data (bounded to a few seconds)
            data[40:44] = struct.pack("<I", rng.randrange(0, min(2 * len(data), 200000)))
        elif kind == 3:  # an extra chunk between the format and the data chunk
            extra = b"LIST" + struct.pack("<I", rng.randrange(0, 40))
            extra += bytes(rng.randrange(0, 30))
            data[36:36] = extra
        else:  # odd format fields
            fmt = rng.choice([(20, 2), (22, 2), (24, 4), (28, 4), (32, 2), (34, 2)])
            data[fmt[0]:fmt[0] + fmt[1]] = bytes(rng.randrange(256) for _ in range(fmt[1]))
        path = c.path(f"case{i:03d}.wav")
        with open(path, "wb") as f:
            f.write(data)
        files.append(path)
    for start in range(0, len(files), 20):
        batch = files[start:start + 20]
        try:
            r = c.run("-d", c.path("out"), *batch, timeout=300)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"the converter hangs on one of {batch}")
        check(r.returncode in (0, 1), f"exit {r.returncode} on {batch}\n{r.stderr[-2000:]}")
        c.expect_no_work_files(f"batch {start // 20}")
    for name in os.listdir(c.path("out")):
        notes_of(c.path("out", name))  # every written file reads as MIDI


def need_sox():
    if shutil.which("sox") is None:
        raise Skip("sox is not installed")


def sox(*args):
    subprocess.run(["sox", "-D", "-q", *args], check=True)


def case_import_formats(c):
    """Files that the check refuses but libsndfile reads are imported: each gives the notes
    of the same melody as a WAV file, with one line saying what it was analysed as."""
    need_sox()
    keys = [67, 71, 74]
    reference = write_wav(c.path("reference.wav"), melody(keys, seconds=0.6, rate=44100, gap=0.1), rate=44100)
    data = open(reference, "rb").read()[44:]
    listed = c.path("listed.wav")  # a LIST chunk between the format and the data chunk
    with open(listed, "wb") as f:
        info = b"INFO" + b"ISFT" + struct.pack("<I", 8) + b"editor\0\0"
        body = (b"WAVE" + b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, 44100, 88200, 2, 16)
                + b"LIST" + struct.pack("<I", len(info)) + info + b"data" + struct.pack("<I", len(data)) + data)
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)
    made = {
        "flac48k24.flac": (["-r", "48000", "-b", "24", "-c", "2"], "48000 Hz, 24-bit FLAC"),
        "mp3.mp3": (["-C", "192"], "44100 Hz, MP3"),
        "quad96k.wav": (["-r", "96000", "-c", "4"], "96000 Hz, 16-bit WAV, 4 channels"),
        "float.wav": (["-e", "floating-point", "-b", "32"], "44100 Hz, 32-bit float WAV"),
    }
    inputs = {}
    for name, (options, described) in made.items():
        sox(reference, *options, c.path(name))
        inputs[c.path(name)] = described
    inputs[listed] = "44100 Hz, 16-bit WAV"
    r = c.run("-d", c.path("out"), *inputs)
    expect_exit(r, 0, "imported formats")
    for path, described in inputs.items():
        imported = "44100 Hz, 16-bit, stereo" if "4 channels" in described else "44100 Hz, 16-bit"
        line = f"{path}: {described}; analysed as {imported}\n"
        check(line in r.stderr, f"the import is told as {line!r}: {r.stderr!r}")
        stem = os.path.splitext(os.path.basename(path))[0]
        found = sustained_keys(notes_of(c.path("out", stem + ".mid"))["notes"])
        check(found == keys, f"{path}: keys {found}, expected {keys}")
    check(r.stderr.count("\n") == len(inputs), f"one line per imported file and nothing else: {r.stderr!r}")
    c.expect_no_work_files("imported formats")

    # The same samples in a refused layout give the same MIDI file as the reference.
    r = c.run("-d", c.path("ref"), reference)
    expect_exit(r, 0, "the reference")
    check(open(c.path("ref", "reference.mid"), "rb").read() == open(c.path("out", "listed.mid"), "rb").read(),
          "the LIST-chunk copy of the reference converts byte for byte as the reference")

    # A FLAC stream written through a pipe does not announce its length.
    piped = c.path("piped.flac")
    subprocess.run(f"sox -q {reference} -t raw - | sox -q -t raw -r 44100 -b 16 -e signed -c 1 - -t flac - | cat > {piped}",
                   shell=True, check=True)
    r = c.run("-o", c.path("piped.mid"), piped)
    expect_exit(r, 0, "a FLAC stream of unknown length")
    check(sustained_keys(notes_of(c.path("piped.mid"))["notes"]) == keys, "the piped FLAC gives the melody")

    r = c.run("--quiet", "-o", c.path("q.mid"), c.path("mp3.mp3"))
    expect_exit(r, 0, "--quiet import")
    check(r.stderr == "", f"--quiet keeps the import quiet: {r.stderr!r}")


def case_import_refusals(c):
    """What the import cannot rescue: the check's own messages and limits, libsndfile's
    reason for a damaged file, the formats read for a file of none; no MIDI file and no work
    file is left."""
    need_sox()
    short = c.path("short.flac")
    sox("-n", "-r", "48000", "-b", "24", short, "synth", "0.3", "sine", "440")
    corrupt = c.path("corrupt.flac")
    sox("-n", "-r", "48000", "-b", "24", corrupt, "synth", "3", "sine", "440")
    with open(corrupt, "r+b") as f:
        size = os.path.getsize(corrupt)
        f.seek(size // 2)
        f.write(bytes((i * 7) % 256 for i in range(2000)))
    text = c.path("text.mp3")
    with open(text, "w") as f:
        f.write("not a sound file\n" * 40)
    bad_mp3 = c.path("bad.mp3")  # the decoder's own notes on it must not reach standard error
    sox("-n", "-r", "44100", bad_mp3, "synth", "3", "sine", "440")
    with open(bad_mp3, "r+b") as f:
        f.seek(os.path.getsize(bad_mp3) // 3)
        f.write(bytes((i * 7) % 256 for i in range(3000)))
    memo = c.path("memo.m4a")  # a text file named as a phone memo
    with open(memo, "w") as f:
        f.write("Shopping list\n" * 300)
    unreadable = ["This file is in no sound format that can be read. Formats read: WAV, FLAC, "]
    cases = {
        memo: unreadable,
        short: ["Recording time of this file must be longer than   0.550 sec."],
        corrupt: ["cannot decode it: "],
        bad_mp3: ["cannot decode it: "],
        text: unreadable,
    }
    for path, lines in cases.items():
        r = c.run("-o", c.path("out.mid"), path)
        expect_exit(r, 1, path)
        for line in lines:
            check(f"{path}: {line}" in r.stderr, f"{path}: {line!r} is told: {r.stderr!r}")
        check(all(line.startswith(f"{path}: ") for line in r.stderr.splitlines()), f"only our lines: {r.stderr!r}")
        check(not os.path.exists(c.path("out.mid")), f"{path}: no MIDI file")
        c.expect_no_work_files(path)


def case_strict(c):
    """--strict keeps the check's verdict: today's messages and exit codes. A file that the
    check accepts converts byte for byte alike with and without the import."""
    need_sox()
    accepted = [
        write_wav(c.path("mono22k.wav"), melody([69, 74])),
        write_wav(c.path("stereo44k.wav"), [v for v in melody([72, 76], rate=44100) for _ in (0, 1)],
                  rate=44100, channels=2),
        write_wav(c.path("mono11k8.wav"), [128 + v // 256 for v in melody([64, 67], rate=11025)],
                  rate=11025, bits=8),
    ]
    r = c.run("-d", c.path("plain"), *accepted)
    expect_exit(r, 0, "accepted files")
    check(r.stderr == "", f"an accepted file is not imported: {r.stderr!r}")
    r = c.run("--strict", "-d", c.path("strict"), *accepted)
    expect_exit(r, 0, "accepted files, --strict")
    for path in accepted:
        name = os.path.splitext(os.path.basename(path))[0] + ".mid"
        check(open(c.path("plain", name), "rb").read() == open(c.path("strict", name), "rb").read(),
              f"{name}: the same bytes with and without --strict")

    wav48 = c.path("w48.wav")
    sox(accepted[0], "-r", "48000", wav48)
    r = c.run("--strict", "-o", c.path("w48.mid"), wav48)
    expect_exit(r, 1, "--strict on a 48 kHz file")
    check(r.stderr == f"{wav48}: Sample rate isn't 11025, 22050 or 44100 per second.\n"
                     f"{wav48}: It must be above value.\n", f"the check's message: {r.stderr!r}")
    check(not os.path.exists(c.path("w48.mid")), "no MIDI file")
    r = c.run("-o", c.path("w48.mid"), wav48)
    expect_exit(r, 0, "a 48 kHz file without --strict")
    c.expect_no_work_files("--strict")


def case_import_interrupt(c):
    """Ctrl-C while a long FLAC file is being imported: exit 130, no work file, no MIDI file."""
    need_sox()
    flac = c.path("long.flac")
    sox("-n", "-r", "48000", "-b", "24", "-c", "2", flac, "synth", "600", "sine", "440", "vol", "0.3")
    proc = subprocess.Popen([c.converter, "-o", c.path("long.mid"), flac], env=c.env(),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 30
    while (not [n for n in c.leftovers() if n.startswith("imp")] and proc.poll() is None
           and time.monotonic() < deadline):
        time.sleep(0.005)
    time.sleep(0.1)
    check(proc.poll() is None, "the import is still running when interrupted")
    check([n for n in c.leftovers() if n.startswith("imp")], f"the import's work file: {c.leftovers()}")
    check(not [n for n in c.leftovers() if n.startswith("nor")], "the signal comes during the import")
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    check(proc.returncode == 130, f"exit {proc.returncode}, expected 130; {err!r}")
    c.expect_no_work_files("an interrupted import")
    check(not os.path.exists(c.path("long.mid")), "no MIDI file")


def score_melody(c, name="tune.wav"):
    """Two bars of quarters and eighths at 100 quarters a minute after a quarter of silence."""
    beat = 0.6
    keys = [67, 69, 71, 72, 74, 72, 71, 69, 67, 67]
    lengths = [1, 1, 0.5, 0.5, 1, 1, 1, 0.5, 0.5, 1]
    samples = [0] * int(beat * RATE)
    for key, length in zip(keys, lengths):
        samples += melody([key], seconds=beat * length * 0.9)
        samples += [0] * (int(beat * length * RATE) - int(beat * length * 0.9 * RATE))
    return write_wav(c.path(name), samples + [0] * RATE)


def case_score(c):
    """--score: a MusicXML score beside the input or MIDI in musical time by the -o name, the
    user's tempo and meter kept, a downbeat past the end refused with nothing written, a silent
    file a score of rests."""
    import mido
    import xml.etree.ElementTree as ET
    wav = score_melody(c)
    r = c.run("--mode", "melody", "--score", "-q", wav)
    expect_exit(r, 0, "--score")
    root = ET.parse(c.path("tune.musicxml")).getroot()
    check(root.tag == "score-partwise" and len(root.findall("part")) == 1, "one part of a partwise score")
    check(root.find("part-list/score-part/score-instrument") is not None, "the part names its instrument")
    check(root.find(".//sound[@tempo]") is not None and root.find(".//time/beats").text == "4", "tempo and 4/4")
    rows = [  # extra arguments, the tempo (quarters a minute) and the time signature expected
        ([], None, (4, 4)),
        (["--bpm", "90", "--meter", "3/4"], 90.0, (3, 4)),
        (["--bpm=150", "--meter=6/8", "--downbeat", "0.6"], 150.0, (6, 8)),
    ]
    for extra, bpm, meter in rows:
        out = c.path("tune.mid")
        r = c.run("--mode", "melody", "--score", "-o", out, *extra, wav)
        expect_exit(r, 0, f"--score {extra}")
        mid = mido.MidiFile(out)
        check(mid.ticks_per_beat == 480 and mid.type == 1, f"{extra}: 480 ticks a quarter, format 1")
        metas = {m.type: m for t in mid.tracks for m in t if m.is_meta}
        check((metas["time_signature"].numerator, metas["time_signature"].denominator) == meter, f"{extra}: meter")
        check("key_signature" in metas and "track_name" in metas, f"{extra}: key signature and track name")
        tempo = mido.tempo2bpm(metas["set_tempo"].tempo)
        check(abs(tempo - (bpm or 100.0)) < (0.01 if bpm else 3.0), f"{extra}: tempo {tempo}")
        ticks, starts = 0, []
        for m in mid.tracks[1]:
            ticks += m.time
            if m.type == "note_on" and m.velocity > 0:
                starts.append(ticks)
        check(len(starts) >= 8 and all(t % 120 == 0 or t % 160 == 0 for t in starts), f"{extra}: on the grid {starts}")
        if bpm is None:
            check([t // 120 for t in starts[:5]] == [4, 8, 12, 14, 16], f"onsets in sixteenths: {starts}")
    r = c.run("--mode", "melody", "--score", "--downbeat", "60", "-o", c.path("late.mid"), wav)
    expect_exit(r, 1, "a downbeat past the end")
    check("within the recording" in r.stderr and not os.path.exists(c.path("late.mid")), r.stderr)
    silent = write_wav(c.path("silent.wav"), [0] * (2 * RATE))
    r = c.run("--score", "-q", "-o", c.path("silent.xml"), silent)
    expect_exit(r, 0, "a silent file")
    check("only rests" in r.stderr, r.stderr)
    check(ET.parse(c.path("silent.xml")).getroot().find(".//rest") is not None, "a score of rests")
    c.expect_no_work_files("scores")


def case_notation(c):
    """Notation programs open our scores without a warning about them; one page made a picture
    when RUVO_SCORE_PNG names a folder."""
    mscore, ly, lilypond = (shutil.which(n) for n in ("mscore3", "musicxml2ly", "lilypond"))
    if not (mscore and ly and lilypond):
        raise Skip("mscore3, musicxml2ly or lilypond is missing")
    wav = score_melody(c)
    for name, extra in (("plain", []), ("waltz", ["--meter", "3/4", "--bpm", "84"]), ("jig", ["--meter", "6/8"])):
        xml = c.path(name + ".musicxml")
        expect_exit(c.run("--mode", "melody", "--score", "-q", "-o", xml, *extra, wav), 0, name)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=c.tmp)
        r = subprocess.run([mscore, "-o", c.path(name + ".pdf"), xml], env=env, capture_output=True, text=True,
                           timeout=300, cwd=c.root)
        said = r.stdout + r.stderr
        check(r.returncode == 0 and os.path.getsize(c.path(name + ".pdf")) > 0, f"mscore3 {name}: {said}")
        check(not any(w in said.lower() for w in ("no instrument", "error", "warning")), f"mscore3 {name}: {said}")
        r = subprocess.run([ly, "-o", c.path(name + ".ly"), xml], capture_output=True, text=True, timeout=300,
                           cwd=c.root)
        check(r.returncode == 0 and "warning" not in (r.stdout + r.stderr).lower(), f"musicxml2ly {name}: {r.stderr}")
        r = subprocess.run([lilypond, "-o", c.path(name), c.path(name + ".ly")], capture_output=True, text=True,
                           timeout=300, cwd=c.root)
        said = r.stdout + r.stderr
        check(r.returncode == 0 and "warning" not in said.lower() and "error" not in said.lower(),
              f"lilypond {name}: {said}")
        if os.environ.get("RUVO_SCORE_PNG"):
            shutil.copy(c.path(name + ".pdf"), os.environ["RUVO_SCORE_PNG"])


def live_pipe(c, wav, *args):
    """Runs --live on the samples of `wav` piped through sox; returns (process, stdout lines)."""
    sox_proc = subprocess.Popen(["sox", "-D", "-q", wav, "-t", "raw", "-r", str(RATE), "-b", "16", "-c", "1",
                                 "-e", "signed", "-"], stdout=subprocess.PIPE)
    r = subprocess.run([c.converter, "--live", *args, "-"], stdin=sox_proc.stdout, env=c.env(),
                       capture_output=True, text=True, timeout=120)
    sox_proc.wait()
    return r, r.stdout.splitlines()


def onset_f1(reference, estimate, tolerance=COLUMN_TICKS):
    """Onset F1 of two note lists (ticks), same key, onsets within `tolerance`."""
    used, hits = set(), 0
    for e in estimate:
        for i, n in enumerate(reference):
            if i not in used and n["key"] == e["key"] and abs(n["start"] - e["start"]) <= tolerance:
                used.add(i)
                hits += 1
                break
    return 2.0 * hits / max(len(reference) + len(estimate), 1)


def case_live(c):
    """--live from a pipe prints each note and writes the notes that converting the file
    finds; Ctrl-C ends a session with its MIDI file; what cannot work says why and writes
    nothing."""
    need_sox()
    keys = [57, 60, 64, 62, 67, 65, 69, 72, 71, 64]
    wav = write_wav(c.path("m.wav"), melody(keys, seconds=0.4, gap=0.1, lead=0.4, partials=(1.0, 0.5, 0.3)))
    expect_exit(c.run("--mode", "melody", "-o", c.path("conv.mid"), wav), 0, "the conversion")
    r, lines = live_pipe(c, wav, "-o", c.path("live.mid"))
    expect_exit(r, 0, "--live -")
    live, conv = notes_of(c.path("live.mid"))["notes"], notes_of(c.path("conv.mid"))["notes"]
    check([n["key"] for n in live] == keys, f"the live notes' keys: {live}")
    check(onset_f1(conv, live) >= 0.95, f"live notes as the conversion's: {live} against {conv}")
    names = [line.split()[2] for line in lines]
    check(names == ["A3", "C4", "E4", "D4", "G4", "F4", "A4", "C5", "B4", "E4"], f"one line per note: {lines}")
    onset, offset = (float(x) for x in lines[0].split()[:2])
    check(abs(onset - 0.4) <= 0.05 and abs(offset - 0.8) <= 0.1, f"the first note's times: {lines[0]}")
    c.expect_no_work_files("a live session")

    # Ctrl-C while the input is open: the notes so far are printed and written.
    proc = subprocess.Popen([c.converter, "--live", "-o", c.path("cut.mid"), "-"], env=c.env(), stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    raw = array("h", melody(keys[:4], seconds=0.4, gap=0.1) + [0] * RATE)
    proc.stdin.write(raw.tobytes())
    proc.stdin.flush()
    printed = [proc.stdout.readline() for _ in keys[:4]]
    check([line.split()[2] for line in printed] == [b"A3", b"C4", b"E4", b"D4"],
          f"the notes while the input is open: {printed!r}")
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    check(proc.returncode == 0 and err == b"", f"Ctrl-C ends the session well: {proc.returncode} {err!r}")
    check(sustained_keys(notes_of(c.path("cut.mid"))["notes"]) == keys[:4], "the session's notes are written")
    c.expect_no_work_files("Ctrl-C")

    table = [
        (["--live", wav], 2, "not files", {}),
        (["--input", "x", wav], 2, "--input names the sound input of --live", {}),
        (["--jack", wav], 2, "--jack sends the notes of --live", {}),
        (["--live", "--jack", "-"], 0, "No JACK server is running", {"JACK_DEFAULT_SERVER": "ruvo_none"}),
        (["--live", "--input", "x", "-"], 2, "cannot be used together", {}),
        (["--live", "-d", c.path("d"), "-"], 2, "name it with -o", {}),
        (["--live", "-o", c.path("no", "x.mid"), "-"], 1, "cannot write", {}),
        (["--live", "-o", c.path("x.mid")], 1, "cannot be opened", {"PULSE_SERVER": "unix:" + c.path("none")}),
    ]
    for args, code, problem, env in table:
        r = subprocess.run([c.converter, *args], env={**c.env(), **env}, capture_output=True, text=True,
                           input="", timeout=60)
        expect_exit(r, code, f"{args}")
        check(problem in r.stderr, f"{args}: {problem!r} in {r.stderr!r}")
    check(not os.path.exists(c.path("x.mid")), "a failed session writes no MIDI file")
    c.expect_no_work_files("failed sessions")


def case_live_device(c):
    """--live --input records from the sound server: a melody played into the test server's
    sink and heard through its remap source comes out as its notes."""
    need_sox()
    if shutil.which("paplay") is None or subprocess.run(["pactl", "info"], capture_output=True).returncode != 0:
        raise Skip("no sound server")
    keys = [57, 64, 60, 67]
    wav = write_wav(c.path("m.wav"), melody(keys, seconds=0.4, gap=0.1, lead=0.2, partials=(1.0, 0.5, 0.3)))
    proc = subprocess.Popen([c.converter, "--live", "--input", "ci_in", "-o", c.path("in.mid")], env=c.env(),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(0.5)
    subprocess.run(["paplay", "-d", "ci_out", wav], check=True, timeout=30)
    time.sleep(0.6)
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    check(proc.returncode == 0 and err == "", f"the session ends well: {proc.returncode} {err!r}")
    check([n["key"] for n in notes_of(c.path("in.mid"))["notes"]] == keys, f"the melody's notes: {out!r}")
    check(len(out.splitlines()) == len(keys), f"one line per note: {out!r}")
    c.expect_no_work_files("a session from a sound input")


def case_live_jack(c):
    """--live --jack sends each note on and off, in order, to ruvo:midi_out of a private
    dummy-driver JACK server, read back by jack_midi_dump."""
    need_sox()
    if shutil.which("jackd") is None or shutil.which("jack_midi_dump") is None:
        raise Skip("no JACK server")
    # No client may start a server of its own: each waits for this one.
    env = {**c.env(), "JACK_DEFAULT_SERVER": f"ruvo_cli_{os.getpid()}", "JACK_NO_START_SERVER": "1"}
    server = subprocess.Popen(["jackd", "-n", env["JACK_DEFAULT_SERVER"], "-d", "dummy", "-r", "22050", "-p", "256"],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    dump = live = None
    try:
        for _ in range(100):
            if subprocess.run(["jack_lsp"], env=env, capture_output=True).returncode == 0:
                break
            time.sleep(0.05)
        dump = subprocess.Popen(["jack_midi_dump", "-a", "ruvo_dump"], env=env, stdout=subprocess.PIPE, text=True)
        live = subprocess.Popen([c.converter, "--live", "--jack", "-"], env=env, stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        for _ in range(100):
            if subprocess.run(["jack_connect", "ruvo:midi_out", "ruvo_dump:input"], env=env,
                              capture_output=True).returncode == 0:
                break
            time.sleep(0.05)
        keys = [60, 64, 67]
        live.stdin.write(array("h", melody(keys, seconds=0.4, gap=0.1, lead=0.3) + [0] * RATE).tobytes())
        live.stdin.close()
        err = live.stderr.read().decode()
        check(live.wait(timeout=60) == 0 and err == "", f"the session ends well: {err!r}")
        time.sleep(0.3)
        dump.send_signal(signal.SIGINT)
        # jack_midi_dump -a: "time: 90 3c 64 ..." per event
        events = [line.split(":")[1].split()[:3] for line in dump.communicate(timeout=30)[0].splitlines() if ":" in line]
        expected = [[f"{0x90:x}", f"{k:x}", v] for k in keys for v in ("64", "00")]
        check(events == expected, f"the port's messages: {events}")
    finally:
        for proc in (live, dump):
            if proc is not None and proc.poll() is None:
                proc.kill()
                proc.wait()
        server.terminate()
        server.wait(timeout=30)


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in CASES:
        print(f"Usage: cli_test.py CONVERTER CASE\ncases: {' '.join(CASES)}", file=sys.stderr)
        return 2
    try:
        import mido  # noqa: F401
    except ImportError:
        print("SKIP: python3-mido is not installed")
        return SKIP
    case = Case(os.path.abspath(sys.argv[1]))
    try:
        CASES[sys.argv[2]](case)
    except Skip as reason:
        print(f"SKIP: {reason}")
        return SKIP
    except AssertionError as failure:
        print(f"FAIL: {failure}")
        return 1
    finally:
        case.close()
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
