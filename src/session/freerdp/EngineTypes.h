// SPDX-License-Identifier: GPL-3.0-or-later
// What the client and its connections share: the values a connection is made
// from and the picture it paints. Free of engine headers, as the client's own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vandrelle {

// Runs a task on the user-interface thread, queued behind what is there.
using UiPost = std::function<void(std::function<void()>)>;

// The values given to the client, as the next connection is made from them.
struct ConnectionValues {
    std::string server, userName, domain, password, disconnectedText, pluginDlls;
    std::int32_t port = 3389;
    std::int32_t desktopWidth = 1024, desktopHeight = 768, colorDepth = 32;
    bool console = false, fullScreen = false;
    std::int32_t containerHandledFullScreen = 0;
    std::int32_t audioMode = 0, keyboardHookMode = 1, performanceFlags = 0;
    std::int32_t bitmapPersistence = 1;
    // The screen's scale told to the server: percent 100-500, and 100, 140 or 180.
    std::int32_t desktopScale = 100, deviceScale = 100;
    bool printers = false, clipboard = true, ports = false, smartCards = false;
    bool drives = false, dynamicDrives = false, credSsp = true;
    struct Drive {
        std::string name;  // "System (C:)"
        std::string path;  // where it is mounted
        bool redirected = true;
    };
    std::vector<Drive> driveCollection;  // the mounted volumes when the client was made
};

// The remote desktop as last painted: 32-bit pixels in the byte order
// B, G, R, X (QImage::Format_RGB32 on little-endian machines).
struct FrameView {
    int width = 0;
    int height = 0;
    int stride = 0;
    const std::uint8_t* pixels = nullptr;
};

// A desktop size asked for after the connect, with the screen's scale.
struct DesktopLayout {
    std::int32_t width = 0, height = 0;
    std::int32_t desktopScale = 100, deviceScale = 100;
    friend bool operator==(const DesktopLayout&, const DesktopLayout&) = default;
};

// A rectangle of the remote desktop, in its pixels.
struct FrameArea {
    int x = 0, y = 0, width = 0, height = 0;
};

}  // namespace vandrelle
