#!/usr/bin/env python3
"""Reads a Standard MIDI File and prints its notes as JSON.

    midi_notes.py FILE.mid
    -> {"format": 1, "ticks_per_beat": 120, "tracks": 2,
        "notes": [{"key": 69, "start": 0, "end": 105, "velocity": 127}, ...]}

Times are absolute ticks. A note-on with velocity 0 ends a note, as a note-off does.
"""

import json
import sys

import mido


def read_notes(path):
    midi = mido.MidiFile(path)
    notes = []
    for track in midi.tracks:
        now = 0
        sounding = {}  # (channel, key) -> (start, velocity)
        for message in track:
            now += message.time
            if message.type not in ("note_on", "note_off"):
                continue
            key = (message.channel, message.note)
            if message.type == "note_on" and message.velocity > 0:
                if key in sounding:  # a repeated note-on ends the note that sounds
                    start, velocity = sounding.pop(key)
                    notes.append({"key": message.note, "start": start, "end": now, "velocity": velocity})
                sounding[key] = (now, message.velocity)
            elif key in sounding:
                start, velocity = sounding.pop(key)
                notes.append({"key": message.note, "start": start, "end": now, "velocity": velocity})
        for (_, note), (start, velocity) in sounding.items():
            notes.append({"key": note, "start": start, "end": None, "velocity": velocity})
    notes.sort(key=lambda n: (n["start"], n["key"]))
    return {
        "format": midi.type,
        "ticks_per_beat": midi.ticks_per_beat,
        "tracks": len(midi.tracks),
        "notes": notes,
    }


def main():
    if len(sys.argv) != 2:
        print("Usage: midi_notes.py FILE.mid", file=sys.stderr)
        return 2
    json.dump(read_notes(sys.argv[1]), sys.stdout, indent=1)
    print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
