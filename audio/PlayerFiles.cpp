#include "audio/PlayerFiles.h"

#include "engine/FileIoError.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <vector>

namespace ruvo {

namespace {

constexpr std::int64_t kFrameSamples = 1024;
constexpr std::int64_t kAnalysisRate = 22050;

void PutLe32(char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
    }
}

std::uint32_t GetLe32(const char* at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | static_cast<std::uint8_t>(at[i]);
    }
    return value;
}

void WriteLe32At(std::fstream& file, const std::string& name, std::streamoff at, std::uint32_t value) {
    char bytes[4];
    PutLe32(bytes, value);
    file.seekp(at);
    file.write(bytes, 4);
    if (!file) {
        throw FileIoError(name, "write", std::strerror(errno));
    }
}

}  // namespace

ExcerptRange SelectionBytes(const WavHead& rec) {
    const std::int64_t frameBytes =
        kFrameSamples * rec.SampleRate / kAnalysisRate * (rec.BitsPerSample == 16 ? 2 : 1) * (rec.Channels == 2 ? 2 : 1);
    return {std::int64_t{rec.SelStart} * frameBytes, std::int64_t{rec.SelEnd - rec.SelStart} * frameBytes};
}

const char* ExcerptMessage(std::int32_t result) {
    switch (result) {
    case kExcerptReversed:
        return "Nothing to play: the selection ends before it starts.";
    case kExcerptEmpty:
        return "Nothing to play: the selection holds no sound.";
    default:
        return "";
    }
}

std::int32_t CutWavExcerpt(const WavHead& rec, const std::string& name) {
    const ExcerptRange range = SelectionBytes(rec);
    if (range.Length < 0) {
        return kExcerptReversed;
    }
    std::ifstream source(rec.FileName, std::ios::binary);
    if (!source) {
        throw FileIoError(rec.FileName, "open", std::strerror(errno));
    }
    const std::int64_t headerBytes = std::int64_t{rec.DataOffset} - 1;
    if (headerBytes < 12) {
        throw FileIoError(rec.FileName, "read", std::strerror(errno));
    }
    std::vector<char> header(static_cast<std::size_t>(headerBytes));
    source.read(header.data(), static_cast<std::streamsize>(header.size()));
    if (!source) {
        throw FileIoError(rec.FileName, "read", std::strerror(errno));
    }
    source.seekg(0, std::ios::end);
    const std::int64_t fileBytes = source.tellg();
    // What the data chunk holds: its declared size, but never more than the file.
    const std::int64_t declared = GetLe32(header.data() + headerBytes - 4);
    const std::int64_t dataBytes = std::min(declared, fileBytes - headerBytes);
    const std::int64_t start = std::min(range.Start, dataBytes);
    const std::int64_t length = std::min(range.Length, dataBytes - start);
    if (length <= 0) {
        return kExcerptEmpty;
    }

    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw FileIoError(name, "open", std::strerror(errno));
    }
    const bool pad = (length % 2) != 0;  // chunks are word-aligned
    PutLe32(header.data() + 4, static_cast<std::uint32_t>(headerBytes - 8 + length + (pad ? 1 : 0)));
    PutLe32(header.data() + headerBytes - 4, static_cast<std::uint32_t>(length));
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    source.seekg(headerBytes + start);
    std::vector<char> block(kExcerptBlockBytes);
    for (std::int64_t left = length; left > 0;) {
        const auto want = static_cast<std::streamsize>(std::min<std::int64_t>(left, kExcerptBlockBytes));
        source.read(block.data(), want);
        const std::streamsize got = source.gcount();
        if (got <= 0) {
            throw FileIoError(rec.FileName, "read", std::strerror(errno));
        }
        out.write(block.data(), got);
        left -= got;
    }
    if (pad) {
        out.put('\0');
    }
    out.close();
    if (!out) {
        throw FileIoError(name, "write", std::strerror(errno));
    }
    return kExcerptDone;
}

void WriteRecordingHeader(const std::string& name) {
    std::array<char, kRecordingHeaderBytes> header{};
    std::memcpy(header.data(), "RIFF", 4);
    PutLe32(header.data() + 4, kTemplateRiffSize);
    std::memcpy(header.data() + 8, "WAVEfmt ", 8);
    PutLe32(header.data() + 16, 16);
    header[20] = 1;  // PCM
    header[22] = 1;  // one channel
    PutLe32(header.data() + 24, kRecordingRate);
    PutLe32(header.data() + 28, kRecordingRate * 2);
    header[32] = 2;   // block align
    header[34] = 16;  // bits per sample
    std::memcpy(header.data() + 36, "data", 4);
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(header.data(), header.size());
    out.close();
    if (!out) {
        throw FileIoError(name, "write", std::strerror(errno));
    }
    std::error_code error;
    std::filesystem::permissions(name, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, error);
    if (error) {
        throw FileIoError(name, "write", error.message());
    }
}

std::int32_t RepairRecordingHeader(const std::string& name) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(name, error);
    if (error || size < static_cast<std::uintmax_t>(kRecordingHeaderBytes)) {
        throw FileIoError(name, "read", error ? error.message() : "shorter than a WAV header");
    }
    // Whole samples; no more than the header's signed size can announce.
    const std::uintmax_t whole = (size - kRecordingHeaderBytes) & ~std::uintmax_t{1};
    const auto dataBytes = static_cast<std::int32_t>(std::min<std::uintmax_t>(whole, kMaxRecordingBytes));
    if (static_cast<std::uintmax_t>(dataBytes) + kRecordingHeaderBytes != size) {
        std::filesystem::resize_file(name, static_cast<std::uintmax_t>(dataBytes) + kRecordingHeaderBytes, error);
        if (error) {
            throw FileIoError(name, "write", error.message());
        }
    }
    FinishRecordingHeader(name, dataBytes);
    return dataBytes;
}

void FinishRecordingHeader(const std::string& name, std::int32_t dataBytes) {
    std::fstream file(name, std::ios::binary | std::ios::in | std::ios::out);
    if (!file) {
        throw FileIoError(name, "open", std::strerror(errno));
    }
    WriteLe32At(file, name, 40, static_cast<std::uint32_t>(dataBytes));
    WriteLe32At(file, name, 4, static_cast<std::uint32_t>(kRecordingHeaderBytes - 8 + dataBytes));
}

std::int64_t RecordingSecondsLeft(const std::string& name) {
    constexpr std::int64_t kBytesPerSecond = std::int64_t{kRecordingRate} * 2;
    std::int64_t left = std::numeric_limits<std::int64_t>::max();
    struct statvfs disk {};
    const std::string folder = std::filesystem::path(name).parent_path().string();
    if (::statvfs(folder.empty() ? "." : folder.c_str(), &disk) == 0) {
        left = static_cast<std::int64_t>(disk.f_bavail) * static_cast<std::int64_t>(disk.f_frsize);
    }
    struct rlimit limit {};
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(name, error);
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && !error) {
        const auto most = static_cast<std::int64_t>(limit.rlim_cur) - static_cast<std::int64_t>(size);
        left = std::min(left, std::max<std::int64_t>(most, 0));
    }
    left = std::min(left, std::int64_t{kMaxRecordingBytes} - static_cast<std::int64_t>(error ? 0 : size));
    return std::max<std::int64_t>(left, 0) / kBytesPerSecond;
}

void FillRecordingRecord(WavHead& rec, std::int32_t dataBytes) {
    rec.SampleRate = kRecordingRate;
    rec.SampleCount = dataBytes / 2;
    rec.Is16Bit = 1;
    rec.BitsPerSample = 16;
    rec.Channels = 1;
    rec.DataOffset = kRecordingHeaderBytes + 1;
    for (std::string* name : {&rec.Temp1FileName, &rec.Temp2FileName, &rec.NormFileName, &rec.IntenFileName,
                              &rec.ThresholdFileName, &rec.HarmonicFileName, &rec.NoteIntenFileName, &rec.OctFileName,
                              &rec.RawNoteFileName, &rec.MidiFileName, &rec.MidiGridFileName}) {
        name->clear();
    }
}

}  // namespace ruvo
