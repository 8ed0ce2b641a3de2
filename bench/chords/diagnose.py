#!/usr/bin/env python3
"""Per-note errors of a chords-mode run, per instrument.

    diagnose.py BENCH_DIR SET_DIR MIDI_DIR

BENCH_DIR: the bench's scripts; SET_DIR: a generated set (truth/, manifest.json); MIDI_DIR:
the MIDI files that run.py --keep left. Each estimate is shifted as the shift-aligned score
shifts it, then every note that the onset match leaves is sorted by its likely cause:
missed notes (a unison that one key row cannot hold; an estimate of the same key sounds on:
a merged re-strike; one an octave away starts with it; the onset is more than 50 ms off;
none), extra notes (an octave or twelfth of a sounding note, a semitone off one, a second
start of a sounding note, other), and of the matched notes those whose offset fails, early or
late, with the median error. VERBOSE=1 lists the notes behind the counts.
"""
import json
import os
import sys
from collections import Counter, defaultdict

import numpy as np

bench, setdir, mids = sys.argv[1:4]
sys.path.insert(0, bench)
import common  # noqa: E402
import evaluate  # noqa: E402
import mir_eval  # noqa: E402

manifest = json.load(open(os.path.join(setdir, "manifest.json")))
instrument = {name: item["instrument"] for name, item in manifest["items"].items()}

tally = defaultdict(Counter)
offsets = defaultdict(list)
for name in sorted(instrument):
    ref = common.read_truth(os.path.join(setdir, "truth", name + ".tsv"))
    est = [(a, b, p) for a, b, p, _ in common.read_midi_notes(os.path.join(mids, name + ".mid"))[0]]
    r_iv, r_p = evaluate._arrays(ref)
    e_iv, e_p = evaluate._arrays(est)
    shift, _ = evaluate.best_shift(r_iv[:, 0], r_p, e_iv[:, 0], e_p)
    e_iv = e_iv + shift
    m = mir_eval.transcription.match_notes(r_iv + 10, common.midi_to_hz(r_p), e_iv + 10, common.midi_to_hz(e_p),
                                           onset_tolerance=0.05, offset_ratio=None)
    t = tally[instrument[name]]
    matched_r = {i for i, _ in m}
    matched_e = {j for _, j in m}
    for i in range(len(r_p)):
        if i in matched_r:
            continue
        on, pitch = r_iv[i, 0], r_p[i]
        same = [j for j in range(len(e_p)) if e_p[j] == pitch]
        if any(k != i and r_p[k] == pitch and abs(r_iv[k, 0] - on) <= 0.05 for k in range(len(r_p))):
            t["missed: unison (one key row for both)"] += 1
        elif any(e_iv[j, 0] < on - 0.05 and e_iv[j, 1] > on + 0.05 for j in same):
            t["missed: merged into a sounding note"] += 1
            if os.environ.get("VERBOSE"):
                print("%s merged %d at %.2f s into %s" % (name, pitch, on, [(round(e_iv[j, 0], 2), round(e_iv[j, 1], 2)) for j in same if e_iv[j, 0] < on - 0.05 and e_iv[j, 1] > on + 0.05]))
        elif any(abs(e_iv[j, 0] - on) <= 0.15 for j in same):
            t["missed: onset 50-150 ms off"] += 1
            if os.environ.get("VERBOSE"):
                print("%s late %d at %.2f s by %s ms" % (name, pitch, on, [round(1000 * (e_iv[j, 0] - on)) for j in same if abs(e_iv[j, 0] - on) <= 0.15]))
        elif any(abs(e_iv[j, 0] - on) <= 0.05 and abs(e_p[j] - pitch) == 12 for j in range(len(e_p))):
            t["missed: octave instead"] += 1
            if os.environ.get("VERBOSE"):
                print("%s octave %d at %.2f s: found %s" % (name, pitch, on, [int(e_p[j]) for j in range(len(e_p)) if abs(e_iv[j, 0] - on) <= 0.05 and abs(e_p[j] - pitch) == 12]))
        else:
            t["missed: nothing"] += 1
            if os.environ.get("VERBOSE"):
                with_it = sorted(int(r_p[k]) for k in range(len(r_p)) if abs(r_iv[k, 0] - on) < 0.05)
                held = sorted(int(r_p[k]) for k in range(len(r_p)) if r_iv[k, 0] < on - 0.05 < r_iv[k, 1])
                print("%s missed %d at %.2f s for %.2f s; starting with it %s, held %s" % (
                    name, pitch, on, r_iv[i, 1] - on, with_it, held))
    for j in range(len(e_p)):
        if j in matched_e:
            continue
        on, pitch = e_iv[j, 0], e_p[j]
        sounding = [i for i in range(len(r_p)) if r_iv[i, 0] - 0.05 <= on <= r_iv[i, 1] + 0.1]
        if any(r_p[i] == pitch for i in sounding):
            t["extra: again on a sounding note"] += 1
            if os.environ.get("VERBOSE"):
                held = [(round(r_iv[i, 0], 2), round(r_iv[i, 1], 2)) for i in sounding if r_p[i] == pitch]
                print("%s extra %d at %.2f-%.2f s on %s" % (name, pitch, on, e_iv[j, 1], held))
        elif any(pitch - r_p[i] in (12, 19, 24, 28, 31, 34, 36) for i in sounding):
            gap = min(pitch - r_p[i] for i in sounding if pitch - r_p[i] in (12, 19, 24, 28, 31, 34, 36))
            t["extra: partial of a sounding note, +%d" % gap] += 1
            if os.environ.get("VERBOSE"):
                print("%s partial %d at %.2f-%.2f s; sounding %s" % (name, pitch, on, e_iv[j, 1], sorted(int(r_p[i]) for i in sounding)))
        elif any(r_p[i] - pitch in (12, 19, 24) for i in sounding):
            t["extra: below a sounding note"] += 1
            if os.environ.get("VERBOSE"):
                print("%s below %d at %.2f-%.2f s; sounding %s" % (name, pitch, on, e_iv[j, 1], sorted(int(r_p[i]) for i in sounding)))
        elif any(abs(pitch - r_p[i]) in (1, 2) for i in sounding):
            t["extra: a tone off a sounding note"] += 1
        else:
            t["extra: other"] += 1
    for i, j in m:
        length = r_iv[i, 1] - r_iv[i, 0]
        err = e_iv[j, 1] - r_iv[i, 1]
        tol = max(0.05, 0.2 * length)
        t["matched"] += 1
        if abs(err) > tol:
            t["offset early" if err < 0 else "offset late"] += 1
            offsets[instrument[name]].append((err, length))
            if os.environ.get("VERBOSE"):
                print("%s offset %d at %.2f s: %.2f s long, ends %+.0f ms" % (name, r_p[i], r_iv[i, 0], length, 1000 * err))
for instr, t in tally.items():
    print("==", instr)
    for k in sorted(t):
        print("  %-40s %4d" % (k, t[k]))
    errs = offsets[instr]
    if errs:
        early = [e / l for e, l in errs if e < 0]
        late = [e for e, _ in errs if e > 0]
        if early:
            print("  early offsets: median %.0f %% of the note's length short" % (-100 * np.median(early)))
        if late:
            print("  late offsets: median %.0f ms late" % (1000 * np.median(late)))
