#include "JackTestServer.h"

#include <jack/jack.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ruvo::test {

JackTestServer::JackTestServer() {
    setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
    const char* argv[] = {"jackd", "-n", m_name.c_str(), "-d", "dummy", "-r", "22050", "-p", "256", nullptr};
    // The server ends with the test even when the test crashes.
    m_pid = fork();
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(quiet, 2);
        execvp("jackd", const_cast<char**>(argv));
        _exit(127);
    }
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
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const char* argv[] = {RUVO_JACK_RECORD, source.c_str(), nullptr};
    if (posix_spawn(&m_pid, RUVO_JACK_RECORD, &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
        m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    m_output = out[0];
    std::string line;
    m_ok = m_pid > 0 && NextLine(line, std::chrono::seconds(5)) && line == "ready";
}

bool JackRecorder::NextLine(std::string& line, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (std::size_t newline; (newline = m_pending.find('\n')) == std::string::npos;) {
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
    const std::size_t newline = m_pending.find('\n');
    line = m_pending.substr(0, newline);
    m_pending.erase(0, newline + 1);
    return true;
}

JackRecorder::~JackRecorder() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_output >= 0) {
        close(m_output);
    }
}

std::vector<ReceivedEvent> JackRecorder::WaitFor(std::size_t count, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::vector<ReceivedEvent> events;
    std::string line;
    while (m_ok && events.size() < count &&
           NextLine(line, std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()))) {
        std::istringstream fields(line);
        ReceivedEvent event;
        fields >> event.Frame >> event.SeenUSecs >> event.EventUSecs >> std::hex;
        for (unsigned byte = 0; fields >> byte;) {
            event.Bytes.push_back(static_cast<unsigned char>(byte));
        }
        events.push_back(std::move(event));
    }
    return events;
}

}  // namespace ruvo::test
