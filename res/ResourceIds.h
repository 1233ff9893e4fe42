// SPDX-License-Identifier: GPL-3.0-or-later
// The program's resource identifiers: icons, menus, commands and strings. The
// numbers are the program's own and stay fixed: tests and the command
// dispatch address menu items and controls by them.
#pragma once

namespace vandrelle {

// Icons (and the main window's caption string, which shares 128).
inline constexpr int IDR_MAINFRAME = 128;     // the application icon
inline constexpr int IDI_CONNECTED = 202;     // a session tab: connected
inline constexpr int IDI_CONNECTING = 203;    // a session tab: connecting
inline constexpr int IDI_DISCONNECTED = 204;  // a session tab: disconnected
inline constexpr int IDI_GROUP = 205;
inline constexpr int IDI_RECONNECTING = 206;  // a session tab: its lost link is being healed
inline constexpr int IDI_SERVER = 208;
// Pictures beside the property pages' groups.
inline constexpr int IDI_LOGON = 215;
inline constexpr int IDI_DISPLAY = 216;
inline constexpr int IDI_PERFORMANCE = 218;
inline constexpr int IDI_DEVICES = 219;
inline constexpr int IDI_KEYBOARD = 220;
inline constexpr int IDI_SOUND = 221;

// The property pages, in the sheet's order.
inline constexpr int IDD_GENERAL = 209;
inline constexpr int IDD_DISPLAY = 210;
inline constexpr int IDD_RESOURCES = 211;
inline constexpr int IDD_EXPERIENCE = 212;

// Menus.
inline constexpr int IDR_SESSION_MENU = 201;  // a session tab's context menu
inline constexpr int IDR_SERVER_MENU = 213;
inline constexpr int IDR_GROUP_MENU = 214;

// The server context menu.
inline constexpr int ID_SERVER_CONNECT = 32780;
inline constexpr int ID_SERVER_DELETE = 32781;
inline constexpr int ID_SERVER_PROPERTIES = 32782;
inline constexpr int ID_SERVER_CONNECT_CONSOLE = 32788;
inline constexpr int ID_SERVER_CONNECT_NON_CONSOLE = 32792;
inline constexpr int ID_SERVER_INSERT_COPY = 32793;
inline constexpr int ID_SERVER_CONNECT_MSTSC = 32796;

// The group context menu (also the root's).
inline constexpr int ID_GROUP_CONNECT = 32783;
inline constexpr int ID_GROUP_DELETE = 32784;
inline constexpr int ID_GROUP_ADD_GROUP = 32785;
inline constexpr int ID_GROUP_ADD_SERVER = 32786;
inline constexpr int ID_GROUP_PROPERTIES = 32787;
inline constexpr int ID_GROUP_IMPORT_MSTSC = 32790;

// A session tab's context menu.
inline constexpr int ID_SESSION_CONNECT = 32775;
inline constexpr int ID_SESSION_DISCONNECT = 32776;
inline constexpr int ID_SESSION_CLOSE = 32777;
inline constexpr int ID_SESSION_RECONNECT_FULL_SCREEN = 32794;
inline constexpr int ID_SESSION_RECONNECT = 32795;

// The main window's window menu.
inline constexpr int IDM_STATUS_BAR = 16;
inline constexpr int IDM_HELP = 32;
inline constexpr int IDM_QUICK_CONNECT = 48;
inline constexpr int IDM_CLOSE_TAB_ON_LOG_OFF = 64;
inline constexpr int IDM_SHOW_SERVERS_LIST = 80;
inline constexpr int IDM_FIND_SERVER = 96;
inline constexpr int ID_APP_ABOUT = 57664;
// The window manager's own commands, as the window menu offers them.
inline constexpr int SC_MINIMIZE_CMD = 0xF020;
inline constexpr int SC_MAXIMIZE_CMD = 0xF030;
inline constexpr int SC_CLOSE_CMD = 0xF060;
inline constexpr int SC_RESTORE_CMD = 0xF120;

// The "C&onnect To" items: from 4096, 16 apart, up to 57343.
inline constexpr int kConnectToFirstId = 4096;
inline constexpr int kConnectToIdStep = 16;
inline constexpr int kConnectToLastId = 57343;

// Controls.
inline constexpr int kTreeControlId = 1;
inline constexpr int kTabStripControlId = 1313;
inline constexpr int ATL_IDW_STATUS_BAR = 59393;

// The property sheet's buttons.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// The General page.
inline constexpr int IDC_NAME = 1002;
inline constexpr int IDC_SERVER = 1004;
inline constexpr int IDC_USER_NAME = 1005;
inline constexpr int IDC_PASSWORD = 1006;
inline constexpr int IDC_DOMAIN = 1007;
inline constexpr int IDC_PORT = 1008;
inline constexpr int IDC_DESCRIPTION = 1013;
inline constexpr int IDC_INHERIT = 1014;
inline constexpr int IDC_SERVER_LABEL = 1015;

// The Display page.
inline constexpr int IDC_CONSOLE = 1003;
inline constexpr int IDC_COLOR_DEPTH = 1010;
inline constexpr int IDC_DESKTOP_SIZE = 1011;
inline constexpr int IDC_WIDTH = 1012;
inline constexpr int IDC_HEIGHT = 1013;
inline constexpr int IDC_WIDTH_LABEL = 1018;
inline constexpr int IDC_HEIGHT_LABEL = 1019;

// The Local Resources page.
inline constexpr int IDC_KEYBOARD = 13075;
inline constexpr int IDC_SOUND = 13076;
inline constexpr int IDC_CLIPBOARD = 13078;
inline constexpr int IDC_SMART_CARDS = 13082;
inline constexpr int IDC_PRINTERS = 13222;
inline constexpr int IDC_PORTS = 13223;
inline constexpr int IDC_DRIVES = 13224;
inline constexpr int IDC_DRIVE_LIST = 1013;

// The Experience page.
inline constexpr int IDC_SPEED = 13095;
inline constexpr int IDC_BACKGROUND = 13096;
inline constexpr int IDC_DRAGGING = 13097;
inline constexpr int IDC_ANIMATION = 13098;
inline constexpr int IDC_THEMES = 13099;
inline constexpr int IDC_BITMAP_CACHING = 13100;
inline constexpr int IDC_FONT_SMOOTHING = 13103;
inline constexpr int IDC_COMPOSITION = 13104;

// Strings.
inline constexpr int ATL_IDS_IDLEMESSAGE = 57345;  // "Ready"

}  // namespace vandrelle
