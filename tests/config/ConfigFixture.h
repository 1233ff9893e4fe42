// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ConfigStore.h"
#include "RegFileKeyStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace vandrelle::test {

// A store over a key store and a configuration path inside a fresh folder.
class ConfigFixture : public ::testing::Test {
protected:
    ConfigFixture() : keys(dir.file("registry.reg"), dir.file("machine.reg")), store(NewStore()) {}

    // A store over the same key store and save target, as after a restart.
    std::unique_ptr<CConfigStore> NewStore() {
        auto other = std::make_unique<CConfigStore>(keys);
        other->Init();
        other->SetConfigPath(dir.file("Vandrelle.xml"));
        return other;
    }

    // Loads a data file through a copy in the folder, which becomes the save target.
    void LoadData(const std::string& name) {
        ASSERT_TRUE(LoadXml(ReadFile(DataFile(name)))) << store->LastLoadError();
    }

    // Writes the configuration file and loads it.
    bool LoadXml(const std::string& xml) {
        WriteFile(dir.file("Vandrelle.xml"), xml);
        return store->Load(dir.file("Vandrelle.xml"));
    }

    // A second store reading what the first one saved, as a restart would.
    std::unique_ptr<CConfigStore> Reopen() {
        auto other = NewStore();
        EXPECT_TRUE(other->Load(dir.file("Vandrelle.xml"))) << other->LastLoadError();
        return other;
    }

    // The record at `path`, as `from` (by default the store) reads it.
    Properties Load(const NodePath& path, const CConfigStore* from = nullptr) const {
        Properties p;
        (from ? from : store.get())->LoadProperties(path, p);
        return p;
    }

    std::string SavedFile() const { return ReadFile(dir.file("Vandrelle.xml")); }

    TempDir dir;
    RegFileKeyStore keys;
    std::unique_ptr<CConfigStore> store;
};

// A record with nothing but its name.
inline Properties Named(const std::string& name) {
    Properties p;
    p.Name = name;
    return p;
}

// A server with a host, inheriting its log-on settings unless told otherwise.
inline Properties Server(const std::string& name, int inherit = 1) {
    Properties p = Named(name);
    p.Server = "host.example";
    p.InheritGeneral = inherit;
    return p;
}

inline std::string Repeat(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

inline NodePath P(std::initializer_list<const char*> names) {
    return NodePath(std::vector<std::string>(names.begin(), names.end()));
}

// Names of the element's child elements in document order, each followed by a space.
inline std::string ChildNames(pugi::xml_node element) {
    std::string names;
    for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) names += std::string(c.name()) + " ";
    }
    return names;
}

}  // namespace vandrelle::test
