#include "platform/posix/PulseCapture.h"

#include <pulse/error.h>
#include <pulse/simple.h>

namespace ruvo {
namespace {

constexpr std::uint32_t kRate = 22050;
// The server hands the samples over in pieces of 512 (23 ms): a note shown late by a long
// fragment would defeat the live mode.
constexpr std::uint32_t kFragmentBytes = 1024;

}  // namespace

TPulseCapture::~TPulseCapture() { Close(); }

std::string TPulseCapture::Open(const std::string& device) {
    Close();
    pa_sample_spec sampleFormat{};
    sampleFormat.format = PA_SAMPLE_S16LE;
    sampleFormat.rate = kRate;
    sampleFormat.channels = 1;
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = kFragmentBytes;
    int error = 0;
    m_stream = pa_simple_new(nullptr, "ruvo-convert", PA_STREAM_RECORD, device.empty() ? nullptr : device.c_str(),
                             "live notes", &sampleFormat, nullptr, &attr, &error);
    if (m_stream == nullptr) {
        return std::string(device.empty() ? "the default sound input" : "the sound input " + device) +
               " cannot be opened: " + pa_strerror(error);
    }
    return {};
}

std::string TPulseCapture::Read(std::span<std::int16_t> samples) {
    if (m_stream == nullptr) return "the sound input is not open";
    int error = 0;
    if (pa_simple_read(m_stream, samples.data(), samples.size_bytes(), &error) < 0) {
        return std::string("the sound input failed: ") + pa_strerror(error);
    }
    return {};
}

void TPulseCapture::Close() {
    if (m_stream != nullptr) pa_simple_free(m_stream);
    m_stream = nullptr;
}

}  // namespace ruvo
