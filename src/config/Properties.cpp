// SPDX-License-Identifier: GPL-3.0-or-later
#include "Properties.h"

#include <vector>

namespace vandrelle {

const std::array<PropertyField, kPropertyFieldCount>& PropertyFields() {
    return kPropertyFields;
}

const PropertyField* FindPropertyField(std::string_view name) {
    for (const PropertyField& f : PropertyFields()) {
        if (f.name == name) return &f;
    }
    return nullptr;
}

std::size_t PropertyFieldIndex(std::string_view name) {
    // Called for every element of every node read, so it is a lookup by
    // length (at most three names share one) rather than a hash.
    static constexpr std::size_t kMaxLength = 32;
    static const auto byLength = [] {
        std::array<std::vector<std::size_t>, kMaxLength> table;
        for (std::size_t i = 0; i < kPropertyFieldCount; ++i) {
            table[kPropertyFields[i].name.size()].push_back(i);
        }
        return table;
    }();
    if (name.size() >= kMaxLength) return kPropertyFieldCount;
    for (const std::size_t i : byLength[name.size()]) {
        const std::string_view candidate = kPropertyFields[i].name;
        if (candidate[0] == name[0] && candidate == name) return i;
    }
    return kPropertyFieldCount;
}

bool PropertiesEqual(const Properties& a, const Properties& b) {
    for (const PropertyField& f : PropertyFields()) {
        if (f.number == &Properties::GroupCollapsed) continue;
        if (f.text ? a.*f.text != b.*f.text : a.*f.number != b.*f.number) return false;
    }
    return true;
}

}  // namespace vandrelle
