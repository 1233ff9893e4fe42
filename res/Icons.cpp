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
        case IDI_GROUP:
            file = "group";
            break;
        case IDI_SERVER:
            file = "server";
            break;
        default:
            return {};
    }
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(file)));
}

}  // namespace vandrelle
