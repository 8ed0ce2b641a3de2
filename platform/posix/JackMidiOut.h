#pragma once
// A MIDI output port of a JACK client ("ruvo:midi_out" unless told otherwise) for synthesizers
// and sequencers of other programs. Messages are queued lock-free by the sending thread and
// written by JACK's process callback, each at the place in the period where it was sent, one
// period later. Never starts a JACK server; when none runs, when the name is taken or when the
// server goes away, it says why (LastError) and sends nothing. No Qt, so that the converter can
// use it too. Owned by its user; the sends come from one thread at a time.

#include "platform/IMidiOut.h"

#include <jack/types.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace ruvo {

class JackMidiOut : public IMidiOut {
public:
    static constexpr const char* kDefaultPort = "ruvo:midi_out";
    // Closes the client when the server is gone and the shutdown handler has posted its word.
    using ShutdownHandler = std::function<void(const std::string& reason)>;

    JackMidiOut();
    ~JackMidiOut() override;
    JackMidiOut(const JackMidiOut&) = delete;
    JackMidiOut& operator=(const JackMidiOut&) = delete;

    // Registers the client and its port, `portName` as "client:port", and activates it;
    // kMidiOpenOk, kMidiNoDevice (no server), kMidiAllocated (the name is taken) or
    // kMidiOpenFailed, with LastError(). Open while open changes nothing.
    [[nodiscard]] std::int32_t OpenPort(std::string_view portName);
    // Closes the client; its connections go with it.
    void ClosePort();
    // Open, and its server still there.
    bool IsOpen() const;
    const std::string& LastError() const { return m_lastError; }
    // "client:port" as JACK knows it (empty when closed).
    const std::string& PortName() const { return m_portName; }
    // Called on a JACK thread when the server goes away; it may only post a message to its own
    // thread, which then calls ClosePort. Set before OpenPort.
    void SetShutdownHandler(ShutdownHandler handler) { m_onShutdown = std::move(handler); }

    // Channel 0..15, key and velocity 0..127. False when the message was not queued (closed,
    // server gone, or the queue full because the server stalls).
    bool NoteOn(int channel, int key, int velocity);
    bool NoteOff(int channel, int key);
    bool ProgramChange(int channel, int program);
    // All notes off (controller 123) on every channel used since the port opened.
    bool AllNotesOff();
    // A short message: status in the low byte, then the two data bytes.
    bool Send(std::uint32_t message);
    // Messages not queued since the port opened.
    std::int64_t Dropped() const { return m_dropped; }

    // IMidiOut, for the keyboard and the player: Open opens kDefaultPort; Close leaves the
    // port open, so that connections to it stay while keys come and go.
    std::int32_t Open() override;
    void Reset() override;
    void ShortMsg(std::uint32_t message) override { (void)Send(message); }
    void Close() override {}
    std::string Unavailable() const override;

private:
    // One short message and the frame time at which it was sent.
    struct Event {
        jack_nframes_t Sent = 0;
        std::array<unsigned char, 3> Bytes{};
        std::uint8_t Size = 0;
    };
    static constexpr std::size_t kQueueSize = 1024;  // a power of two

    static int Process(jack_nframes_t frames, void* self);
    static void InfoShutdown(jack_status_t code, const char* reason, void* self);
    void WriteEvents(jack_nframes_t frames);
    std::int32_t Fail(std::int32_t result, std::string text);

    jack_client_t* m_client = nullptr;
    jack_port_t* m_port = nullptr;
    // Single producer (a sender, under m_sendLock), single consumer (the process callback).
    std::array<Event, kQueueSize> m_queue{};
    std::atomic<std::size_t> m_written{0};
    std::atomic<std::size_t> m_read{0};
    std::mutex m_sendLock;  // between senders only; the process callback never takes it
    std::atomic<bool> m_serverGone{false};
    std::uint16_t m_usedChannels = 0;
    std::int64_t m_dropped = 0;
    std::string m_portName;
    std::string m_lastError;
    ShutdownHandler m_onShutdown;
};

}  // namespace ruvo
