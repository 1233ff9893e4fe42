// SPDX-License-Identifier: GPL-3.0-or-later
#include "Strings.h"

#include "ResourceIds.h"

#include <array>
#include <utility>

namespace vandrelle {
namespace {

constexpr std::array<std::pair<int, std::string_view>, 13> kStrings{{
    {IDR_MAINFRAME, "Vandrelle"},
    {IDM_STATUS_BAR, "Show or hide the status bar\nToggle StatusBar"},
    {ID_APP_ABOUT, "Display program information, version number and web page\nAbout"},
    {ATL_IDS_IDLEMESSAGE, "Ready"},
    {IDM_FIND_SERVER, "Find a server by its name, address, description, user name or group\nFind"},
    {61184, "Change the window size"},
    {61185, "Change the window position"},
    {61186, "Reduce the window to an icon"},
    {61187, "Enlarge the window to full size"},
    {61188, "Switch to the next document window"},
    {61189, "Switch to the previous document window"},
    {61190, "Close the active window and prompts to save the documents"},
    {61202, "Restore the window to normal size"},
}};

}  // namespace

std::string_view ResourceString(int id) {
    for (const auto& [key, text] : kStrings) {
        if (key == id) return text;
    }
    return {};
}

std::string_view MenuPrompt(int command) {
    const int id = command >= 0xF000 ? 0xEF00 + (command - 0xF000) / 16 : command;
    const std::string_view text = ResourceString(id);
    return text.substr(0, text.find('\n'));
}

}  // namespace vandrelle
