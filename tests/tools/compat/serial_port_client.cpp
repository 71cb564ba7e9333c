// A program that uses a serial port as QSerialPort programs such as cutecom
// do: right after opening it raises DTR and RTS and asks for the modem lines
// (pinoutSignals); then it reads lines of text.
//
//   compat_serial_client PORT COUNT
//
// Prints "lines:" and the names of the lines that are on, writes "ready" to
// the port so that the far end knows it may send, then prints each line it
// reads until COUNT lines came. Exit 0 then; 3 when the port reports an error
// (the step and Qt's text on stderr, which is what cutecom shows); 4 when no
// line comes for 20 s; 2 on a wrong command line.
#include <QCoreApplication>
#include <QSerialPort>

#include <cstdio>
#include <cstdlib>

namespace {

int Failed(const QSerialPort& port, const char* step)
{
    std::fprintf(stderr, "%s: %s\n", step, port.errorString().toLocal8Bit().constData());
    return 3;
}

void PrintLines(QSerialPort::PinoutSignals lines)
{
    struct Name {
        QSerialPort::PinoutSignal line;
        const char* text;
    };
    static const Name names[] = {{QSerialPort::DataTerminalReadySignal, "DTR"},
                                 {QSerialPort::RequestToSendSignal, "RTS"},
                                 {QSerialPort::ClearToSendSignal, "CTS"},
                                 {QSerialPort::DataSetReadySignal, "DSR"},
                                 {QSerialPort::DataCarrierDetectSignal, "DCD"},
                                 {QSerialPort::RingIndicatorSignal, "RI"}};
    std::printf("lines:");
    for (const Name& name : names) {
        if (lines.testFlag(name.line)) {
            std::printf(" %s", name.text);
        }
    }
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PORT COUNT\n", argv[0]);
        return 2;
    }
    const int count = std::atoi(argv[2]);
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadWrite)) {
        return Failed(port, "open");
    }
    if (!port.setBaudRate(QSerialPort::Baud4800)) {
        return Failed(port, "baud rate");
    }
    if (!port.setDataTerminalReady(true)) {
        return Failed(port, "DTR");
    }
    if (!port.setRequestToSend(true)) {
        return Failed(port, "RTS");
    }
    const QSerialPort::PinoutSignals lines = port.pinoutSignals();
    if (port.error() != QSerialPort::NoError) {
        return Failed(port, "pinoutSignals");
    }
    PrintLines(lines);
    port.write("ready\n");
    if (!port.waitForBytesWritten(20000)) {
        return Failed(port, "write");
    }
    for (int received = 0; received < count;) {
        if (!port.canReadLine() && !port.waitForReadyRead(20000)) {
            return port.error() == QSerialPort::TimeoutError ? 4 : Failed(port, "read");
        }
        while (received < count && port.canReadLine()) {
            std::printf("%s", port.readLine().constData());
            ++received;
        }
    }
    std::fflush(stdout);
    return 0;
}
