# Asks a serial port for its modem lines with pyserial, as a script that
# checks for a connected device does, and prints what each step did
# ("cts True", "cts raises 25"); then writes "ready" to the port and prints
# the line it reads back.
#   python3 pyserial_client.py PORT
import sys

import serial

port = serial.Serial(sys.argv[1], timeout=20)
for line in ("cts", "dsr", "cd", "ri"):
    try:
        print(line, getattr(port, line))
    except OSError as error:
        print(line, "raises", error.errno)
for line, value in (("dtr", True), ("rts", False)):
    try:
        setattr(port, line, value)
        print(line, "set")
    except OSError as error:
        print(line, "raises", error.errno)
port.write(b"ready\n")
print(port.readline().decode().strip())
