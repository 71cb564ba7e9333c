// Several inputs merged on real parts: pseudo-terminals as serial inputs (the
// main one a built-in port, the extra ones by host path), real TCP and UDP
// sockets, and the virtual port driver's ports read through their links.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/host/unique_fd.h"
#include "relay/relay_health.h"
#include "relay/relay_run.h"
#include "state/app_settings.h"
#include "state/port_lists.h"
#include "support/test_device.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace {

using namespace tavrel::testing;
using namespace std::chrono_literals;
using Bytes = std::vector<unsigned char>;

Bytes BytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// A sentence that names its input and number, so that a reader can tell
// whose it is and whether it is whole.
std::string Sentence(const std::string& talker, int number)
{
    return "$" + talker + "TXT," + std::to_string(number) + ",0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ*00\r\n";
}

// Writes `text` in pieces of 1 to 12 bytes, yielding between them, so that
// the relay reads each input's lines in many parts.
void WriteInPieces(const PtyPair& input, const std::string& text, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> size(1, 12);
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t piece = std::min(size(random), text.size() - at);
        input.Write(BytesOf(text.substr(at, piece)));
        at += piece;
        std::this_thread::yield();
    }
}

// The lines of `received`, each of which must be one of the sentences.
std::vector<std::string> Lines(const Bytes& received)
{
    std::vector<std::string> lines;
    std::string line;
    for (const unsigned char byte : received) {
        line += static_cast<char>(byte);
        if (byte == '\n') {
            lines.push_back(std::move(line));
            line.clear();
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

// Whether `lines` hold, for each talker, exactly its sentences 0 to count-1
// in order, whole, whatever the talkers' interleaving.
::testing::AssertionResult EachInputsLinesWholeAndInOrder(const std::vector<std::string>& lines,
                                                         const std::vector<std::string>& talkers, int count)
{
    std::map<std::string, int> next;
    for (const std::string& line : lines) {
        const std::string talker = line.substr(1, 2);
        if (line != Sentence(talker, next[talker])) {
            return ::testing::AssertionFailure() << "not the next whole sentence of " << talker << ": " << line;
        }
        ++next[talker];
    }
    for (const std::string& talker : talkers) {
        if (next[talker] != count) {
            return ::testing::AssertionFailure() << talker << " has " << next[talker] << " of " << count << " lines";
        }
    }
    return ::testing::AssertionSuccess();
}

class MergedInputsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_.InstallVirtualPortDriver(QUORVEL_MODULE_PATH);
        for (int n : {2, 3}) {
            device_.WriteVirtualPortKey(n);
        }
        device_.MapBuiltInPort(u"Gps", 1, gps_.slavePath());
        device_.Reboot();
        AppSettings = Settings{};
        AppSettings.inputPort = 1;
        AppSettings.baudIndex = 6;
        SplitOutputs = {2, 3};
    }
    void TearDown() override
    {
        SplitOutputs.clear();
        for (int fd : readers_) {
            ::close(fd);
        }
    }

    static ExtraInput SerialAt(const std::string& path)
    {
        ExtraInput input;
        input.device = path;
        input.baudRate = 9600;
        return input;
    }

    // Opens COM2 and COM3 and waits until a line of the main input reaches both.
    ::testing::AssertionResult OpenReaders()
    {
        for (int n : {2, 3}) {
            readers_.push_back(OpenRaw(device_.PortLink(n).string()));
            if (readers_.back() < 0) {
                return ::testing::AssertionFailure() << "COM" << n << " cannot be opened";
            }
        }
        for (int tries = 0; tries < 100; ++tries) {
            gps_.Write(BytesOf("$GPTST\r\n"));
            if (ReadFor(readers_[0], 8, 200ms).size() == 8 && ReadFor(readers_[1], 8, 5s).size() == 8) {
                return Drained();
            }
        }
        return ::testing::AssertionFailure() << "the relay did not reach the readers";
    }

    ::testing::AssertionResult Drained()
    {
        for (int fd : readers_) {
            while (!ReadFor(fd, 4096, 300ms).empty()) {
            }
        }
        return ::testing::AssertionSuccess();
    }

    // Waits until what the readers get holds a line equal to `line`.
    bool ReaderGets(const std::string& line, const std::function<void()>& send, std::chrono::seconds within = 20s)
    {
        const auto deadline = std::chrono::steady_clock::now() + within;
        std::string seen;
        while (std::chrono::steady_clock::now() < deadline) {
            send();
            const Bytes got = ReadFor(readers_[0], 4096, 200ms);
            seen.append(got.begin(), got.end());
            if (seen.find(line) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    PtyPair gps_;
    TestDevice device_;
    std::vector<int> readers_;
};

TEST_F(MergedInputsTest, TwoInputsWritingInRandomPiecesReachEveryOutputAsWholeLinesInEachInputsOrder)
{
    PtyPair ais;
    AppSettings.extraInputs = {SerialAt(ais.slavePath())};
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(OpenReaders());
    constexpr int kLines = 200;
    std::string gpsText;
    std::string aisText;
    for (int i = 0; i < kLines; ++i) {
        gpsText += Sentence("GP", i);
        aisText += Sentence("AI", i);
    }
    std::thread second([&] { WriteInPieces(ais, aisText, 2); });
    WriteInPieces(gps_, gpsText, 1);
    second.join();
    for (int fd : readers_) {
        const Bytes received = ReadFor(fd, gpsText.size() + aisText.size(), 60s);
        EXPECT_TRUE(EachInputsLinesWholeAndInOrder(Lines(received), {"GP", "AI"}, kLines));
    }
    const RelayHealth health = TakeRelayHealth();
    ASSERT_EQ(health.inputs.size(), 2u);
    EXPECT_EQ(health.inputs[1].kind, "serial");
    EXPECT_EQ(health.inputs[1].state, InputState::Relaying);
    EXPECT_EQ(health.inputs[1].lines, static_cast<std::uint64_t>(kLines));
    EXPECT_EQ(health.inputs[1].torn, 0u);
    ASSERT_TRUE(run.Stop());
}

// A receiver named by a link that follows it (as /dev/serial/by-id does): when
// it goes away and the link comes back pointing at another device node, the
// input reads from there, and the run went on meanwhile.
TEST_F(MergedInputsTest, AnExtraSerialInputFollowsItsLinkToANewDevice)
{
    TempFolder links;
    const std::filesystem::path link = links.path() / "usb-receiver-if00-port0";
    auto first = std::make_unique<PtyPair>();
    std::filesystem::create_symlink(first->slavePath(), link);
    AppSettings.extraInputs = {SerialAt(link.string())};
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(OpenReaders());
    ASSERT_TRUE(ReaderGets("$AIONE\r\n", [&] { first->Write(BytesOf("$AIONE\r\n")); }));
    first.reset();
    std::filesystem::remove(link);
    PtyPair second;
    std::filesystem::create_symlink(second.slavePath(), link);
    EXPECT_TRUE(ReaderGets("$AITWO\r\n", [&] { second.Write(BytesOf("$AITWO\r\n")); }));
    EXPECT_TRUE(ReaderGets("$GPMAIN\r\n", [&] { gps_.Write(BytesOf("$GPMAIN\r\n")); }));
    ASSERT_TRUE(run.Stop());
}

// With Reconnect on, a main input that goes away leaves the outputs open and
// waits for it; the extra inputs' lines go out meanwhile.
TEST_F(MergedInputsTest, WhileReconnectWaitsForTheMainInputTheExtraInputsGoOn)
{
    PtyPair ais;
    AppSettings.extraInputs = {SerialAt(ais.slavePath())};
    AppSettings.reconnect.store(1);
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(OpenReaders());
    gps_.CloseMaster();
    const auto lost = [] {
        const RelayHealth health = TakeRelayHealth();
        return !health.inputs.empty() && health.inputs[0].state == InputState::Lost;
    };
    for (int i = 0; i < 2000 && !lost(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(lost());
    EXPECT_TRUE(ReaderGets("$AIVDM,1\r\n", [&] { ais.Write(BytesOf("$AIVDM,1\r\n")); }));
    EXPECT_TRUE(run.running());
    ASSERT_TRUE(run.Stop());
}

// A receiver standing by for the main one: its lines go out only while the
// main one is silent, and stop when it sends again.
TEST_F(MergedInputsTest, AStandbyTakesOverWhileTheMainInputIsSilentAndGivesBack)
{
    PtyPair spare;
    ExtraInput standby = SerialAt(spare.slavePath());
    standby.standbyFor = 0;
    standby.standbySeconds = 1;
    AppSettings.extraInputs = {standby};
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(OpenReaders());
    // The main input is silent from here: within its 1 s and a second more the spare is heard.
    const auto silentSince = std::chrono::steady_clock::now();
    ASSERT_TRUE(ReaderGets("$GNSPARE\r\n", [&] { spare.Write(BytesOf("$GNSPARE\r\n")); }));
    EXPECT_LT(std::chrono::steady_clock::now() - silentSince, 20s);
    EXPECT_EQ(TakeRelayHealth().inputs[1].state, InputState::Relaying);
    // The main input is back: the spare stops at once while the main one keeps talking.
    ASSERT_TRUE(ReaderGets("$GPBACK\r\n", [&] { gps_.Write(BytesOf("$GPBACK\r\n")); }));
    std::string heard;
    for (int i = 0; i < 5; ++i) {
        gps_.Write(BytesOf("$GPBACK\r\n"));
        spare.Write(BytesOf("$GNLATE\r\n"));
        const Bytes got = ReadFor(readers_[0], 4096, 200ms);
        heard.append(got.begin(), got.end());
    }
    EXPECT_EQ(heard.find("$GNLATE"), std::string::npos);
    EXPECT_EQ(TakeRelayHealth().inputs[1].state, InputState::StandingBy);
    ASSERT_TRUE(run.Stop());
}

platform::host::UniqueFd UdpSocket()
{
    return platform::host::UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
}

std::uint16_t FreeUdpPort()
{
    const platform::host::UniqueFd probe = UdpSocket();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

// A TCP server whose peer is the relay's TCP source, on a port of its own.
class LineServer {
public:
    explicit LineServer(std::uint16_t port = 0) : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const int on = 1;
        ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_.get(), 4);
        socklen_t size = sizeof address;
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    std::uint16_t port() const { return port_; }
    // Takes the source's connection (waiting for it) and sends `text` on it.
    void Send(const std::string& text)
    {
        if (!client_.valid()) {
            client_ = platform::host::UniqueFd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        }
        ::send(client_.get(), text.data(), text.size(), MSG_NOSIGNAL);
    }

private:
    platform::host::UniqueFd listener_;
    platform::host::UniqueFd client_;
    std::uint16_t port_ = 0;
};

TEST_F(MergedInputsTest, TcpAndUdpInputsAreMergedAndATcpServerThatComesBackIsReadAgain)
{
    auto server = std::make_unique<LineServer>();
    const std::uint16_t tcpPort = server->port();
    ExtraInput tcp;
    tcp.kind = ExtraInputKind::Tcp;
    tcp.device = "127.0.0.1";
    tcp.port = tcpPort;
    ExtraInput udp;
    udp.kind = ExtraInputKind::Udp;
    udp.port = FreeUdpPort();
    AppSettings.extraInputs = {tcp, udp};
    RelayRun run;
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(OpenReaders());
    EXPECT_TRUE(ReaderGets("$WIMWV,1\r\n", [&] { server->Send("$WIMWV,1\r\n"); }));
    const platform::host::UniqueFd sender = UdpSocket();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(udp.port);
    const std::string datagram = "$SDDPT,4.1,0.0*00\r\n";
    EXPECT_TRUE(ReaderGets(datagram, [&] {
        ::sendto(sender.get(), datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }));
    server.reset();   // the server goes away, and comes back on its port
    server = std::make_unique<LineServer>(tcpPort);
    EXPECT_TRUE(ReaderGets("$WIMWV,2\r\n", [&] { server->Send("$WIMWV,2\r\n"); }, 60s));
    const RelayHealth health = TakeRelayHealth();
    ASSERT_EQ(health.inputs.size(), 3u);
    EXPECT_EQ(health.inputs[1].state, InputState::Relaying);
    EXPECT_EQ(health.inputs[2].kind, "udp");
    EXPECT_GE(health.inputs[2].lines, 1u);
    ASSERT_TRUE(run.Stop());
}

}  // namespace
