// The identifiers of the program's resources and of its dialogs' controls,
// as the dialog templates and icons of this folder carry them.
#pragma once

#include "platform/types.h"

// Dialog templates (RT_DIALOG).
inline constexpr WORD IDD_MAIN_PORTRAIT = 105;
inline constexpr WORD IDD_MAIN_LANDSCAPE = 106;
inline constexpr WORD IDD_ABOUT = 107;
inline constexpr WORD IDD_STATUS_PORTRAIT = 108;
inline constexpr WORD IDD_STATUS_LANDSCAPE = 109;
inline constexpr WORD IDD_INPUTS_PORTRAIT = 110;
inline constexpr WORD IDD_INPUTS_LANDSCAPE = 111;
inline constexpr WORD IDD_INPUT_EDIT = 112;
inline constexpr WORD IDD_PORT_SETTINGS_PORTRAIT = 113;
inline constexpr WORD IDD_PORT_SETTINGS_LANDSCAPE = 114;
inline constexpr WORD IDD_NETWORK_REACH = 115;

// Icons (RT_GROUP_ICON).
inline constexpr WORD IDI_PROGRAM = 101;   // 32 x 32, shown in the About box
inline constexpr WORD IDI_TRAY = 103;      // 16 x 16, the notification tray's

// The main window's controls.
inline constexpr WORD IDC_INPUT_PORT = 1002;     // combo box: the input port, listed or typed
inline constexpr WORD IDC_BAUD = 1004;           // combo box: the baud rates
inline constexpr WORD IDC_OUTPUT_LIST = 1006;    // list box: the chosen outputs
inline constexpr WORD IDC_FREE_OUTPUTS = 1007;   // combo box: the outputs that can still be chosen
inline constexpr WORD IDC_ADD = 1008;
inline constexpr WORD IDC_DELETE = 1009;
inline constexpr WORD IDC_START_STOP = 1010;
inline constexpr WORD IDC_ABOUT = 1016;
inline constexpr WORD IDC_AUTOSTART = 1017;      // check box
inline constexpr WORD IDC_RECONNECT = 1018;      // check box: a lost input is waited for, not the end of the run
inline constexpr WORD IDC_STATUS = 1019;         // opens the Status dialog
inline constexpr WORD IDC_INPUTS = 1020;         // opens the Inputs dialog
inline constexpr WORD IDC_PORT_SETTINGS = 1021;  // opens the settings of the output chosen in the list
inline constexpr WORD IDC_EXIT = 2;              // IDCANCEL: ends the program

// The Status dialog's controls. Its caption's OK stores the settings and
// closes it; Cancel (IDCANCEL) closes it and changes nothing.
inline constexpr WORD IDC_HEALTH = 1030;           // list box: what the relay does, a line each
inline constexpr WORD IDC_TCP_SERVER = 1031;       // check box: the TCP server on
inline constexpr WORD IDC_TCP_PORT = 1032;         // combo box (edited): the server's port
inline constexpr WORD IDC_TCP_ANY_ADDRESS = 1033;  // check box: other computers may connect
inline constexpr WORD IDC_TCP_ALLOW = 1034;        // combo box (edited): the allow list
inline constexpr WORD IDC_UDP_TARGET = 1035;       // combo box (edited): host:port, empty for none
inline constexpr WORD IDC_APPLY = 1036;            // stores the settings, the dialog stays
inline constexpr WORD IDC_REACH = 1037;            // opens the outputs beyond this machine ("More...")

// The Inputs dialog: the inputs beside the main one, changed with Add, Edit
// and Remove and stored with the caption's OK.
inline constexpr WORD IDC_INPUT_LIST = 1040;       // list box: the main input, then one line per input
inline constexpr WORD IDC_INPUT_ADD = 1041;
inline constexpr WORD IDC_INPUT_EDIT = 1042;
inline constexpr WORD IDC_INPUT_REMOVE = 1043;
// The dialog that edits one input.
inline constexpr WORD IDC_INPUT_KIND = 1044;       // combo box: serial, tcp, udp
inline constexpr WORD IDC_INPUT_PLACE = 1045;      // combo box (edited): the device, host:port or port
inline constexpr WORD IDC_INPUT_BAUD = 1046;       // combo box: a serial input's rate
inline constexpr WORD IDC_INPUT_NAME = 1047;       // combo box (edited)
inline constexpr WORD IDC_INPUT_GROUP = 1048;      // combo box (edited): a UDP input's multicast group
inline constexpr WORD IDC_INPUT_STANDBY = 1049;    // combo box: none, or the input it stands by for
inline constexpr WORD IDC_INPUT_INIT = 1050;       // combo box (edited): the start-up command, escapes as typed

// The settings of one output port ("COM2 Settings"), stored with the caption's OK.
inline constexpr WORD IDC_PORT_TALK = 1060;        // combo box: off, lines, raw
inline constexpr WORD IDC_PORT_TALK_TO = 1061;     // combo box: the input talked to, 0 the main one
inline constexpr WORD IDC_PORT_ONLY = 1062;        // combo box (edited): patterns that alone pass
inline constexpr WORD IDC_PORT_DENY = 1063;        // combo box (edited): patterns that are dropped
inline constexpr WORD IDC_PORT_CHECKSUM = 1064;    // check box: sentences with a bad checksum dropped
inline constexpr WORD IDC_PORT_TALKER = 1065;      // combo box (edited): talker rewrites, GN:GP
inline constexpr WORD IDC_PORT_EVERY = 1066;       // combo box (edited): decimation, RMC:1000

// The outputs beyond this machine ("Tavrel Network"), stored with the caption's OK.
inline constexpr WORD IDC_ANNOUNCE = 1070;         // combo box: auto, on, off
inline constexpr WORD IDC_TCP_CONNECT = 1071;      // combo box (edited): host:port,host:port
inline constexpr WORD IDC_MQTT_BROKER = 1072;      // combo box (edited): host:port, empty for none
inline constexpr WORD IDC_MQTT_TOPIC = 1073;       // combo box (edited): the topic template
inline constexpr WORD IDC_MQTT_QOS = 1074;         // combo box: 0, 1
inline constexpr WORD IDC_MQTT_RETAIN_RMC = 1075;  // check box: the broker keeps the last RMC
inline constexpr WORD IDC_MQTT_TLS_CA = 1076;      // combo box (edited): the CA file, empty for plain TCP
inline constexpr WORD IDC_MQTT_CREDENTIALS = 1077; // combo box (edited): the user and password file

// A control that is never addressed: labels, group boxes, the About icon.
inline constexpr WORD IDC_STATIC = 0xFFFF;
