#include "bench/report_page.h"

#include <sstream>

#include "bench/report_cells.h"

namespace tavrel::bench {
namespace {

const char* const kMethod =
    "How: each run starts the relay afresh on a new input pseudo-terminal (Tavrel on a fresh device, input COM9, "
    "Autostart, headless; socat as one process, or socat | tee | one socat per output, in one process group). "
    "Latency: numbered bytes written at random moments (gaps of 0.2 ms plus an exponential wait of 10 ms on "
    "average, not waiting for the relay, so a polling relay is met at every phase of its period), each from just "
    "before its write on the input until the last output has read it (one reader thread polls every output). Throughput: 100-byte writes as fast "
    "as the input takes them, every output read and compared byte for byte; from the first write to the last byte at "
    "the slowest output. CPU: utime + stime of every process of the relay (/proc/<pid>/stat, 10 ms ticks) over the "
    "throughput phase, per 10^6 bytes of input. Wake-ups: voluntary + nonvoluntary context switches of each thread "
    "(/proc/<pid>/task/*/status) with nothing sent. VmRSS: summed over the relay's processes after the throughput "
    "phase (shared library pages count once per process). Launch: from just before the spawn, while the input sends a "
    "byte every millisecond; a port counts as existing once its link opens and stays (Tavrel probes its ports "
    "first). SIGTERM → exit: until waitpid has returned for every process.\n";

const char* const kNetworkMethod =
    "How, over TCP: each run starts the relay afresh on a new input pseudo-terminal, serving it on 127.0.0.1: "
    "Tavrel's TCP server (TcpPort set with tavrel-config in its bench device; one virtual output, COM2, that nobody "
    "opens); ser2net (Debian's package, as shipped but for a YAML connection `accepter: tcp,127.0.0.1,PORT`, "
    "`connector: serialdev,<pty>,115200n81,local`, `max-connections: 16`, `kickolduser: false`, run as "
    "`ser2net -d -u -c FILE`; its chardelay is on by default); `socat -u FILE:<pty>,raw,echo=0 "
    "TCP-LISTEN:PORT,bind=127.0.0.1,reuseaddr`, which serves one client only (with `fork` each client would read "
    "the input on its own and they would share the bytes, not each get them all). The clients connect as soon as "
    "the relay listens and are read by one thread with poll. Latency: numbered bytes written at random moments "
    "(gaps of 0.2 ms plus an exponential wait of 10 ms on average), each from just before its write on the input "
    "until the last client has read it. In the realistic run, each sentence is timed from just before its write "
    "on the input until each reading client has it whole; the client that never reads connects last with "
    "SO_RCVBUF 4096 and is read only after the run. Lost: bytes of the sentences due that a reading client did not "
    "get unchanged and in order (a relay that stops reading its input makes the input refuse them, as a "
    "receiver's line would lose them). Cut off: the relay closed that client (it read the end of the stream); "
    "when: the relay's count of socket "
    "descriptors fell (/proc/<pid>/fd, every 100 ms).\n";

const char* const kMergeMethod =
    "How, merging: each relay starts afresh and reads three inputs, each paced at its own rate by a thread of its "
    "own. GPS: $GPGGA, $GPRMC, $GPGSA, $GPGSV at 4800 baud (480 bytes/s). AIS: !AIVDM at 38400 baud (3840 bytes/s), "
    "class A position reports, every eighth message a static and voyage report in two fragments. Wind: $WIMWV and "
    "$SDDPT, 100 a second. Each sentence is written whole at the moment the line would have carried its last byte, "
    "and carries its number in its fields, so that every line read is told by its text. Tavrel: the GPS input is its "
    "main input (a pseudo-terminal, 4800 baud, COM9), AIS an extra serial input (a second pseudo-terminal, "
    "`tavrel-config inputs add serial <pty> 38400 name=AIS`), wind an extra UDP input (`inputs add udp <port> "
    "name=wind`, one datagram a sentence); 9 virtual ports and its TCP server (`tcp-port`) with 4 clients. Signal K "
    "(signalk-server from npm, run by node with a configuration folder of the run's own): the same three streams at "
    "the same rates from three TCP servers of the bench (TCP_NODELAY), read by three NMEA 0183 TCP providers "
    "(`providers/simple`, type NMEA0183, subOptions type tcp) in its settings.json, its other settings as shipped; "
    "4 clients of its NMEA 0183 TCP server (NMEA0183PORT). Ready: a warm-up sentence on every input every 100 ms "
    "until every reader has had a line of each (Signal K: and its REST API has navigation/position), at most "
    "60 s. Received: distinct sentences, at the reader that got the fewest – the most. Torn: a line read (up to LF) "
    "that is none of the sentences sent and no well-formed sentence either (two sentences mixed, a piece of one), "
    "over every reader. AIS groups split: first fragments followed at their reader by another input's sentence "
    "rather than by their second fragment. Latency: from just after a sentence's write returned to the moment "
    "the reader's poll returned with its LF, every sentence at every reader. CPU: utime + stime of the relay's "
    "processes (/proc/<pid>/stat) from the end of the warm-up until the readers have everything, per 10^6 bytes "
    "of the three inputs. Peak RSS: VmHWM summed over its processes, from its start.\n";

const char* const kShapeMethod =
    "How, shaping and talk: Tavrel alone, each run on a fresh device with its main input a pseudo-terminal at "
    "38400 baud (COM9). The stream: GPS at its 4800 baud share ($GNGGA, $GNRMC, $GNGSA, $GPGSV) and AIS "
    "(!AIVDM, every eighth message in two fragments, kept together) filling the rest of the line, each sentence "
    "written whole when the line would have carried it. Shaping cost: 9 virtual ports all read, transparent in "
    "one run; in the other shaped with `tavrel-config port COMn ...`, three shapes on three ports each (COM2–COM4 "
    "`only GGA,RMC` and `talker GN:GP`; COM5–COM7 `checksum on` and `deny !AIVDM`; COM8, COM0, COM1 `every GSV "
    "5000`, `every RMC 1000` and `checksum on`). CPU: the run time of each of the relay's threads "
    "(/proc/<pid>/task/<tid>/schedstat, in nanoseconds) from the first sentence until the ports had been quiet for "
    "2 s, per 10^6 bytes of input; the worker is the thread that ran the most. Talk: 3 virtual ports set to "
    "`talk lines`, each opened once by a program that reads it throughout and writes its lines ($PBNCH sentences "
    "numbered by talker) through a second descriptor of that open; a thread reads the input's pseudo-terminal "
    "from the device's end. Latency: one program writes a line every 100 ms; from just before its write to the "
    "return of the poll whose read ended the line at the input. Flood: then that program writes its lines (about "
    "60 bytes) as fast as its port takes them while the other two write a line in turn, each one every 250 ms; "
    "whole: the line read at the input byte for byte; the rates: the bytes of the flooder's lines (of every "
    "talker's) read at the input over the time from the flood's start to the last talk line read. CPU over the "
    "flood: as for shaping, from the flood's start to its end. The input's line rate is its baud / 10.\n";

const char* const kMqttMethod =
    "How, MQTT: Tavrel alone, each run on a fresh device with its main input a pseudo-terminal at 115200 baud "
    "(COM9), its TCP server on (`tcp-port`, one client that reads throughout) and, when it publishes, "
    "`tavrel-config mqtt-broker 127.0.0.1:PORT` and `mqtt-qos` on a Mosquitto broker of the run's own (Debian's "
    "mosquitto on a loopback port, no persistence), its topic the default nmea/<host>/<talker><type>. The stream: "
    "$GP sentences of 1 type (GGA) or 10 types in turn (GGA, RMC, GSA, GSV, VTG, GLL, ZDA, GST, GBS, GNS), each "
    "carrying its number as its first field, each written whole when a 115200 baud line would have carried it. "
    "The subscriber: a libmosquitto client of the bench subscribed to nmea/# (at the run's QoS) before the "
    "relay starts; a message is timed when its callback runs, on libmosquitto's network thread, and matched to "
    "its sentence by the number. Latency: from just before the sentence's write on the input to that receipt; "
    "at the TCP client, to the return of the poll whose read completed the sentence. Ready: after the launch, a "
    "warm-up sentence every 100 ms until the subscriber has one. CPU: the run time of each of the relay's "
    "threads (/proc/<pid>/task/<tid>/schedstat) from the first sentence until both receivers had everything (or "
    "2 s of quiet), per 10^6 bytes of input; the publisher is the thread named mqtt-publisher, the worker the "
    "busiest of the others. Health: tavrel-status --json just before the first sentence and at the run's end, the counters' "
    "difference. Outage: the same 10-type stream goes "
    "on while the broker is killed (SIGKILL) and started again on its port after the time shown; the subscriber "
    "is closed at the kill and a fresh one connects as soon as the broker takes connections again (so its own "
    "reconnection delay does not count). Reconnection: tavrel-status --json polled about every 100 ms until "
    "mqtt.connected; RSS: VmRSS of the process, sampled every 100 ms.\n";

void SerialSection(std::ostringstream& page, const Options& options, const Machine& machine,
                   const std::vector<ComparedRuns>& compared, const std::vector<RealisticResult>& realistic)
{
    page << "## Tavrel and socat side by side (" << (options.quick ? "quick" : "full") << " mode)\n\n"
         << options.runs << " alternating run(s) of each relay per output count; " << options.plan.latencySamples
         << " latency bytes and " << options.plan.throughputBytes / 1'000'000 << " MB of throughput per run; "
         << options.plan.idle.count() / 1000 << " s idle. "
         << "Medians over the runs, (min–max) when there are several; latency pooled over the runs. "
         << "Load average " << machine.loadBefore << " before, " << machine.loadAfter << " after, on "
         << machine.cpus << " CPUs.\n\n"
         << SideBySideTable(compared) << "\n### Wake-ups with an idle input, by thread\n\n"
         << IdleThreadTable(compared);
    if (options.realistic) {
        page << "\n### Realistic run: NMEA sentences paced at the baud rate for " << options.neverReadSeconds << " s, "
             << kRealisticRunOutputs << " outputs, the last never read\n\n"
             << "Target: nothing missing on the read outputs; memory flat.\n\n"
             << RealisticTable(realistic, kRealisticRunOutputs);
    }
    page << "\n" << kMethod;
}

void NetworkSection(std::ostringstream& page, const Options& options, const Machine& machine,
                    const NetworkResults& network)
{
    page << "## Over TCP: Tavrel, ser2net and socat side by side (" << (options.quick ? "quick" : "full")
         << " mode)\n\n"
         << options.runs << " alternating run(s) of each relay per client count; " << options.plan.latencySamples
         << " latency bytes per run. Latency pooled over the runs. Load average " << machine.loadBefore
         << " before, " << machine.loadAfter << " after, on " << machine.cpus << " CPUs.\n\n"
         << NetworkLatencyTable(network.latency);
    if (options.realistic) {
        page << "\n### Realistic run over TCP: NMEA sentences paced at 115200 baud for " << options.networkSeconds
             << " s, " << kReadingClients << " reading clients and 1 that never reads\n\n"
             << "A relay feels a client stall only once the kernel's send buffer for it is full: up to "
             << machine.tcpSendBufferMax << " bytes here (net.ipv4.tcp_wmem's maximum; the relay may set less).\n\n"
             << NetworkRealisticTable(network.realistic)
             << "\nTarget: with one stalled client, the others lose nothing: "
             << Verdict(ReadersLostNothing(network.realistic)) << ".\n";
    }
    page << "\n" << kNetworkMethod;
}

void MergeSection(std::ostringstream& page, const Options& options, const Machine& machine,
                  const std::vector<MergeResult>& merge)
{
    page << "## Merging three inputs: Tavrel and Signal K side by side (" << (options.quick ? "quick" : "full")
         << " mode)\n\n"
         << "GPS at 4800 baud, AIS at 38400 baud, wind over UDP (Signal K: over TCP) at 100 sentences/s, for "
         << options.mergeSeconds << " s each. Load average " << machine.loadBefore << " before, "
         << machine.loadAfter << " after, on " << machine.cpus << " CPUs.\n\n"
         << MergeTable(merge) << "\n"
         << MergeNotes(merge) << "\n"
         << kMergeMethod;
}

void ShapeSection(std::ostringstream& page, const Options& options, const Machine& machine,
                  const ShapeResults& shape)
{
    page << "## Shaped outputs and talk back: Tavrel (" << (options.quick ? "quick" : "full") << " mode)\n\n"
         << "GPS and AIS at 38400 baud, " << options.shapeSeconds << " s per shaping-cost run. Load average "
         << machine.loadBefore << " before, " << machine.loadAfter << " after, on " << machine.cpus
         << " CPUs.\n\n"
         << ShapeTable(shape) << "\n"
         << ShapeNotes(shape) << "\n"
         << kShapeMethod;
}

void MqttSection(std::ostringstream& page, const Options& options, const Machine& machine, const MqttResults& mqtt)
{
    page << "## Publishing to an MQTT broker: Tavrel (" << (options.quick ? "quick" : "full") << " mode)\n\n"
         << "Numbered NMEA sentences paced at 115200 baud for " << options.mqttSeconds
         << " s per run, through Mosquitto on this machine to a subscriber, and to a client of Tavrel's TCP "
            "server in the same run. Load average "
         << machine.loadBefore << " before, " << machine.loadAfter << " after, on " << machine.cpus
         << " CPUs.\n\n"
         << MqttRunTable(mqtt) << "\n### The broker away while the stream goes on\n\n"
         << MqttOutageTable(mqtt.outage) << "\n"
         << kMqttMethod;
}

}  // namespace

std::string ReportPage(const Options& options, const Machine& machine, const std::vector<ComparedRuns>& compared,
                       const std::vector<RealisticResult>& realistic, const NetworkResults& network,
                       const std::vector<MergeResult>& merge, const ShapeResults& shape, const MqttResults& mqtt)
{
    std::ostringstream page;
    if (options.serial) {
        SerialSection(page, options, machine, compared, realistic);
    }
    if (options.network) {
        page << (options.serial ? "\n" : "");
        NetworkSection(page, options, machine, network);
    }
    if (options.merge) {
        page << (options.serial || options.network ? "\n" : "");
        MergeSection(page, options, machine, merge);
    }
    if (options.shape) {
        page << (options.serial || options.network || options.merge ? "\n" : "");
        ShapeSection(page, options, machine, shape);
    }
    if (options.mqtt) {
        page << (options.serial || options.network || options.merge || options.shape ? "\n" : "");
        MqttSection(page, options, machine, mqtt);
    }
    const std::string failures = FailureList(compared, realistic) + NetworkFailureList(network) +
                                 MergeFailureList(merge) + ShapeFailureList(shape) + MqttFailureList(mqtt);
    if (!failures.empty()) {
        page << "\n### Runs that failed\n\n" << failures;
    }
    return page.str();
}

}  // namespace tavrel::bench
