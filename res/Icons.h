// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

namespace vandrelle {

// The program's icons by resource identifier (IDR_MAINFRAME, IDI_*), drawn
// from the SVG pictures built into the program; a null icon for an unknown one.
QIcon ResourceIcon(int id);

}  // namespace vandrelle
