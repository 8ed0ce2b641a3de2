#pragma once
// For the JACK tests: a private `jackd -d dummy` server under a name of its own (so that tests
// run side by side), and `jack_midi_dump` recording what a port sends.

#include <jack/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <unistd.h>
#include <vector>

namespace ruvo::test {

// Starts the server and points this process's JACK clients at it; stops it when destroyed.
class JackTestServer {
public:
    JackTestServer();
    ~JackTestServer();
    JackTestServer(const JackTestServer&) = delete;
    JackTestServer& operator=(const JackTestServer&) = delete;
    bool Running() const { return m_pid > 0; }
    // Ends the server now, under its clients' feet.
    void Kill();

private:
    std::string m_name = "ruvo_test_" + std::to_string(getpid());
    pid_t m_pid = -1;
};

struct ReceivedEvent {
    jack_nframes_t Frame = 0;  // frames since the recorder started
    std::vector<unsigned char> Bytes;
};

class JackRecorder {
public:
    // Starts jack_midi_dump as the client "ruvo_dump" and connects `source` to it.
    explicit JackRecorder(const std::string& source);
    ~JackRecorder();
    JackRecorder(const JackRecorder&) = delete;
    JackRecorder& operator=(const JackRecorder&) = delete;
    bool Ok() const { return m_ok; }
    // Waits until `count` events have come (or the time is up) and returns those.
    std::vector<ReceivedEvent> WaitFor(std::size_t count, std::chrono::milliseconds limit);

private:
    bool NextLine(std::string& line, std::chrono::steady_clock::time_point end);

    pid_t m_pid = -1;
    int m_output = -1;  // the recorder's standard output
    std::string m_pending;
    bool m_ok = false;
};

}  // namespace ruvo::test
