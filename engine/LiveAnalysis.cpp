#include "engine/LiveAnalysis.h"

#include "engine/FileIoError.h"

#include <ctime>
#include <new>

namespace ruvo {
namespace {

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

std::uint32_t LiveEventMessage(const LiveNoteEvent& event, std::int32_t channel) {
    const auto status = static_cast<std::uint32_t>(0x90 | (channel & 0x0F));
    const auto velocity = static_cast<std::uint32_t>(event.On ? event.Velocity & 0x7F : 0);
    return status | (static_cast<std::uint32_t>(event.Key & 0x7F) << 8) | (velocity << 16);
}

LiveAnalysis::LiveAnalysis(double margin, std::function<void()> wake)
    : m_wake(std::move(wake)),
      m_live(std::make_unique<TLiveMelody>(margin)),
      m_thread([this](std::stop_token stop) { Run(stop); }) {}

LiveAnalysis::~LiveAnalysis() {
    m_thread.request_stop();
    m_changed.notify_all();
}

void LiveAnalysis::Push(const char* bytes, std::size_t size) {
    m_odd.insert(m_odd.end(), bytes, bytes + size);
    std::vector<std::int16_t> samples(m_odd.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto low = static_cast<std::uint8_t>(m_odd[2 * i]);
        const auto high = static_cast<std::uint8_t>(m_odd[2 * i + 1]);
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
    }
    m_odd.erase(m_odd.begin(), m_odd.begin() + static_cast<std::ptrdiff_t>(samples.size() * 2));
    if (samples.empty()) return;
    {
        const std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(samples));
    }
    m_changed.notify_one();
}

void LiveAnalysis::Finish() {
    {
        const std::lock_guard lock(m_mutex);
        m_finishing = true;
    }
    m_changed.notify_one();
}

void LiveAnalysis::Wait() {
    if (m_thread.joinable()) m_thread.join();
}

LiveSnapshot LiveAnalysis::Take() {
    const std::lock_guard lock(m_mutex);
    LiveSnapshot result = m_result;
    m_result.Events.clear();
    return result;
}

double LiveAnalysis::CpuSeconds() const {
    const std::lock_guard lock(m_mutex);
    return m_cpuSeconds;
}

void LiveAnalysis::Run(std::stop_token stop) {
    std::vector<LiveNoteEvent> events;
    std::string error;
    try {
        TLiveMelody& live = *m_live;
        live.SetOnEvent([&events](const LiveNoteEvent& event) { events.push_back(event); });
        for (;;) {
            std::vector<std::int16_t> samples;
            bool finishing = false;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, stop, [this] { return !m_queue.empty() || m_finishing; });
                if (stop.stop_requested()) return;
                if (!m_queue.empty()) {
                    samples = std::move(m_queue.front());
                    m_queue.pop_front();
                } else {
                    finishing = true;
                }
            }
            if (finishing) {
                live.Finish();
            } else {
                live.Feed(samples);
            }
            {
                const std::lock_guard lock(m_mutex);
                m_result.Notes = live.Notes();
                m_result.FinalCount = m_result.Notes.size();
                m_result.Notes.insert(m_result.Notes.end(), live.Pending().begin(), live.Pending().end());
                m_result.Events.insert(m_result.Events.end(), events.begin(), events.end());
                m_result.SamplesAnalysed = live.SampleCount();
                m_result.Finished = finishing;
                m_cpuSeconds = ThreadCpuSeconds();
            }
            events.clear();
            m_wake();
            if (finishing) return;
        }
    } catch (const FileIoError& e) {
        error = "The live notes stopped: cannot " + e.Operation() + " " + e.Path() + ": " + e.Reason() + ".";
    } catch (const std::bad_alloc&) {
        error = "The live notes stopped: out of memory.";
    } catch (const std::exception& e) {
        error = std::string("The live notes stopped: ") + e.what() + ".";
    }
    {
        const std::lock_guard lock(m_mutex);
        m_result.Error = error;
    }
    m_wake();
}

}  // namespace ruvo
