#include "score/MusicXmlWriter.h"

#include "score/ScoreMidiWriter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <vector>

namespace ruvo {

namespace {

constexpr std::int64_t kQuarter = kScoreTicksPerQuarter;
constexpr std::int64_t kSixteenth = kQuarter / 4;
constexpr std::int64_t kThirtySecond = kQuarter / 8;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct NoteType {
    std::int64_t Ticks;
    const char* Name;
};
constexpr std::array<NoteType, 7> kTypes{{{1920, "whole"},
                                          {960, "half"},
                                          {480, "quarter"},
                                          {240, "eighth"},
                                          {120, "16th"},
                                          {60, "32nd"},
                                          {30, "64th"}}};

// One written value: a note, chord or rest, or part of one tied to its neighbours.
struct Written {
    std::int64_t Start = 0;
    std::int64_t Ticks = 0;
    const char* Type = nullptr;  // nullptr: a length no single value spells
    std::int32_t Dots = 0;
    bool Triplet = false;
    bool TupletStart = false;
    bool TupletStop = false;
    bool TieStop = false;
    bool TieStart = false;
};

// A stretch of the part: the keys sounding (none for a rest) from Start to End.
struct Event {
    std::int64_t Start = 0;
    std::int64_t End = 0;
    std::vector<std::int32_t> Keys;
    std::int32_t NextKey = -1;  // the next stretch's first key (none: -1)
};

std::int64_t Mod(std::int64_t a, std::int64_t b) { return ((a % b) + b) % b; }
std::int64_t FloorTo(std::int64_t a, std::int64_t b) { return a - Mod(a, b); }

// The single value (plain or dotted) of exactly `ticks`, if any.
bool SpellValue(std::int64_t ticks, const char*& type, bool& dot) {
    for (const NoteType& t : kTypes) {
        if (t.Ticks == ticks) {
            type = t.Name;
            dot = false;
            return true;
        }
        if (t.Ticks * 3 / 2 == ticks && t.Ticks % 2 == 0) {
            type = t.Name;
            dot = true;
            return true;
        }
    }
    return false;
}

struct MeterLayout {
    std::int64_t Bar = 1920;
    std::int64_t Beat = 480;
    bool Compound = false;
    bool HalfBars = false;  // 4/4: a value starting after the downbeat does not hide the bar's middle

    explicit MeterLayout(const Meter& m) {
        Bar = std::int64_t{m.Beats} * 4 * kQuarter / m.BeatType;
        Compound = m.Compound();
        Beat = Compound ? 3 * kQuarter / 2 : 4 * kQuarter / m.BeatType;
        HalfBars = m.Beats == 4 && m.BeatType == 4;
    }
};

// Written values of a note or rest from `start` (inside the bar that begins at `barStart`) for
// `length` ticks, as a copyist groups them: a value starting off the beat ends at the next beat
// at the latest; a value covering beats starts on one; rests over several beats are plain
// values on their own multiple (a half rest on beat 1 or 3), never dotted across a beat in simple
// time; in 4/4 only a value from the downbeat covers the bar's middle. A note that ends on a
// thirty-second within its beat may take a second dot (a double-dotted eighth from the beat).
// Eighth triplets fill the quarters whose positions are thirds.
std::vector<Written> Spell(std::int64_t barStart, std::int64_t start, std::int64_t length, bool rest,
                           const MeterLayout& meter) {
    std::vector<Written> out;
    std::int64_t pos = start;
    const std::int64_t end = start + length;
    while (pos < end) {
        const std::int64_t quarterStart = FloorTo(pos, kQuarter);
        if (Mod(pos, kThirtySecond) != 0 || (Mod(end, kThirtySecond) != 0 && FloorTo(end, kQuarter) <= pos)) {
            // Within a triplet quarter: thirds and sixths of it.
            const std::int64_t stop = std::min(end, quarterStart + kQuarter);
            while (pos < stop) {
                std::int64_t v = 0;
                for (std::int64_t c : {std::int64_t{320}, std::int64_t{160}, std::int64_t{80}, std::int64_t{40}})
                    if (c <= stop - pos && Mod(pos - quarterStart, c == 320 ? 160 : c) == 0) {
                        v = c;
                        break;
                    }
                Written w;
                w.Start = pos;
                w.Triplet = true;
                if (v == 0) {
                    w.Ticks = stop - pos;
                } else {
                    w.Ticks = v;
                    bool dot = false;
                    SpellValue(v * 3 / 2, w.Type, dot);
                    w.Dots = dot ? 1 : 0;
                }
                out.push_back(w);
                pos += w.Ticks;
            }
            continue;
        }
        const std::int64_t limit = Mod(end, kThirtySecond) != 0 ? FloorTo(end, kQuarter) : end;
        const std::int64_t rel = pos - barStart;
        const std::int64_t beatStart = barStart + rel / meter.Beat * meter.Beat;
        const bool onBeat = pos == beatStart;
        Written w;
        w.Start = pos;
        for (const NoteType& t : kTypes) {
            for (const std::int32_t dots : {2, 1, 0}) {
                const bool dot = dots > 0;
                const std::int64_t v = dots == 2 ? t.Ticks * 7 / 4 : dot ? t.Ticks * 3 / 2 : t.Ticks;
                if (v > limit - pos || w.Type != nullptr) continue;
                // Two dots only on a note within its beat that ends on a thirty-second.
                if (dots == 2 &&
                    (rest || pos + v > beatStart + meter.Beat || Mod(v, kThirtySecond) != 0 || Mod(v, kSixteenth) == 0))
                    continue;
                if (pos + v <= beatStart + meter.Beat) {
                    // Inside the beat a rest sits on a multiple of its own value, dotted only
                    // from the beat.
                    if (rest && (Mod(pos - beatStart, t.Ticks) != 0 || (dot && !onBeat))) continue;
                } else {
                    // Across beats: from a beat, whole beats or a dotted value of whole beats.
                    const bool wholeBeats = v % meter.Beat == 0 || (dot && t.Ticks % meter.Beat == 0);
                    if (!onBeat || !wholeBeats) continue;
                    if (rest && (Mod(rel, v) != 0 || (dot && !meter.Compound))) continue;
                    if (!rest && meter.HalfBars && rel != 0 && rel < meter.Bar / 2 && rel + v > meter.Bar / 2) continue;
                }
                w.Ticks = v;
                w.Type = t.Name;
                w.Dots = dots;
            }
        }
        if (w.Type == nullptr) w.Ticks = limit - pos;  // no value fits: written as its bare length
        out.push_back(w);
        pos += w.Ticks;
    }
    return out;
}

// Escapes XML's special characters. A byte outside a valid UTF-8 sequence and a control
// character other than a tab or a line break, which a file name may hold and XML does not allow,
// become U+FFFD.
std::string Escape(const std::string& text) {
    constexpr const char* kReplacement = "\xEF\xBF\xBD";
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (length == 1) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c < 0x20 && c != '\t' && c != '\n' && c != '\r' ? kReplacement : std::string(1, text[i]);
            }
            ++i;
            continue;
        }
        // A lead byte, its continuation bytes and the code point they make: no overlong form, no
        // surrogate, nothing above U+10FFFF.
        bool valid = length != 0 && i + length <= text.size();
        std::uint32_t point = length == 2 ? c & 0x1Fu : length == 3 ? c & 0x0Fu : c & 0x07u;
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            point = point << 6 | (next & 0x3Fu);
        }
        constexpr std::array<std::uint32_t, 5> kLeast{0, 0, 0x80, 0x800, 0x10000};
        valid = valid && point >= kLeast[length] && point <= 0x10FFFF && (point < 0xD800 || point > 0xDFFF);
        out += valid ? text.substr(i, length) : kReplacement;
        i += valid ? length : 1;
    }
    return out;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

struct Pitch {
    char Step;
    std::int32_t Alter;
    std::int32_t Octave;
};

// Of the names a key has with at most one sharp or flat, the one nearest on the line of fifths
// (F = -1, C = 0, G = 1, ..., a sharp 7 further, a flat 7 back) to the middle of the key's
// scale and the alterations it takes most often: a major key's raised fourth and lowered seventh,
// a minor key's raised sixth and seventh. So G minor's leading note is F sharp, C minor's
// lowered second D flat, and G flat major's fourth C flat. A note outside the scale that moves
// by a semitone to `next` is named as leading there: up from a sharp, down from a flat.
Pitch Spelled(std::int32_t key, const KeySignature& signature, std::int32_t next) {
    const double middle = signature.Fifths + (signature.Minor ? 3.5 : 2.25);
    std::int64_t best = 0;
    double nearest = kInfinity;
    for (std::int64_t place = -8; place <= 12; ++place) {
        const double distance = std::abs(static_cast<double>(place) - middle);
        if (Mod(7 * place, 12) != Mod(key, 12) || distance >= nearest) continue;
        best = place;
        nearest = distance;
    }
    const bool inScale = best >= signature.Fifths - 1 && best <= signature.Fifths + 5;
    if (!inScale && next == key + 1 && best + 12 <= 12) best += 12;
    if (!inScale && next == key - 1 && best - 12 >= -8) best -= 12;
    const std::int32_t alter = static_cast<std::int32_t>(FloorTo(best + 1, 7) / 7);
    const char step = "FCGDAEB"[Mod(best + 1, 7)];
    return {step, alter, static_cast<std::int32_t>(FloorTo(key - alter, 12) / 12) - 1};
}

// The alteration the key signature gives each step.
std::map<char, std::int32_t> KeyAlterations(std::int32_t fifths) {
    std::map<char, std::int32_t> out;
    const std::string sharps = "FCGDAEB", flats = "BEADGCF";
    for (std::int32_t i = 0; i < std::abs(fifths) && i < 7; ++i)
        out[fifths > 0 ? sharps[static_cast<std::size_t>(i)] : flats[static_cast<std::size_t>(i)]] = fifths > 0 ? 1 : -1;
    return out;
}

void Metronome(std::string& x, const Meter& meter, double bpm) {
    const bool compound = meter.Compound();
    const char* unit = compound ? "quarter" : meter.BeatType == 2 ? "half" : meter.BeatType == 8 ? "eighth" : "quarter";
    const double perMinute = compound ? bpm / 1.5 : bpm * meter.BeatType / 4.0;
    x += "      <direction placement=\"above\"><direction-type><metronome parentheses=\"no\"><beat-unit>";
    x += unit;
    x += "</beat-unit>";
    if (compound) x += "<beat-unit-dot/>";
    x += "<per-minute>" + std::to_string(std::lrint(perMinute)) + "</per-minute></metronome></direction-type>";
    x += "<sound tempo=\"" + Number(bpm) + "\"/></direction>\n";
}

}  // namespace

std::string MusicXmlWriter::Text(const Score& score) const {
    const MeterLayout meter(score.TimeSignature);
    // Bar lines lie on whole bars from the downbeat. Notes less than a bar before it make a
    // pickup measure from their beat; earlier ones whole bars.
    std::int64_t origin = ScoreOriginTick(score);
    const std::int64_t firstStart =
        score.Notes.empty() ? 0 : std::min_element(score.Notes.begin(), score.Notes.end(), [](const ScoreNote& a, const ScoreNote& b) {
                                      return a.StartTick < b.StartTick;
                                  })->StartTick;
    const bool pickup = firstStart < 0 && FloorTo(firstStart, meter.Beat) > -meter.Bar;
    if (pickup) origin = FloorTo(firstStart, meter.Beat);
    const std::int64_t firstBar = FloorTo(origin, meter.Bar);

    // Chords share one start; a stretch ends where the next one starts at the latest.
    std::vector<Event> events;
    for (const ScoreNote& n : score.Notes) {
        if (n.LengthTicks <= 0) continue;
        if (!events.empty() && events.back().Start == n.StartTick) {
            events.back().End = std::max(events.back().End, n.StartTick + n.LengthTicks);
            if (std::find(events.back().Keys.begin(), events.back().Keys.end(), n.Key) == events.back().Keys.end())
                events.back().Keys.push_back(n.Key);
            continue;
        }
        events.push_back({n.StartTick, n.StartTick + n.LengthTicks, {n.Key}});
    }
    for (std::size_t i = 0; i + 1 < events.size(); ++i) {
        events[i].End = std::min(events[i].End, events[i + 1].Start);
        events[i].NextKey = events[i + 1].Keys.front();
    }

    std::map<std::int64_t, double> tempoAt;
    for (std::size_t i = 0; i < score.Tempo.size(); ++i) {
        const std::int64_t tick = i == 0 ? origin : std::lrint(score.Tempo[i].StartQuarter * kQuarter);
        tempoAt[std::max(origin, tick)] = score.Tempo[i].Bpm;
    }
    std::int64_t last = origin + 1;
    if (!events.empty()) last = std::max(last, events.back().End);
    if (!tempoAt.empty()) last = std::max(last, tempoAt.rbegin()->first + 1);
    const std::int64_t bars = (last - firstBar + meter.Bar - 1) / meter.Bar;
    const std::int64_t finish = firstBar + bars * meter.Bar;

    // Rests fill the gaps; every stretch is cut at bar lines and tempo changes.
    std::vector<Event> timeline;
    std::int64_t t = origin;
    for (const Event& e : events) {
        if (e.Start > t) timeline.push_back({t, e.Start, {}});
        timeline.push_back(e);
        t = e.End;
    }
    if (t < finish) timeline.push_back({t, finish, {}});

    struct Piece {
        Written Value;
        const Event* Source;
    };
    std::vector<std::vector<Piece>> measures(static_cast<std::size_t>(bars));
    for (const Event& e : timeline) {
        std::vector<std::int64_t> cuts{e.Start};
        for (std::int64_t b = FloorTo(e.Start, meter.Bar) + meter.Bar; b < e.End; b += meter.Bar)
            cuts.push_back(b);
        for (auto it = tempoAt.upper_bound(e.Start); it != tempoAt.end() && it->first < e.End; ++it) cuts.push_back(it->first);
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        cuts.push_back(e.End);
        std::vector<Piece> pieces;
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
            const std::int64_t barStart = FloorTo(cuts[k], meter.Bar);
            for (const Written& w : Spell(barStart, cuts[k], cuts[k + 1] - cuts[k], e.Keys.empty(), meter))
                pieces.push_back({w, &e});
        }
        for (std::size_t k = 0; k < pieces.size() && !e.Keys.empty(); ++k) {
            pieces[k].Value.TieStop = k > 0;
            pieces[k].Value.TieStart = k + 1 < pieces.size();
        }
        for (const Piece& p : pieces)
            measures[static_cast<std::size_t>((FloorTo(p.Value.Start, meter.Bar) - firstBar) / meter.Bar)].push_back(p);
    }
    // Brackets over the triplets of each quarter.
    for (auto& measure : measures) {
        for (std::size_t k = 0; k < measure.size(); ++k) {
            Written& w = measure[k].Value;
            if (!w.Triplet) continue;
            const std::int64_t q = FloorTo(w.Start, kQuarter);
            w.TupletStart = k == 0 || !measure[k - 1].Value.Triplet || FloorTo(measure[k - 1].Value.Start, kQuarter) != q;
            w.TupletStop = k + 1 == measure.size() || !measure[k + 1].Value.Triplet ||
                           FloorTo(measure[k + 1].Value.Start, kQuarter) != q;
        }
    }

    std::vector<std::int32_t> keys;
    for (const ScoreNote& n : score.Notes) keys.push_back(n.Key);
    std::sort(keys.begin(), keys.end());
    const bool bass = !keys.empty() && keys[keys.size() / 2] < 57;
    const std::map<char, std::int32_t> keyAlter = KeyAlterations(score.Key.Fifths);
    const std::string title = score.Title.empty() ? "Melody" : score.Title;

    std::string x;
    x += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n";
    x += "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 3.1 Partwise//EN\" "
         "\"http://www.musicxml.org/dtds/partwise.dtd\">\n";
    x += "<score-partwise version=\"3.1\">\n";
    x += "  <work><work-title>" + Escape(title) + "</work-title></work>\n";
    x += "  <identification><encoding><software>Ruvo</software></encoding></identification>\n";
    x += "  <part-list>\n    <score-part id=\"P1\"><part-name>Melody</part-name>"
         "<score-instrument id=\"P1-I1\"><instrument-name>Melody</instrument-name></score-instrument>"
         "<midi-instrument id=\"P1-I1\"><midi-channel>1</midi-channel><midi-program>" +
         std::to_string(std::clamp(score.Program, 0, 127) + 1) +
         "</midi-program></midi-instrument></score-part>\n  </part-list>\n";
    x += "  <part id=\"P1\">\n";
    for (std::size_t m = 0; m < measures.size(); ++m) {
        x += pickup && m == 0 ? std::string("    <measure number=\"0\" implicit=\"yes\">\n")
                              : "    <measure number=\"" + std::to_string(pickup ? m : m + 1) + "\">\n";
        if (m == 0) {
            x += "      <attributes><divisions>" + std::to_string(kQuarter) + "</divisions><key><fifths>" +
                 std::to_string(score.Key.Fifths) + "</fifths><mode>" + (score.Key.Minor ? "minor" : "major") +
                 "</mode></key><time><beats>" + std::to_string(score.TimeSignature.Beats) + "</beats><beat-type>" +
                 std::to_string(score.TimeSignature.BeatType) + "</beat-type></time><clef><sign>" +
                 (bass ? "F</sign><line>4" : "G</sign><line>2") + "</line></clef></attributes>\n";
        }
        std::map<std::pair<char, std::int32_t>, std::int32_t> altered;  // accidentals so far in the bar
        const auto& measure = measures[m];
        for (const Piece& p : measure) {
            const Written& w = p.Value;
            if (const auto it = tempoAt.find(w.Start); it != tempoAt.end()) Metronome(x, score.TimeSignature, it->second);
            if (p.Source->Keys.empty() && measure.size() == 1 && w.Ticks == meter.Bar) {
                x += "      <note><rest measure=\"yes\"/><duration>" + std::to_string(w.Ticks) +
                     "</duration><voice>1</voice></note>\n";
                continue;
            }
            const std::size_t count = std::max<std::size_t>(1, p.Source->Keys.size());
            for (std::size_t c = 0; c < count; ++c) {
                std::string n = "      <note>";
                if (c > 0) n += "<chord/>";
                Pitch pitch{};
                if (p.Source->Keys.empty()) {
                    n += "<rest/>";
                } else {
                    pitch = Spelled(p.Source->Keys[c], score.Key, p.Source->Keys.size() == 1 ? p.Source->NextKey : -1);
                    n += std::string("<pitch><step>") + pitch.Step + "</step>";
                    if (pitch.Alter != 0) n += "<alter>" + std::to_string(pitch.Alter) + "</alter>";
                    n += "<octave>" + std::to_string(pitch.Octave) + "</octave></pitch>";
                }
                n += "<duration>" + std::to_string(w.Ticks) + "</duration>";
                if (w.TieStop) n += "<tie type=\"stop\"/>";
                if (w.TieStart) n += "<tie type=\"start\"/>";
                n += "<voice>1</voice>";
                if (w.Type != nullptr) n += std::string("<type>") + w.Type + "</type>";
                for (std::int32_t d = 0; d < w.Dots; ++d) n += "<dot/>";
                if (!p.Source->Keys.empty()) {
                    const auto key = std::make_pair(pitch.Step, pitch.Octave);
                    const auto found = altered.find(key);
                    const std::int32_t current = found != altered.end() ? found->second
                                                 : keyAlter.count(pitch.Step) ? keyAlter.at(pitch.Step)
                                                                              : 0;
                    if (pitch.Alter != current && !w.TieStop)
                        n += pitch.Alter == 1 ? "<accidental>sharp</accidental>"
                             : pitch.Alter == -1 ? "<accidental>flat</accidental>"
                                                 : "<accidental>natural</accidental>";
                    // A note tied over from the bar before keeps its accidental unwritten, and the
                    // bar's next note of that step is written with its own.
                    if (!w.TieStop) altered[key] = pitch.Alter;
                }
                if (w.Triplet)
                    n += "<time-modification><actual-notes>3</actual-notes><normal-notes>2</normal-notes>"
                         "</time-modification>";
                std::string notations;
                if (w.TieStop && !p.Source->Keys.empty()) notations += "<tied type=\"stop\"/>";
                if (w.TieStart && !p.Source->Keys.empty()) notations += "<tied type=\"start\"/>";
                if (c == 0 && w.TupletStart) notations += "<tuplet type=\"start\" bracket=\"yes\"/>";
                if (c == 0 && w.TupletStop) notations += "<tuplet type=\"stop\"/>";
                if (!notations.empty()) n += "<notations>" + notations + "</notations>";
                n += "</note>\n";
                x += n;
            }
        }
        if (m + 1 == measures.size())
            x += "      <barline location=\"right\"><bar-style>light-heavy</bar-style></barline>\n";
        x += "    </measure>\n";
    }
    x += "  </part>\n</score-partwise>\n";
    return x;
}

}  // namespace ruvo
