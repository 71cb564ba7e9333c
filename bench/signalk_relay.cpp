#include "bench/signalk_relay.h"

#include <cstdlib>
#include <sys/socket.h>

#include "platform/host/unique_fd.h"
#include "testkit/loopback.h"
#include "testkit/pty_pair.h"
#include "testkit/temp_folder.h"

namespace tavrel::bench {
namespace {

using namespace std::chrono_literals;

// node, the script and its configuration folder, written afresh.
std::vector<std::string> Arguments(const std::filesystem::path& folder, const std::filesystem::path& install,
                                   const std::vector<SignalKProvider>& providers)
{
    const std::filesystem::path configuration = folder / "signalk";
    std::filesystem::create_directories(configuration);
    testing::WriteWholeFile(configuration / "settings.json", SignalKSettings(providers));
    return {"node", SignalKScript(install).string(), "-c", configuration.string()};
}

}  // namespace

std::filesystem::path SignalKScript(const std::filesystem::path& install)
{
    return install / "node_modules" / "signalk-server" / "bin" / "signalk-server";
}

std::string SignalKSettings(const std::vector<SignalKProvider>& providers)
{
    std::string json = "{\n  \"interfaces\": {},\n  \"pipedProviders\": [";
    for (const auto& [id, port] : providers) {
        json += std::string(json.ends_with("[") ? "" : ",") + "\n    {\"id\": \"" + id +
                "\", \"enabled\": true, \"pipeElements\": [{\"type\": \"providers/simple\", \"options\": "
                "{\"logging\": false, \"type\": \"NMEA0183\", \"subOptions\": {\"type\": \"tcp\", "
                "\"host\": \"127.0.0.1\", \"port\": " +
                std::to_string(port) + "}}}]}";
    }
    return json + "\n  ]\n}\n";
}

SignalKRelay::SignalKRelay(const std::filesystem::path& folder, const std::filesystem::path& install,
                           const std::vector<SignalKProvider>& providers)
    : SignalKRelay(folder, install, providers, testing::FreeLoopbackPort(), testing::FreeLoopbackPort())
{
}

SignalKRelay::SignalKRelay(const std::filesystem::path& folder, const std::filesystem::path& install,
                           const std::vector<SignalKProvider>& providers, std::uint16_t httpPort,
                           std::uint16_t nmeaPort)
    : OneProcessRelay(folder, Arguments(folder, install, providers), nmeaPort), httpPort_(httpPort)
{
    // Read by the server at its start, which Launch makes.
    ::setenv("PORT", std::to_string(httpPort).c_str(), 1);
    ::setenv("NMEA0183PORT", std::to_string(nmeaPort).c_str(), 1);
    ::setenv("TCPSTREAMPORT", std::to_string(testing::FreeLoopbackPort()).c_str(), 1);
}

bool SignalKRelay::HasPosition() const
{
    const platform::host::UniqueFd socket(testing::ConnectLoopback(httpPort_));
    const std::string request =
        "GET /signalk/v1/api/vessels/self/navigation/position HTTP/1.0\r\nHost: localhost\r\n\r\n";
    if (!socket.valid() ||
        ::send(socket.get(), request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        return false;
    }
    const std::vector<unsigned char> answer = testing::ReadFor(socket.get(), 12, 2s);   // "HTTP/1.1 200"
    const std::string statusLine(answer.begin(), answer.end());
    return statusLine.starts_with("HTTP/1.") && statusLine.ends_with(" 200");
}

}  // namespace tavrel::bench
