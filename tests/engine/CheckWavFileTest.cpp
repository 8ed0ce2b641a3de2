#include "engine/WavProc.h"

#include "engine/FileIoError.h"
#include "tests/testsupport/ByteWriter.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"
#include "tests/testsupport/WavWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <memory>
#include <optional>
#include <string>

using namespace ruvo;
using namespace ruvo::testsupport;

namespace {

const std::string kSizeMsg = "File size smaller than 300bytes.\nOr can't read the file.";
const std::string kRiffMsg = "This file isn't wav File.\nRIFF header couldn't find.";
const std::string kFmtMsg = "This file isn't wav File.\nfmt header couldn't find.";
const std::string kEncodedMsg = "This file isn't PCM wav file.\nIts samples are encoded.";
const std::string kChannelMsg = "Channel No. isn't find.\nThis file isn't wav file.";
const std::string kRateMsg = "Sample rate isn't 11025, 22050 or 44100 per second.\nIt must be above value.";
const std::string kBitsMsg = "Bit rate per sample isn't 8 or 16.\nIt must be above value.";
const std::string kDataMsg = "This file isn't wav File.\ndata string couldn't find.";
const std::string kShortMsg = "Recording time of this file must be longer than   0.550 sec.";
const std::string kLongMsg = "Recording time of this file must be less than 6000 sec.";

constexpr WavFormat kMono16{22050, 1, 16};

// A WAV image built chunk by chunk: "RIFF", size, "WAVE", `before`, the format chunk (the
// format's 16 bytes plus fmtExtra zero bytes), `between`, the data chunk header announcing
// dataBytes, then zero sample bytes: as many as announced up to StoredBytes, and at least
// enough for a 300-byte file. Only the header bytes matter to the check.
struct WavImage {
    WavFormat Format = kMono16;
    std::uint32_t DataBytes = 26460;
    Bytes Before;
    Bytes Between;
    std::size_t FmtExtra = 0;
    // Replaces the format's byte rate when set.
    std::optional<std::uint32_t> ByteRate;
    std::size_t StoredBytes = 1 << 20;

    Bytes Build() const {
        Bytes fmt = FmtPayload(Format);
        if (ByteRate) {
            ByteWriter patch;
            patch.Raw(fmt);
            patch.PutU32At(8, *ByteRate);
            fmt = patch.Take();
        }
        fmt.insert(fmt.end(), FmtExtra, 0);
        ByteWriter w;
        w.Text("RIFF").U32(0).Text("WAVE").Raw(Before).Chunk("fmt ", fmt).Raw(Between).Text("data").U32(DataBytes);
        const std::size_t header = w.Size();
        w.Fill(std::max<std::size_t>(std::min<std::size_t>(DataBytes, StoredBytes), 300 > header ? 300 - header : 0));
        w.PutU32At(4, static_cast<std::uint32_t>(w.Size() - 8));
        return w.Take();
    }
};

// A chunk of `total` bytes, header included, whose payload holds no "fmt " or "data".
Bytes Filler(std::size_t total, const char* tag = "JUNK") {
    ByteWriter w;
    w.Chunk(tag, Bytes(total - 8, 0x11));
    return w.Take();
}

class CheckWavFileTest : public ::testing::Test {
protected:
    std::int32_t Check(const Bytes& bytes, WavHead& newHead) {
        WriteFileBytes(path, bytes);
        wav->SetMaxTime(kDefaultMaxTime);
        return wav->CheckWavFile(path, oldHead, newHead);
    }

    WavHead Accept(const Bytes& bytes) {
        WavHead newHead;
        EXPECT_EQ(Check(bytes, newHead), 0) << (host.Errors.empty() ? "" : host.Errors.front());
        EXPECT_EQ(host.BoxCount(), 0u);
        return newHead;
    }

    // The message of a rejection; empty when the file was accepted or no message came.
    std::string Reject(const Bytes& bytes) {
        host.Clear();
        WavHead newHead;
        newHead.FileName = "caller.wav";
        newHead.SampleRate = 12345;
        const std::int32_t result = Check(bytes, newHead);
        EXPECT_EQ(result, -1);
        EXPECT_EQ(newHead.FileName, "") << "a rejection empties the new head's file name";
        EXPECT_EQ(newHead.SampleRate, 12345) << "and leaves the rest as the caller had it";
        EXPECT_TRUE(host.Messages.empty());
        EXPECT_EQ(host.Errors.size(), 1u);
        return host.Errors.empty() ? std::string() : host.Errors.back();
    }

    TempDir dir;
    ScopedRecordingHost host;
    std::unique_ptr<TWavProc> wav = std::make_unique<TWavProc>();
    WavHead oldHead;
    std::string path = dir.File("input.wav");
};

TEST_F(CheckWavFileTest, CanonicalFileIsAcceptedAndDescribed) {
    oldHead.FileName = "old.wav";
    oldHead.ThresholdDefault = 0.7;
    oldHead.MidiFileName = "keep.mid";
    oldHead.TempoClass = kTempoSlow;
    oldHead.FrameCount = 99;
    // 0.6 s at 22050 per second, 16-bit mono: 26460 data bytes.
    const std::vector<std::int32_t> samples(13230, 0);
    const WavHead h = Accept(CanonicalWav(kMono16, samples));
    EXPECT_EQ(h.FileName, path);
    EXPECT_EQ(h.SampleRate, 22050);
    EXPECT_EQ(h.SampleCount, 13230);
    EXPECT_EQ(h.Is16Bit, 1);
    EXPECT_EQ(h.BitsPerSample, 16);
    EXPECT_EQ(h.Channels, 1);
    EXPECT_EQ(h.DataOffset, 45) << "1-based position of the first sample byte";
    // Everything else comes from the caller's record.
    EXPECT_EQ(h.ThresholdDefault, 0.7);
    EXPECT_EQ(h.MidiFileName, "keep.mid");
    EXPECT_EQ(h.TempoClass, kTempoSlow);
    EXPECT_EQ(h.FrameCount, 99);

    WavHead own;
    wav->GetWavHead(own);
    EXPECT_EQ(own.FileName, path);
    EXPECT_EQ(own.SampleCount, 13230);
    EXPECT_EQ(own.MidiFileName, "keep.mid");
}

TEST_F(CheckWavFileTest, RejectionLeavesTheObjectsHeadAsItWas) {
    Accept(WavImage{}.Build());
    WavImage bad;
    bad.Format.Channels = 3;
    EXPECT_EQ(Reject(bad.Build()), kChannelMsg);
    WavHead own;
    wav->GetWavHead(own);
    EXPECT_EQ(own.FileName, path);
    EXPECT_EQ(own.Channels, 1);
    EXPECT_EQ(own.SampleCount, 13230);
}

TEST_F(CheckWavFileTest, UnreadableFileThrowsFileIoErrorAndNoRegularFileIsOpened) {
    WavHead newHead;
    EXPECT_THROW(wav->CheckWavFile(dir.File("missing.wav"), oldHead, newHead), FileIoError);
    EXPECT_EQ(host.BoxCount(), 0u);
    // Opening a FIFO would wait for a writer for ever.
    const std::string fifo = dir.File("f.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& name : {fifo, dir.Path().string()}) {
        host.Clear();
        EXPECT_EQ(wav->CheckWavFile(name, oldHead, newHead), -1);
        EXPECT_EQ(host.Errors, std::vector<std::string>{kNotRegularFile});
        EXPECT_EQ(wav->LastRejection(), WavRejection::Size);
    }
}

struct Accepted {
    const char* Name;
    WavImage Image;
    std::int32_t SampleRate;
    std::int32_t SampleCount;
    std::int32_t Bits;
    std::int32_t Channels;
    std::int32_t DataOffset;
};

class CheckWavFileAccepts : public CheckWavFileTest, public ::testing::WithParamInterface<Accepted> {};

TEST_P(CheckWavFileAccepts, Description) {
    const Accepted& c = GetParam();
    const WavHead h = Accept(c.Image.Build());
    EXPECT_EQ(h.FileName, path);
    EXPECT_EQ(h.SampleRate, c.SampleRate);
    EXPECT_EQ(h.SampleCount, c.SampleCount);
    EXPECT_EQ(h.BitsPerSample, c.Bits);
    EXPECT_EQ(h.Is16Bit, c.Bits == 16 ? 1 : 0);
    EXPECT_EQ(h.Channels, c.Channels);
    EXPECT_EQ(h.DataOffset, c.DataOffset);
}

WavImage Image(WavFormat format, std::uint32_t dataBytes) {
    WavImage w;
    w.Format = format;
    w.DataBytes = dataBytes;
    return w;
}

WavImage WithBefore(WavImage w, Bytes before) {
    w.Before = std::move(before);
    return w;
}

WavImage WithBetween(WavImage w, Bytes between) {
    w.Between = std::move(between);
    return w;
}

WavImage WithFmtExtra(WavImage w, std::size_t extra) {
    w.FmtExtra = extra;
    return w;
}

WavImage WithByteRate(WavImage w, std::uint32_t byteRate) {
    w.ByteRate = byteRate;
    return w;
}

// A header that announces dataBytes in a file of 300 bytes.
WavImage Announcing(WavFormat format, std::uint32_t dataBytes) {
    WavImage w = Image(format, dataBytes);
    w.StoredBytes = 0;
    return w;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CheckWavFileAccepts,
    ::testing::Values(
        Accepted{"Mono8Bit11025", Image({11025, 1, 8}, 6615), 11025, 6615, 8, 1, 45},
        Accepted{"Stereo16Bit44100", Image({44100, 2, 16}, 4 * 26460), 44100, 26460, 16, 2, 45},
        // Two channels halve the count: 12128 bytes of 8-bit stereo are 6064 samples each.
        Accepted{"Stereo8Bit", Image({11025, 2, 8}, 12128), 11025, 6064, 8, 2, 45},
        // The shift drops an odd byte.
        Accepted{"OddDataSize16Bit", Image(kMono16, 26461), 22050, 13230, 16, 1, 45},
        // "fmt " is searched at offsets 5..25: a 13-byte chunk before it puts it at 25.
        Accepted{"FmtAtOffset25", WithBefore(Image(kMono16, 26460), Filler(13)), 22050, 13230, 16, 1, 58},
        // "data" is searched up to 41 bytes past "fmt ": 17 bytes of other chunks fit.
        Accepted{"DataAfter17ByteGap", WithBetween(Image(kMono16, 26460), Filler(17)), 22050, 13230, 16, 1, 62},
        Accepted{"EighteenByteFormatChunk", WithFmtExtra(Image(kMono16, 26460), 2), 22050, 13230, 16, 1, 47},
        // Bits come from byte rate / rate / channels, rounded ties-to-even.
        Accepted{"ByteRateOneAndAHalfRoundsToTwo", WithByteRate(Image(kMono16, 26460), 33075), 22050, 13230, 16, 1, 45},
        Accepted{"ByteRateTwoAndAHalfRoundsToTwo", WithByteRate(Image(kMono16, 26460), 55125), 22050, 13230, 16, 1, 45},
        Accepted{"ByteRateJustUnderOneAndAHalf", WithByteRate(Image({11025, 1, 8}, 6615), 16537), 11025, 6615, 8, 1,
                 45},
        // Exactly 0.55 s: 24255 samples at 44100.
        Accepted{"ExactlyTheShortestTime", Image({44100, 1, 16}, 48510), 44100, 24255, 16, 1, 45}),
    [](const ::testing::TestParamInfo<Accepted>& row) { return std::string(row.param.Name); });

TEST_F(CheckWavFileTest, ExactlyThreeHundredBytesPassTheSizeTest) {
    // 300 bytes pass the size test and then hold too little sound; 299 do not pass it.
    Bytes bytes = CanonicalHeader(kMono16, 26460);
    bytes.resize(300, 0);
    EXPECT_EQ(Reject(bytes), kShortMsg);
    bytes.resize(299);
    EXPECT_EQ(Reject(bytes), kSizeMsg);
    EXPECT_EQ(Reject(Bytes{}), kSizeMsg);
}

// The header decides what is too long; what the file holds decides the rest.
TEST_F(CheckWavFileTest, FileEndingBeforeItsDataChunkCountsWhatItHolds) {
    // Exactly 6000 s of 16-bit stereo at 44100, held in full by a sparse file.
    Bytes bytes = CanonicalHeader({44100, 2, 16}, 1058400000u);
    WriteFileBytes(path, bytes);
    std::filesystem::resize_file(path, 44 + 1058400000ull);
    WavHead h;
    ASSERT_EQ(wav->CheckWavFile(path, oldHead, h), 0);
    EXPECT_EQ(h.SampleCount, 264600000);
    EXPECT_EQ(wav->ShortFileNotice(), "");

    // 33 s announced, 1 s and half a sample held: one second is converted and told.
    bytes = CanonicalHeader(kMono16, 2 * 22050 * 33);
    bytes.resize(44 + 2 * 22050 + 1, 0);
    h = Accept(bytes);
    EXPECT_EQ(h.SampleCount, 22050);
    EXPECT_EQ(wav->ShortFileNotice(), "the header announces 33.0 s, the file holds 1.0 s; converting 1.0 s");

    // Stereo 8-bit: a frame is two bytes; a data chunk followed by other chunks is complete.
    bytes = CanonicalHeader({11025, 2, 8}, 2 * 11025);
    bytes.resize(44 + 2 * 11025 + 100, 0);
    h = Accept(bytes);
    EXPECT_EQ(h.SampleCount, 11025);
    EXPECT_EQ(wav->ShortFileNotice(), "");

    // A header announcing 6000 s in 300 bytes is too short at once; 6001 s stay too long.
    bytes = CanonicalHeader({44100, 2, 16}, 1058400000u);
    bytes.resize(300, 0);
    EXPECT_EQ(Reject(bytes), kShortMsg);
    bytes = CanonicalHeader({44100, 2, 16}, 1058400000u + 176400u);
    bytes.resize(300, 0);
    EXPECT_EQ(Reject(bytes), kLongMsg);
}

struct Rejected {
    const char* Name;
    Bytes File;
    std::string Message;
};

class CheckWavFileRejects : public CheckWavFileTest, public ::testing::WithParamInterface<Rejected> {};

TEST_P(CheckWavFileRejects, WithItsMessage) { EXPECT_EQ(Reject(GetParam().File), GetParam().Message); }

Bytes Patched(Bytes bytes, std::size_t offset, std::string_view text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return bytes;
}

Bytes WithU16(Bytes bytes, std::size_t offset, std::uint16_t value) {
    ByteWriter w;
    w.Raw(bytes);
    w.PutU16At(offset, value);
    return w.Take();
}

Bytes WithU32(Bytes bytes, std::size_t offset, std::uint32_t value) {
    ByteWriter w;
    w.Raw(bytes);
    w.PutU32At(offset, value);
    return w.Take();
}

const Bytes kCanonical = WavImage{}.Build();

INSTANTIATE_TEST_SUITE_P(
    Headers, CheckWavFileRejects,
    ::testing::Values(Rejected{"NotRiff", Patched(kCanonical, 0, "RIFX"), kRiffMsg},
                      Rejected{"FmtAtOffset26", WithBefore(WavImage{}, Filler(14)).Build(), kFmtMsg},
                      Rejected{"NoFmt", Patched(kCanonical, 12, "fmt_"), kFmtMsg},
                      // Offsets from "fmt " at 12: channels at 22, rate at 24, byte rate at 28.
                      // The format tag at 20: IMA ADPCM, u-law, A-law, an extensible float.
                      Rejected{"ImaAdpcm", WithU16(kCanonical, 20, 0x11), kEncodedMsg},
                      Rejected{"MuLaw", WithU16(kCanonical, 20, 7), kEncodedMsg},
                      Rejected{"ALaw", WithU16(kCanonical, 20, 6), kEncodedMsg},
                      Rejected{"ExtensibleFloat", WithU16(WithU16(WithFmtExtra(WavImage{}, 24).Build(), 20, 0xFFFE), 44, 3),
                               kEncodedMsg},
                      Rejected{"ZeroChannels", WithU16(kCanonical, 22, 0), kChannelMsg},
                      Rejected{"ThreeChannels", WithU16(kCanonical, 22, 3), kChannelMsg},
                      Rejected{"Rate48000", WithU32(kCanonical, 24, 48000), kRateMsg},
                      Rejected{"Rate22051", WithU32(kCanonical, 24, 22051), kRateMsg},
                      Rejected{"ThreeBytesPerSample", WithByteRate(WavImage{}, 66150).Build(), kBitsMsg},
                      // Half a byte per sample rounds to 0 (ties to even), not to 1.
                      Rejected{"HalfByteRoundsToZero", WithByteRate(WavImage{}, 11025).Build(), kBitsMsg},
                      Rejected{"ZeroByteRate", WithByteRate(WavImage{}, 0).Build(), kBitsMsg},
                      Rejected{"NoData", Patched(kCanonical, 36, "dat_"), kDataMsg},
                      Rejected{"DataAfter18ByteGap", WithBetween(WavImage{}, Filler(18)).Build(), kDataMsg},
                      Rejected{"ListChunkBeforeData", WithBetween(WavImage{}, Filler(30, "LIST")).Build(), kDataMsg},
                      // 0.5 s at 11025 per second.
                      Rejected{"HalfASecond", Image({11025, 1, 8}, 5513).Build(), kShortMsg},
                      Rejected{"OneSampleShortOfTheShortestTime", Image({44100, 1, 16}, 48508).Build(), kShortMsg},
                      Rejected{"EmptyData", Image(kMono16, 0).Build(), kShortMsg},
                      Rejected{"OneSampleOverTheLongestTime", Announcing({44100, 2, 16}, 1058400004u).Build(),
                               kLongMsg},
                      // 2^32 - 1 bytes of 8-bit mono are 27 hours: too long, whatever the sign of an int32.
                      Rejected{"LargestDataSize", Announcing({44100, 1, 8}, 0xFFFFFFFFu).Build(), kLongMsg},
                      Rejected{"DataSizeWithTopBitSet", Announcing({11025, 1, 8}, 0x80000000u).Build(), kLongMsg}),
    [](const ::testing::TestParamInfo<Rejected>& row) { return std::string(row.param.Name); });

TEST_F(CheckWavFileTest, TheLongestTimeFollowsSetMaxTime) {
    // 11 s at 22050, 8-bit mono.
    const Bytes elevenSeconds = Image({22050, 1, 8}, 11 * 22050).Build();
    WriteFileBytes(path, elevenSeconds);
    WavHead newHead;

    wav->SetMaxTime(11.0);
    EXPECT_EQ(wav->CheckWavFile(path, oldHead, newHead), 0) << "exactly the limit";
    EXPECT_EQ(wav->MaxTime(), 11.0);

    // The message shows the limit as the nearest integer, ties to even.
    const std::pair<double, const char*> cases[] = {
        {10.0, "10"}, {10.4, "10"}, {10.6, "11"}, {10.5, "10"}, {9.5, "10"}};
    for (const auto& [limit, shown] : cases) {
        host.Clear();
        wav->SetMaxTime(limit);
        EXPECT_EQ(wav->CheckWavFile(path, oldHead, newHead), -1) << limit;
        EXPECT_EQ(host.Errors, std::vector<std::string>{std::string("Recording time of this file must be less than ") +
                                                        shown + " sec."})
            << "limit " << limit;
    }
}

}  // namespace
