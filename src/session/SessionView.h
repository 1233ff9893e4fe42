// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace vandrelle {

struct Size {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// What the session logic needs from the window that shows it: its sizes, the
// full-screen presentation, message boxes, and a way to post messages to
// itself. The widget implements it; tests replace it.
class SessionView {
public:
    virtual ~SessionView() = default;

    virtual Size ClientSize() const = 0;
    virtual Size PrimaryScreenSize() const = 0;

    virtual void EnterContainerFullScreen() = 0;
    virtual void LeaveContainerFullScreen() = 0;
    virtual bool IsContainerFullScreen() const = 0;

    // Makes the client lay itself out again after it connected.
    virtual void Relayout() = 0;

    // A message box owned by the session window, title "Error", error icon.
    // It does not wait for the user: it goes with the window.
    virtual void ShowError(const std::string& text) = 0;

    // Queues a message to the session itself, after `delayMs` milliseconds.
    virtual void PostToSelf(std::uint32_t message, int delayMs = 0, std::uintptr_t wParam = 0) = 0;

    // While the link is down the last picture stays, greyed, and takes no
    // input; `status` says what is being done about it.
    virtual void ShowLinkDown(bool /*down*/, const std::string& /*status*/) {}

    // Whether the Shift key is held at this moment.
    virtual bool IsShiftDown() const = 0;

    // The identity the frame knows the session window by (the lParam of
    // its state reports).
    virtual std::intptr_t WindowId() const = 0;
};

}  // namespace vandrelle
