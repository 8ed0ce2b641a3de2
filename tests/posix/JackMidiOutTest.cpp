#include "platform/posix/JackMidiOut.h"

#include "JackTestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>
#include <unistd.h>

namespace ruvo {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<unsigned char>;

TEST(JackMidiOutTest, WithoutServerSaysSoAndSendsNothing) {
    setenv("JACK_DEFAULT_SERVER", ("ruvo_none_" + std::to_string(getpid())).c_str(), 1);
    JackMidiOut out;
    EXPECT_EQ(out.Open(), kMidiNoDevice);
    EXPECT_EQ(out.LastError(), "No JACK server is running.");
    EXPECT_EQ(out.Unavailable(), "No JACK server is running.");
    EXPECT_FALSE(out.NoteOn(0, 60, 100));
    EXPECT_EQ(out.OpenPort("ruvo"), kMidiOpenFailed);
}

class JackMidiOutServerTest : public ::testing::Test {
protected:
    test::JackTestServer m_server;
};

// The messages arrive in the order sent, at the spacing they were sent with, one period later;
// the port's name is its own.
TEST_F(JackMidiOutServerTest, MessagesArriveInOrderAndInTime) {
    ASSERT_TRUE(m_server.Running());
    JackMidiOut out;
    ASSERT_EQ(out.Open(), kMidiOpenOk) << out.LastError();
    EXPECT_EQ(out.PortName(), "ruvo:midi_out");
    JackMidiOut second;
    EXPECT_EQ(second.Open(), kMidiAllocated);
    EXPECT_EQ(second.LastError(), "Another JACK client is already called \"ruvo\".");
    test::JackRecorder recorder("ruvo:midi_out");
    ASSERT_TRUE(recorder.Ok());
    ASSERT_TRUE(out.ProgramChange(0, 41));
    ASSERT_TRUE(out.NoteOn(0, 60, 100));
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(out.NoteOff(0, 60));
    out.ShortMsg(0x7f3e91);  // note on, channel 2, key 62, velocity 127
    out.Reset();
    out.ClosePort();  // after what was sent has gone out
    const std::vector<Bytes> expected = {
        {0xc0, 41}, {0x90, 60, 100}, {0x80, 60, 0}, {0x91, 62, 127}, {0xb0, 123, 0}, {0xb1, 123, 0}};
    const auto events = recorder.WaitFor(expected.size(), 2s);
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(events[i].Bytes, expected[i]) << "message " << i;
    }
    // 100 ms is 2205 frames; the sleep may last longer and the two sends fall anywhere in their
    // periods, but a note-off never comes sooner nor more than 60 ms late.
    const auto gap = static_cast<std::int32_t>(events[2].Frame - events[1].Frame);
    EXPECT_GE(gap, 2205 - 256);
    EXPECT_LE(gap, 2205 + 1323);
}

TEST_F(JackMidiOutServerTest, ServerGoingAwayIsReportedAndSendsStop) {
    ASSERT_TRUE(m_server.Running());
    JackMidiOut out;
    std::promise<std::string> told;
    out.SetShutdownHandler([&](const std::string& text) { told.set_value(text); });
    ASSERT_EQ(out.Open(), kMidiOpenOk) << out.LastError();
    m_server.Kill();
    auto future = told.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    const std::string reason = future.get();
    EXPECT_EQ(reason.rfind("The JACK server has gone away", 0), 0U) << reason;
    EXPECT_FALSE(out.IsOpen());
    EXPECT_FALSE(out.NoteOn(0, 60, 100));
    EXPECT_EQ(out.Unavailable(), "The JACK server has gone away.");
    out.ClosePort();
    EXPECT_EQ(out.Open(), kMidiNoDevice);
}

}  // namespace
}  // namespace ruvo
