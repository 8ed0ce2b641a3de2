#include "JackTestServer.h"

#include <jack/jack.h>

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>

namespace ruvo::test {

namespace {

// Starts `argv` with its output into `out` (thrown away when -1); it ends with the test, even
// a test that crashes.
pid_t Spawn(std::vector<const char*> argv, int out = -1) {
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(out >= 0 ? out : quiet, 1);
        dup2(quiet, 2);
        execvp(argv[0], const_cast<char**>(argv.data()));
        _exit(127);
    }
    return pid;
}

void End(pid_t& pid, int signal) {
    if (pid > 0) {
        kill(pid, signal);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
}

}  // namespace

JackTestServer::JackTestServer() {
    setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
    m_pid = Spawn({"jackd", "-n", m_name.c_str(), "-d", "dummy", "-r", "22050", "-p", "256"});
    // Up once a client can open.
    for (int tries = 0; m_pid > 0 && tries < 100; ++tries) {
        jack_status_t status{};
        if (jack_client_t* probe = jack_client_open("ruvo_probe", JackNoStartServer, &status)) {
            jack_client_close(probe);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Kill();
}

JackTestServer::~JackTestServer() { Kill(); }

// A server killed outright keeps its place in JACK's registry of servers, which has room for
// eight: the tests end theirs as a user does, which the clients see the same way.
void JackTestServer::Kill() {
    End(m_pid, SIGTERM);
    // What the semaphores of clients that outlived the server leave behind.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
        if (entry.path().filename().string().find("_" + m_name + "_") != std::string::npos) {
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

JackRecorder::JackRecorder(const std::string& source) {
    int out[2];
    if (pipe(out) != 0) {
        return;
    }
    m_pid = Spawn({"jack_midi_dump", "-a", "ruvo_dump"}, out[1]);
    close(out[1]);
    m_output = out[0];
    // Connected once its port is there.
    for (int tries = 0; m_pid > 0 && !m_ok && tries < 100; ++tries) {
        int status = -1;
        waitpid(Spawn({"jack_connect", source.c_str(), "ruvo_dump:input"}), &status, 0);
        m_ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(m_ok ? 0 : 50));
    }
}

JackRecorder::~JackRecorder() {
    End(m_pid, SIGINT);
    close(m_output);
}

bool JackRecorder::NextLine(std::string& line, std::chrono::steady_clock::time_point end) {
    std::size_t newline = 0;
    while ((newline = m_pending.find('\n')) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd ready{m_output, POLLIN, 0};
        char bytes[4096];
        ssize_t got = 0;
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
            (got = read(m_output, bytes, sizeof bytes)) <= 0) {
            return false;
        }
        m_pending.append(bytes, static_cast<std::size_t>(got));
    }
    line = m_pending.substr(0, newline);
    m_pending.erase(0, newline + 1);
    return true;
}

std::vector<ReceivedEvent> JackRecorder::WaitFor(std::size_t count, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::vector<ReceivedEvent> events;
    for (std::string line; m_ok && events.size() < count && NextLine(line, end);) {
        // "  10001: 90 40 40 note on  (channel  0): ...": the frame, the bytes, what they mean.
        std::istringstream fields(line);
        ReceivedEvent event;
        fields >> event.Frame;
        fields.ignore(1);
        for (std::string byte; fields >> byte && byte.size() == 2 && std::isxdigit(byte[0]) != 0;) {
            event.Bytes.push_back(static_cast<unsigned char>(std::stoul(byte, nullptr, 16)));
        }
        events.push_back(std::move(event));
    }
    return events;
}

}  // namespace ruvo::test
