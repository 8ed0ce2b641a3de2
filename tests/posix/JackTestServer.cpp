#include "JackTestServer.h"

#include <jack/jack.h>

#include <cctype>
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

namespace {

// Runs a program with its output thrown away; its exit status, or -1.
int Run(const std::vector<const char*>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int status = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv.data()), environ) == 0) {
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

JackRecorder::JackRecorder(const std::string& source) {
    int out[2];
    if (pipe(out) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const char* argv[] = {"jack_midi_dump", "-a", "ruvo_dump", nullptr};
    if (posix_spawnp(&m_pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
        m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    m_output = out[0];
    // Connected once its port is there.
    for (int tries = 0; m_pid > 0 && !m_ok && tries < 100; ++tries) {
        m_ok = Run({"jack_connect", source.c_str(), "ruvo_dump:input", nullptr}) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(m_ok ? 0 : 50));
    }
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
        kill(m_pid, SIGINT);
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
