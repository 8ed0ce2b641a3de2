#!/usr/bin/env python3
"""Lists, for each file of a kept bench run, the reference notes that the estimate missed
and the estimated notes that match nothing, after the best constant shift. A miss with an
estimated note of another pitch starting within 120 ms is marked as a pitch error (semitone,
octave or another interval); the last line counts the misses of each kind over all files.

  diagnose.py BENCH_DIR DATA_DIR MIDI_DIR [NAME...]

BENCH_DIR is the bench's folder (for its evaluate module), DATA_DIR its data folder and
MIDI_DIR the folder given to run.py --keep.
"""
import glob
import os
import sys
from collections import Counter

bench, data, mids = sys.argv[1:4]
names = sys.argv[4:]
sys.path.insert(0, bench)
import common  # noqa: E402
import evaluate  # noqa: E402
import numpy as np  # noqa: E402

kinds = Counter()
for mid in sorted(glob.glob(os.path.join(mids, "*.mid"))):
    name = os.path.splitext(os.path.basename(mid))[0]
    if names and name not in names:
        continue
    # A set's folder need not be named after its files' prefix (sing_dev holds sdev_*).
    truth = glob.glob(os.path.join(data, "*", "truth", name + ".tsv"))
    ref = common.read_truth(truth[0] if truth else common.truth_path(name.split("_")[0], name, data))
    est, _ = common.read_midi_notes(mid)
    ref_on = np.array([n[0] for n in ref])
    ref_p = np.array([n[2] for n in ref])
    est_on = np.array([n[0] for n in est])
    est_p = np.array([n[2] for n in est])
    shift, hits = evaluate.best_shift(ref_on, ref_p, est_on, est_p)
    est_on = est_on + shift
    used = set()
    missed = []
    for i, (on, p) in enumerate(zip(ref_on, ref_p)):
        cand = [j for j in range(len(est_on)) if j not in used and round(est_p[j]) == p
                and abs(est_on[j] - on) <= 0.05]
        if cand:
            used.add(min(cand, key=lambda j: abs(est_on[j] - on)))
            continue
        near = sorted(range(len(est_on)), key=lambda j: abs(est_on[j] - on))[:2]
        kind = "onset"
        other = [j for j in near if abs(est_on[j] - on) <= 0.12 and round(est_p[j]) != p]
        if other:
            step = int(round(est_p[other[0]])) - int(p)
            kind = ("octave" if step % 12 == 0 else "semitone" if abs(step) == 1
                    else "interval") + " %+d" % step
        kinds[kind.split()[0]] += 1
        missed.append("  miss ref %7.3f key %3d dur %.2f | near: %s%s" % (
            on, p, ref[i][1] - ref[i][0],
            ", ".join("%+.3f key %d" % (est_on[j] - on, est_p[j]) for j in near),
            "" if kind == "onset" else " | " + kind))
    extra = ["  extra est %7.3f key %3d dur %.2f" % (est_on[j], est_p[j], est[j][1] - est[j][0])
             for j in range(len(est_on)) if j not in used]
    print("%s shift %+.3f matched %d of %d ref, %d est" % (name, shift, hits, len(ref), len(est)))
    print("\n".join(missed + extra))
print("misses: " + ", ".join("%s %d" % kv for kv in sorted(kinds.items())))
