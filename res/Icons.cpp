// SPDX-License-Identifier: GPL-3.0-or-later
#include "Icons.h"

#include "ResourceIds.h"

#include <QString>

namespace vandrelle {

QIcon ResourceIcon(int id) {
    const char* file = nullptr;
    switch (id) {
        case IDR_MAINFRAME:
            file = "app";
            break;
        case IDI_CONNECTED:
            file = "session-connected";
            break;
        case IDI_CONNECTING:
            file = "session-connecting";
            break;
        case IDI_DISCONNECTED:
            file = "session-disconnected";
            break;
        case IDI_RECONNECTING:
            file = "session-reconnecting";
            break;
        case IDI_GROUP:
            file = "group";
            break;
        case IDI_SERVER:
            file = "server";
            break;
        case IDI_LOGON:
            file = "logon";
            break;
        case IDI_DISPLAY:
            file = "display";
            break;
        case IDI_PERFORMANCE:
            file = "performance";
            break;
        case IDI_DEVICES:
            file = "devices";
            break;
        case IDI_KEYBOARD:
            file = "keyboard";
            break;
        case IDI_SOUND:
            file = "sound";
            break;
        default:
            return {};
    }
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(file)));
}

}  // namespace vandrelle
