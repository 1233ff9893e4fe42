// SPDX-License-Identifier: GPL-3.0-or-later
#include "Properties.h"

namespace vandrelle {

const std::array<PropertyField, kPropertyFieldCount>& PropertyFields() {
    using P = Properties;
    static const std::array<PropertyField, kPropertyFieldCount> fields{{
        {"Name", &P::Name, nullptr},
        {"Server", &P::Server, nullptr},
        {"UserName", &P::UserName, nullptr},
        {"Password", &P::Password, nullptr},
        {"Domain", &P::Domain, nullptr},
        {"Description", &P::Description, nullptr},
        {"RDPPort", nullptr, &P::RDPPort},
        {"ConnectToServerConsole", nullptr, &P::ConnectToServerConsole},
        {"InheritGeneral", nullptr, &P::InheritGeneral},
        {"DesktopHeight", nullptr, &P::DesktopHeight},
        {"DesktopWidth", nullptr, &P::DesktopWidth},
        {"ColorDepth", nullptr, &P::ColorDepth},
        {"FullScreen", nullptr, &P::FullScreen},
        {"RedirectPrinters", nullptr, &P::RedirectPrinters},
        {"RedirectClipboard", nullptr, &P::RedirectClipboard},
        {"RedirectPorts", nullptr, &P::RedirectPorts},
        {"RedirectSmartCards", nullptr, &P::RedirectSmartCards},
        {"RedirectDrives", nullptr, &P::RedirectDrives},
        {"DriveCollection", &P::DriveCollection, nullptr},
        {"AudioRedirectionMode", nullptr, &P::AudioRedirectionMode},
        {"KeyboardHookMode", nullptr, &P::KeyboardHookMode},
        {"PerformanceFlags", nullptr, &P::PerformanceFlags},
        {"BitmapPersistence", nullptr, &P::BitmapPersistence},
        {"GroupCollapsed", nullptr, &P::GroupCollapsed},
    }};
    return fields;
}

const PropertyField* FindPropertyField(std::string_view name) {
    for (const PropertyField& f : PropertyFields()) {
        if (f.name == name) return &f;
    }
    return nullptr;
}

bool PropertiesEqual(const Properties& a, const Properties& b) {
    for (const PropertyField& f : PropertyFields()) {
        if (f.number == &Properties::GroupCollapsed) continue;
        if (f.text ? a.*f.text != b.*f.text : a.*f.number != b.*f.number) return false;
    }
    return true;
}

}  // namespace vandrelle
