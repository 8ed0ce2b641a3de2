// The player's files and window without sound: the WAV excerpt of a selection, the
// recording's header, the window's start state. Offscreen.

#include "audio/EnhWave.h"
#include "audio/PlayerFiles.h"
#include "audio/play.h"
#include "platform/qt/FluidSynth.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <QProcess>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace ruvo;
using namespace ruvo::testsupport;

class PlayerTest : public QObject {
    Q_OBJECT

private slots:
    void ExcerptHoldsExactlyTheSelectedFrames_data();
    void ExcerptHoldsExactlyTheSelectedFrames();
    void ReversedOrEmptySelectionWritesNothing();
    void RecordingHeaderIsTheTemplateThenTheTrueSizes();
    void WindowStartsWithWavChosenAndItsHints();
    void WaveDevicesStartWithTheirDefaultsAndCheckTheirRanges();
    void SoundFontChoiceTakesTheFirstUncompressedFont_data();
    void SoundFontChoiceTakesTheFirstUncompressedFont();
};

namespace {

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

// A WAV whose data byte i is i mod 251, so that every copied range is recognisable.
std::string WriteCountingWav(const TempDir& dir, std::uint32_t rate, std::uint16_t channels, std::uint16_t bits,
                             std::uint32_t dataBytes, WavHead& rec) {
    WavFormat format{rate, channels, bits};
    std::string bytes;
    for (std::uint8_t b : CanonicalHeader(format, dataBytes)) {
        bytes.push_back(static_cast<char>(b));
    }
    for (std::uint32_t i = 0; i < dataBytes; ++i) {
        bytes.push_back(static_cast<char>(i % 251));
    }
    const std::string path = (dir.Path() / "source.wav").string();
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    rec.FileName = path;
    rec.SampleRate = static_cast<std::int32_t>(rate);
    rec.Channels = channels;
    rec.BitsPerSample = bits;
    rec.DataOffset = 45;
    return bytes;
}

}  // namespace

void PlayerTest::ExcerptHoldsExactlyTheSelectedFrames_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("dataBytes");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selEnd");
    QTest::addColumn<int>("expectStart");
    QTest::addColumn<int>("expectLength");
    // 16-bit stereo, frames 2..5: (5 - 2) * 1024 * 4 bytes from byte 2 * 4096 of the data.
    QTest::newRow("22050 stereo 16") << 22050 << 2 << 16 << 40000 << 2 << 5 << 8192 << 12288;
    // A frame is 1024 samples at 22050 Hz: 2048 samples at 44100 Hz, 512 at 11025 Hz.
    QTest::newRow("44100 mono 16") << 44100 << 1 << 16 << 40000 << 1 << 3 << 4096 << 8192;
    QTest::newRow("11025 mono 8") << 11025 << 1 << 8 << 40000 << 4 << 10 << 2048 << 3072;
    // More than two blocks of 50000 bytes.
    QTest::newRow("three blocks") << 22050 << 2 << 16 << 120000 << 0 << 25 << 0 << 102400;
    // Past the end of the file: what exists; an odd length gets its pad byte.
    QTest::newRow("past the end") << 22050 << 1 << 8 << 5001 << 2 << 100 << 2048 << 2953;
}

void PlayerTest::ExcerptHoldsExactlyTheSelectedFrames() {
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(int, bits);
    QFETCH(int, dataBytes);
    QFETCH(int, selStart);
    QFETCH(int, selEnd);
    QFETCH(int, expectStart);
    QFETCH(int, expectLength);
    const TempDir dir;
    WavHead rec;
    const std::string source =
        WriteCountingWav(dir, static_cast<std::uint32_t>(rate), static_cast<std::uint16_t>(channels),
                         static_cast<std::uint16_t>(bits), static_cast<std::uint32_t>(dataBytes), rec);
    rec.SelStart = selStart;
    rec.SelEnd = selEnd;
    const std::string name = (dir.Path() / "Wat.tmp").string();
    QCOMPARE(CutWavExcerpt(rec, name), kExcerptDone);
    const std::string out = FileBytes(name);
    const auto length = static_cast<std::size_t>(expectLength);
    const std::size_t pad = length % 2;
    QCOMPARE(out.size(), 44 + length + pad);
    QCOMPARE(out.substr(8, 32), source.substr(8, 32));   // "WAVE", the format, "data"
    QCOMPARE(Le32(out, 4), static_cast<std::uint32_t>(36 + length + pad));  // RIFF size
    QCOMPARE(Le32(out, 40), static_cast<std::uint32_t>(length));            // data size
    QVERIFY(out.substr(44, length) == source.substr(44 + static_cast<std::size_t>(expectStart), length));
}

void PlayerTest::ReversedOrEmptySelectionWritesNothing() {
    const TempDir dir;
    WavHead rec;
    WriteCountingWav(dir, 22050, 1, 16, 20000, rec);
    const std::string name = (dir.Path() / "Wat.tmp").string();
    rec.SelStart = 5;
    rec.SelEnd = 2;
    QCOMPARE(CutWavExcerpt(rec, name), kExcerptReversed);
    rec.SelStart = 50;  // entirely past the end
    rec.SelEnd = 60;
    QCOMPARE(CutWavExcerpt(rec, name), kExcerptEmpty);
    QVERIFY(!std::filesystem::exists(name));
    QVERIFY(std::string(ExcerptMessage(kExcerptReversed)).starts_with("Nothing to play"));
}

void PlayerTest::RecordingHeaderIsTheTemplateThenTheTrueSizes() {
    const TempDir dir;
    const std::string name = (dir.Path() / "rwf.tmp").string();
    WriteRecordingHeader(name);
    const std::string expected = std::string("RIFF") + std::string("\xBC\x98\x06\x00", 4)  // 432316
                                 + "WAVEfmt " + std::string("\x10\0\0\0", 4)             // fmt size 16
                                 + std::string("\x01\0\x01\0", 4)                        // PCM, 1 channel
                                 + std::string("\x22\x56\0\0", 4)                        // 22050 Hz
                                 + std::string("\x44\xAC\0\0", 4)                        // 44100 bytes/s
                                 + std::string("\x02\0\x10\0", 4)                        // align 2, 16 bits
                                 + "data" + std::string(4, '\0');
    QCOMPARE(FileBytes(name), expected);
    // A take may outlive the program: for the user's eyes only.
    QCOMPARE(std::filesystem::status(name).permissions() & std::filesystem::perms::all,
             std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // Seven full buffers of 8820 bytes.
    std::ofstream(name, std::ios::binary | std::ios::app).write(std::string(61740, '\x01').data(), 61740);
    FinishRecordingHeader(name, 61740);
    const std::string finished = FileBytes(name);
    QCOMPARE(Le32(finished, 4), 61776u);
    QCOMPARE(Le32(finished, 40), 61740u);
    WavHead rec;
    rec.FileName = name;
    rec.NoteIntenFileName = "old.not";
    rec.MidiGridFileName = "old.mig";
    FillRecordingRecord(rec, 61740);
    QCOMPARE(rec.SampleCount, 30870);
    QCOMPARE(rec.DataOffset, 45);
    QCOMPARE(rec.FileName, name);
    QVERIFY(rec.NoteIntenFileName.empty() && rec.MidiGridFileName.empty());
    // Killed before the header was finished: the sizes come from the length, whole samples.
    FinishRecordingHeader(name, 0);
    std::ofstream(name, std::ios::binary | std::ios::app).put('\x02');
    QCOMPARE(RepairRecordingHeader(name), 61740);
    QCOMPARE(FileBytes(name), finished);

    // Another program reads the length from the header.
    if (QStandardPaths::findExecutable(QStringLiteral("soxi")).isEmpty()) {
        QSKIP("soxi is not installed");
    }
    QProcess soxi;
    soxi.start(QStringLiteral("soxi"), {QStringLiteral("-s"), QString::fromStdString(name)});
    QVERIFY(soxi.waitForFinished(10000));
    QCOMPARE(soxi.readAllStandardOutput().trimmed(), QByteArray("30870"));
}

void PlayerTest::WindowStartsWithWavChosenAndItsHints() {
    ScopedRecordingHost host;
    TPlayer player;
    QCOMPARE(player.size(), QSize(219, 122));
    QVERIFY(player.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    const auto* play = player.findChild<QToolButton*>("Play");
    QVERIFY(!play->isEnabled());
    QCOMPARE(player.findChild<QToolButton*>("Rec")->toolTip(), QStringLiteral("Record"));
    QCOMPARE(player.findChild<QRadioButton*>("Midi")->toolTip(), QStringLiteral("Play Midi data"));
    QCOMPARE(player.findChild<QRadioButton*>("Wav")->toolTip(), QStringLiteral("Play wav file"));
    for (const char* name : {"Play", "Pause", "Stop", "Rec"}) {
        const QIcon icon = player.findChild<QToolButton*>(name)->icon();
        QVERIFY2(!icon.pixmap(16, 16, QIcon::Normal).isNull() && !icon.pixmap(16, 16, QIcon::Disabled).isNull(), name);
    }
    WavHead rec;
    rec.FileName = "/music/song.wav";
    player.SetRecord(rec);
    QVERIFY(player.findChild<QRadioButton*>("Wav")->isChecked());
    // Play needs a sound output; without one the player says so.
    QCOMPARE(play->isEnabled(), player.SoundStatus().isEmpty() || !player.SoundStatus().contains("output"));
    // A reversed selection plays nothing and says so.
    rec.SelStart = 9;
    rec.SelEnd = 3;
    player.SetRecord(rec);
    player.PlayClick();
    QVERIFY(!player.IsPlaying());
    if (play->isEnabled()) {
        QCOMPARE(host.Messages.size(), std::size_t{1});
    }
}

void PlayerTest::WaveDevicesStartWithTheirDefaultsAndCheckTheirRanges() {
    TEnhWaveIn in;
    QCOMPARE(in.Channels(), 1);
    QCOMPARE(in.Samples(), 8000);
    QCOMPARE(in.SampleBits(), 8);
    QCOMPARE(in.MaxBuffers(), 2);
    QCOMPARE(in.BufferSize(), 2048);
    QVERIFY(in.Device() == TEWDev::wvMapper);
    QVERIFY(!in.Recording() && !in.IsOpen() && in.DeviceID().isEmpty());
    QVERIFY(in.SetMaxBuffers(1) && in.SetMaxBuffers(9));
    QVERIFY(!in.SetMaxBuffers(0) && !in.SetMaxBuffers(10));
    QCOMPARE(in.MaxBuffers(), 9);
    QVERIFY(!in.SetBufferSize(15) && in.SetBufferSize(16));

    TEnhWaveOut out;
    QCOMPARE(out.Channels(), 1);
    QCOMPARE(out.Samples(), 8000);
    QCOMPARE(out.SampleBits(), 8);
    QVERIFY(out.Device() == TEWDev::wvMapper);
    // Closed: a write is dropped, and releasing what is not queued changes nothing.
    const char bytes[4] = {1, 2, 3, 4};
    QVERIFY(!out.Write(bytes, 4));
    QCOMPARE(out.QueuedBuffers(), std::size_t{0});
    TEnhWaveOut::Header stranger;
    QVERIFY(!out.ReleaseBuffer(&stranger));
    // A device number past the listed devices opens nothing.
    out.SetDevice(TEWDev::wvDevice9);
    QVERIFY(!out.Open());
    QVERIFY(!out.IsOpen());
}

void PlayerTest::SoundFontChoiceTakesTheFirstUncompressedFont_data() {
    QTest::addColumn<QStringList>("kinds");  // per candidate: "2" an SF2 file, "3" an SF3 file, "" none
    QTest::addColumn<int>("chosen");         // the candidate taken, -1 for none
    QTest::newRow("a large SF3 default before an SF2") << QStringList{"3", "", "2"} << 2;
    QTest::newRow("an SF3 when nothing else") << QStringList{"", "3", "3"} << 1;
    QTest::newRow("nothing") << QStringList{""} << -1;
}

void PlayerTest::SoundFontChoiceTakesTheFirstUncompressedFont() {
    QFETCH(QStringList, kinds);
    QFETCH(int, chosen);
    const TempDir tmp;
    std::vector<std::string> candidates;
    for (const QString& kind : kinds) {
        candidates.push_back(tmp.File("font" + std::to_string(candidates.size())));
        if (!kind.isEmpty()) {
            // RIFF, sfbk, LIST of INFO whose first chunk "ifil" holds the version major.minor.
            const char version = kind == "3" ? '\x03' : '\x02';
            const std::string head = std::string("RIFF\0\0\0\0sfbkLIST\0\0\0\0INFOifil\x04\0\0\0", 32) + version + '\0' + "\x01\0";
            std::ofstream(candidates.back(), std::ios::binary) << head;
        }
    }
    QCOMPARE(FluidSynth::ChooseSoundFont(candidates), chosen < 0 ? std::string() : candidates.at(static_cast<std::size_t>(chosen)));
}

QTEST_MAIN(PlayerTest)
#include "PlayerTest.moc"
