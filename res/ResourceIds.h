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
inline constexpr int IDI_SERVER = 208;

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

// Strings.
inline constexpr int ATL_IDS_IDLEMESSAGE = 57345;  // "Ready"

}  // namespace vandrelle
