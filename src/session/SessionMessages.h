// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace vandrelle {

// The program's private messages (WM_APP + n).
inline constexpr std::uint32_t WM_APP = 0x8000;
inline constexpr std::uint32_t WM_APP_CONNECT = 0x8001;
inline constexpr std::uint32_t WM_APP_DISCONNECT = 0x8002;
inline constexpr std::uint32_t WM_APP_OPEN_SESSION = 0x8003;
inline constexpr std::uint32_t WM_APP_FULL_SCREEN = 0x8004;
inline constexpr std::uint32_t WM_APP_SESSION_STATE = 0x8005;
inline constexpr std::uint32_t WM_APP_FIND_SESSION = 0x8006;
inline constexpr std::uint32_t WM_APP_RECONNECT = 0x8007;
inline constexpr std::uint32_t WM_APP_RECONNECT_FULL_SCREEN = 0x8008;
inline constexpr std::uint32_t WM_APP_ENTER_FULL_SCREEN = 0x800A;
// A session's own timers while it heals a lost link: the next fresh connect,
// and the end of the time it may take (wParam: the healing they belong to).
inline constexpr std::uint32_t WM_APP_HEAL_CONNECT = 0x800B;
inline constexpr std::uint32_t WM_APP_HEAL_LIMIT = 0x800C;

// The system command that minimizes a window.
inline constexpr std::uint32_t WM_SYSCOMMAND = 0x0112;
inline constexpr std::uintptr_t SC_MINIMIZE = 0xF020;

// Session states; 0 to 2 and 4 are also the tab's image.
inline constexpr std::int32_t kStateDisconnected = 0;
inline constexpr std::int32_t kStateConnecting = 1;
inline constexpr std::int32_t kStateConnected = 2;
inline constexpr std::int32_t kStateLoggedOff = 3;
// The link died: the picture is held and the session reconnects by itself.
inline constexpr std::int32_t kStateReconnecting = 4;

// A window that takes messages. Post queues the message on the event loop
// and returns at once; Send handles it before returning its result.
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    virtual std::intptr_t Send(std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t lParam) = 0;
};

}  // namespace vandrelle
