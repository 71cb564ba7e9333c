// A QSerialPort program on a port, as cutecom uses one: right after opening
// it raises DTR and RTS and asks for the modem lines, then reads NMEA. On a
// bare pseudo-terminal the first of those (TIOCMGET, then TIOCMBIS) fails
// with ENOTTY and the program gives up; under tavrel-compat it reads on.
#include <string>

#include <gtest/gtest.h>

#include "compat_port_fixture.h"

namespace {

using tavrel::testing::CompatPortTest;
using tavrel::testing::Preload;

const std::string kSentences = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"
                               "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

TEST_F(CompatPortTest, AQSerialPortProgramReadsNmeaUnderTavrelCompat)
{
    auto client = Run(Preload::Compat, SERIAL_PORT_CLIENT_PATH, {PortLink().string(), "2"});
    ASSERT_TRUE(AwaitFromProgram("ready\n")) << client->Errors();
    far_.Write({kSentences.begin(), kSentences.end()});
    EXPECT_EQ(client->WaitExit(), 0) << client->Errors();
    EXPECT_EQ(client->Output(), "lines: DTR RTS CTS DSR DCD\n" + kSentences);
}

TEST_F(CompatPortTest, WithoutItTheProgramFailsAsCutecomDid)
{
    auto client = Run(Preload::None, SERIAL_PORT_CLIENT_PATH, {PortLink().string(), "2"});
    EXPECT_EQ(client->WaitExit(), 3);
    EXPECT_EQ(client->Errors(), "DTR: Inappropriate ioctl for device\n");
    EXPECT_EQ(client->Output(), "");
}

}  // namespace
