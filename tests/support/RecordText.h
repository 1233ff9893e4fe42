// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Properties.h"

#include <sstream>
#include <string>

namespace vandrelle::test {

// A record from "Field=value" words (values without blanks); the other fields
// keep their defaults.
inline Properties RecordFrom(const std::string& fields) {
    Properties p;
    std::istringstream words(fields);
    for (std::string word; words >> word;) {
        const std::size_t eq = word.find('=');
        const PropertyField* f = FindPropertyField(word.substr(0, eq));
        if (f->number)
            p.*f->number = std::stoi(word.substr(eq + 1));
        else
            p.*f->text = word.substr(eq + 1);
    }
    return p;
}

}  // namespace vandrelle::test
