// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace vandrelle {

// What the user is told of a port outside 1 to 65535, wherever one is typed.
inline constexpr const char* kPortRangeMessage = "Port must between 1 and 65535, default is 3389.";

// One group's or server's settings, carried by value between the
// configuration document and its users. Field names are the element names of
// the configuration file; texts are UTF-8.
struct Properties {
    std::string Name;
    std::string Server;
    std::string UserName;
    std::string Password;  // plain; only the file holds the encoded form
    std::string Domain;
    std::string Description;  // line breaks are CR LF
    int RDPPort = 3389;
    int ConnectToServerConsole = 0;
    int InheritGeneral = 1;
    int DesktopHeight = 0;
    int DesktopWidth = 0;
    int ColorDepth = 16;
    int FullScreen = 0;
    int RedirectPrinters = 0;
    int RedirectClipboard = 1;
    int RedirectPorts = 0;
    int RedirectSmartCards = 0;
    int RedirectDrives = 0;
    std::string DriveCollection;
    int AudioRedirectionMode = 0;
    int KeyboardHookMode = 1;
    int PerformanceFlags = 384;
    int BitmapPersistence = 1;
    int GroupCollapsed = 0;
};

// Describes one field of the record, so that generic code (printing,
// parsing "Field=Value") walks the fields in the record's order.
struct PropertyField {
    std::string_view name;
    std::string Properties::*text = nullptr;  // set for text fields
    int Properties::*number = nullptr;        // set for number fields
};

inline constexpr std::size_t kPropertyFieldCount = 24;

// All fields, in the record's order.
inline constexpr std::array<PropertyField, kPropertyFieldCount> kPropertyFields{{
    {"Name", &Properties::Name, nullptr},
    {"Server", &Properties::Server, nullptr},
    {"UserName", &Properties::UserName, nullptr},
    {"Password", &Properties::Password, nullptr},
    {"Domain", &Properties::Domain, nullptr},
    {"Description", &Properties::Description, nullptr},
    {"RDPPort", nullptr, &Properties::RDPPort},
    {"ConnectToServerConsole", nullptr, &Properties::ConnectToServerConsole},
    {"InheritGeneral", nullptr, &Properties::InheritGeneral},
    {"DesktopHeight", nullptr, &Properties::DesktopHeight},
    {"DesktopWidth", nullptr, &Properties::DesktopWidth},
    {"ColorDepth", nullptr, &Properties::ColorDepth},
    {"FullScreen", nullptr, &Properties::FullScreen},
    {"RedirectPrinters", nullptr, &Properties::RedirectPrinters},
    {"RedirectClipboard", nullptr, &Properties::RedirectClipboard},
    {"RedirectPorts", nullptr, &Properties::RedirectPorts},
    {"RedirectSmartCards", nullptr, &Properties::RedirectSmartCards},
    {"RedirectDrives", nullptr, &Properties::RedirectDrives},
    {"DriveCollection", &Properties::DriveCollection, nullptr},
    {"AudioRedirectionMode", nullptr, &Properties::AudioRedirectionMode},
    {"KeyboardHookMode", nullptr, &Properties::KeyboardHookMode},
    {"PerformanceFlags", nullptr, &Properties::PerformanceFlags},
    {"BitmapPersistence", nullptr, &Properties::BitmapPersistence},
    {"GroupCollapsed", nullptr, &Properties::GroupCollapsed},
}};

// The position of a field in kPropertyFields, found at compile time.
consteval std::size_t FieldId(std::string_view name) {
    for (std::size_t i = 0; i < kPropertyFieldCount; ++i) {
        if (kPropertyFields[i].name == name) return i;
    }
    throw "no such field";
}

const std::array<PropertyField, kPropertyFieldCount>& PropertyFields();

// A field's position in PropertyFields(), by name; kPropertyFieldCount when
// no field has that name. Constant time.
std::size_t PropertyFieldIndex(std::string_view name);

// The field of that exact name, or nullptr.
const PropertyField* FindPropertyField(std::string_view name);

// True when every field but GroupCollapsed is equal (texts compared exactly).
bool PropertiesEqual(const Properties& a, const Properties& b);

}  // namespace vandrelle
