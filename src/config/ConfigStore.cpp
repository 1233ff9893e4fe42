// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigStore.h"

#include "FileUtil.h"
#include "KeyStore.h"
#include "NumberText.h"
#include "XmlDocument.h"

namespace vandrelle {
namespace {

bool IsContainer(pugi::xml_node node) {
    const std::string_view name = node.name();
    return node.type() == pugi::node_element && (name == "Group" || name == "Servers");
}

bool IsServer(pugi::xml_node node) {
    return node.type() == pugi::node_element && std::string_view(node.name()) == "Server";
}

// Every lone LF becomes CR LF; CR LF pairs stay as they are.
std::string WithCrLf(std::string text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

void ReadText(pugi::xml_node from, std::string_view name, std::string& field) {
    if (pugi::xml_node e = FirstChildElement(from, name)) field = ElementText(e);
}

void ReadNumber(pugi::xml_node from, std::string_view name, int& field) {
    if (pugi::xml_node e = FirstChildElement(from, name)) {
        pugi::xml_node only = e.first_child();
        field =
            only && !only.next_sibling() ? ParseNumber(only.value()) : ParseNumber(ElementText(e));
    }
}

// Refuses a record that the file could not hold, before anything is written.
void ValidateRecord(const Properties& record) {
    for (const PropertyField& f : PropertyFields()) {
        if (f.text && !IsStorableText(record.*f.text)) {
            throw ConfigError(kInvalidArgument, std::string(f.name) +
                                                    " holds characters that the configuration "
                                                    "file cannot store");
        }
    }
}

bool IsSameOrBelow(pugi::xml_node node, pugi::xml_node ancestor) {
    for (; node; node = node.parent()) {
        if (node == ancestor) return true;
    }
    return false;
}

// A node without a name would be unreachable by path (an empty name ends a path).
void RequireName(const Properties& record) {
    if (record.Name.empty()) throw ConfigError(kInvalidArgument, "the name must not be empty");
}

}  // namespace

CConfigStore::CConfigStore(KeyStore& keys) : m_keys(keys) {
    BuildEmptyDocument();
}

bool CConfigStore::Init() {
    if (auto key = m_keys.OpenKey(Hive::CurrentUser, kProgramKey)) {
        if (auto bytes = key->ReadBinary("key"); bytes && bytes->size() == m_key.size()) {
            std::copy(bytes->begin(), bytes->end(), m_key.begin());
        }
        if (auto maximized = key->ReadDword("Maximized")) {
            m_maximized = static_cast<int>(*maximized);
        }
    } else if (auto created = m_keys.CreateKey(Hive::CurrentUser, kProgramKey)) {
        m_key = MakeInstallationKey();
        created->WriteBinary("key", std::vector<std::uint8_t>(m_key.begin(), m_key.end()));
    }
    BuildEmptyDocument();
    m_dirty = false;
    return true;
}

void CConfigStore::BuildEmptyDocument() {
    m_document.reset();
    m_document.append_child("Vandrelle");
    AttachTopElements();
}

void CConfigStore::AttachTopElements() {
    pugi::xml_node root = m_document.document_element();
    m_servers = FirstChildElement(root, "Servers");
    if (!m_servers) m_servers = AppendChildElement(root, "Servers");
    m_settings = FirstChildElement(root, "Settings");
    if (!m_settings) m_settings = AppendChildElement(root, "Settings");
}

bool CConfigStore::Load(const std::string& path) {
    std::string bytes;
    m_loadMissing = !FileExists(path);
    if (!ReadWholeFile(path, &bytes, &m_loadError)) return false;
    pugi::xml_document loaded;
    std::string error;
    if (!ParseDocument(loaded, bytes, &error)) {
        m_loadError = path + ": " + error;
        return false;
    }
    m_document.reset(loaded);
    AttachTopElements();
    m_loadError.clear();
    return true;
}

void CConfigStore::MarkTargetUnreadable(std::string message) {
    m_unreadable = std::move(message);
}

bool CConfigStore::WriteDocument(const std::string& path) {
    return WriteWholeFile(path, SerializeDocument(m_document), 0600, &m_saveError);
}

bool CConfigStore::KeepUnreadableCopy() {
    if (!FileExists(m_path)) {
        m_unreadable.reset();  // gone meanwhile: nothing left to keep
        return true;
    }
    std::string bytes;
    if (!ReadWholeFile(m_path, &bytes, &m_saveError)) return false;
    for (int n = 0; n < 1000; ++n) {
        const std::string copy = m_path + ".unreadable" + (n ? "." + std::to_string(n) : "");
        bool exists = false;
        if (WriteNewFile(copy, bytes, 0600, &exists, &m_saveError)) {
            m_keptCopy = copy;
            m_unreadable.reset();
            return true;
        }
        if (!exists) return false;
    }
    m_saveError = "no free name to keep the unreadable file " + m_path;
    return false;
}

bool CConfigStore::Save() {
    if (!m_dirty) return true;
    MakeFolders(FolderOf(m_path));
    const std::string temp = m_path + "~";
    if (!WriteDocument(temp)) return false;
    if (m_unreadable && !KeepUnreadableCopy()) return false;
    if (!ReplaceFile(temp, m_path, &m_saveError)) return false;
    m_dirty = false;
    m_saveError.clear();
    return true;
}

pugi::xml_node CConfigStore::FindNode(const NodePath& path) const {
    pugi::xml_node current = m_servers;
    const auto& names = path.Names();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i].empty()) {
            throw ConfigError(kInvalidArgument, "a path must not contain an empty name");
        }
        pugi::xml_node match;
        for (pugi::xml_node c = current.first_child(); c && !match; c = c.next_sibling()) {
            if (c.type() != pugi::node_element) continue;
            const std::string_view kind = c.name();
            pugi::xml_node name;
            if (kind == "Group") {
                name = SelectElement(c, "Properties/Name");
            } else if (kind == "Server") {
                name = FirstChildElement(c, "Name");
            }
            if (name && ElementTextEquals(name, names[i])) match = c;
        }
        if (!match) {
            if (i + 1 == names.size()) return {};
            throw ConfigError(
                kInvalidPointer,
                "no node named \"" + names[i] + "\" in " +
                    NodePath({names.begin(), names.begin() + static_cast<std::ptrdiff_t>(i)})
                        .ToString());
        }
        current = match;
    }
    return current;
}

pugi::xml_node CConfigStore::RequireNode(const NodePath& path, std::string_view what) const {
    pugi::xml_node node = FindNode(path);
    if (!node) {
        throw ConfigError(kInvalidPointer,
                          std::string(what) + " \"" + path.ToString() + "\" does not exist");
    }
    return node;
}

void CConfigStore::LoadProperties(const NodePath& path, Properties& record) const {
    if (pugi::xml_node node = FindNode(path)) ReadProperties(node, record);
}

void CConfigStore::ReadLogon(pugi::xml_node settings, Properties& record) const {
    ReadText(settings, "UserName", record.UserName);
    ReadText(settings, "Domain", record.Domain);
    if (pugi::xml_node e = FirstChildElement(settings, "Password")) {
        record.Password = DecodePassword(ElementText(e), m_key);
    }
    ReadNumber(settings, "RDPPort", record.RDPPort);
}

void CConfigStore::ReadProperties(pugi::xml_node element, Properties& record) const {
    pugi::xml_node settings = element;
    if (IsContainer(element)) {
        settings = FirstChildElement(element, "Properties");
        if (!settings) return;
    }
    ReadText(settings, "Name", record.Name);
    if (pugi::xml_node e = FirstChildElement(settings, "Description")) {
        record.Description = WithCrLf(ElementText(e));
    }
    ReadText(settings, "Server", record.Server);
    ReadNumber(settings, "InheritGeneral", record.InheritGeneral);
    if (record.InheritGeneral != 0) {
        Properties inherited;
        ResolveInherited(settings, inherited);
        record.UserName = inherited.UserName;
        record.Password = inherited.Password;
        record.Domain = inherited.Domain;
        record.RDPPort = inherited.RDPPort;
    } else {
        ReadLogon(settings, record);
    }
    ReadNumber(settings, "ConnectToServerConsole", record.ConnectToServerConsole);
    ReadNumber(settings, "DesktopHeight", record.DesktopHeight);
    ReadNumber(settings, "DesktopWidth", record.DesktopWidth);
    ReadNumber(settings, "ColorDepth", record.ColorDepth);
    ReadNumber(settings, "FullScreen", record.FullScreen);
    ReadNumber(settings, "RedirectPrinters", record.RedirectPrinters);
    ReadNumber(settings, "RedirectClipboard", record.RedirectClipboard);
    ReadNumber(settings, "RedirectPorts", record.RedirectPorts);
    ReadNumber(settings, "RedirectSmartCards", record.RedirectSmartCards);
    ReadNumber(settings, "RedirectDrives", record.RedirectDrives);
    ReadText(settings, "DriveCollection", record.DriveCollection);
    ReadNumber(settings, "AudioRedirectionMode", record.AudioRedirectionMode);
    ReadNumber(settings, "KeyboardHookMode", record.KeyboardHookMode);
    ReadNumber(settings, "PerformanceFlags", record.PerformanceFlags);
    ReadNumber(settings, "BitmapPersistence", record.BitmapPersistence);
}

void CConfigStore::ReadGroupProperties(pugi::xml_node element, Properties& record) const {
    pugi::xml_node settings = FirstChildElement(element, "Properties");
    if (!settings) return;
    ReadNumber(settings, "GroupCollapsed", record.GroupCollapsed);
    ReadText(settings, "Name", record.Name);
    if (pugi::xml_node e = FirstChildElement(settings, "Description")) {
        record.Description = WithCrLf(ElementText(e));
    }
    ReadNumber(settings, "InheritGeneral", record.InheritGeneral);
    if (record.InheritGeneral == 0) ReadLogon(settings, record);
}

void CConfigStore::ResolveInherited(pugi::xml_node start, Properties& record) const {
    pugi::xml_node node = start;
    if (std::string_view(node.name()) == "Servers") return;
    for (;;) {
        node = node.parent();
        if (node.type() != pugi::node_element) return;  // left the tree: defaults stand
        ReadGroupProperties(node, record);
        if (record.InheritGeneral == 0) return;
        if (std::string_view(node.name()) == "Servers") return;
    }
}

void CConfigStore::SetChildText(pugi::xml_node parent, std::string_view name,
                                std::string_view text) {
    pugi::xml_node child = FirstChildElement(parent, name);
    if (!child) child = AppendChildElement(parent, name);
    SetElementText(child, text);
}

void CConfigStore::SetChildInt(pugi::xml_node parent, std::string_view name, int value) {
    SetChildText(parent, name, FormatNumber(value));
}

void CConfigStore::WriteLogon(pugi::xml_node settings, const Properties& record) {
    SetChildText(settings, "UserName", record.UserName);
    SetChildText(settings, "Domain", record.Domain);
    SetChildText(settings, "Password", EncodePassword(record.Password, m_key));
    SetChildInt(settings, "RDPPort", record.RDPPort);
}

bool CConfigStore::WriteGroupProperties(pugi::xml_node element, const Properties& record) {
    if (!IsContainer(element)) throw ConfigError(kInvalidArgument, "not a group");
    ValidateRecord(record);
    pugi::xml_node settings = FirstChildElement(element, "Properties");
    if (!settings) settings = AppendChildElement(element, "Properties");
    SetChildText(settings, "Name", record.Name);
    SetChildText(settings, "Description", record.Description);
    SetChildInt(settings, "InheritGeneral", record.InheritGeneral);
    if (record.InheritGeneral == 0) WriteLogon(settings, record);
    SetChildInt(settings, "GroupCollapsed", record.GroupCollapsed);
    m_dirty = true;
    return Save();
}

bool CConfigStore::WriteServerProperties(pugi::xml_node element, const Properties& record) {
    if (!IsServer(element)) throw ConfigError(kInvalidArgument, "not a server");
    ValidateRecord(record);
    SetChildText(element, "Name", record.Name);
    SetChildText(element, "Description", record.Description);
    SetChildText(element, "Server", record.Server);
    SetChildInt(element, "InheritGeneral", record.InheritGeneral);
    if (record.InheritGeneral == 0) WriteLogon(element, record);
    SetChildInt(element, "ConnectToServerConsole", record.ConnectToServerConsole);
    SetChildInt(element, "DesktopHeight", record.DesktopHeight);
    SetChildInt(element, "DesktopWidth", record.DesktopWidth);
    SetChildInt(element, "ColorDepth", record.ColorDepth);
    SetChildInt(element, "FullScreen", record.FullScreen);
    SetChildInt(element, "RedirectPrinters", record.RedirectPrinters);
    SetChildInt(element, "RedirectClipboard", record.RedirectClipboard);
    SetChildInt(element, "RedirectPorts", record.RedirectPorts);
    SetChildInt(element, "RedirectSmartCards", record.RedirectSmartCards);
    SetChildInt(element, "RedirectDrives", record.RedirectDrives);
    SetChildText(element, "DriveCollection", record.DriveCollection);
    SetChildInt(element, "AudioRedirectionMode", record.AudioRedirectionMode);
    SetChildInt(element, "KeyboardHookMode", record.KeyboardHookMode);
    SetChildInt(element, "PerformanceFlags", record.PerformanceFlags);
    SetChildInt(element, "BitmapPersistence", record.BitmapPersistence);
    m_dirty = true;
    return Save();
}

bool CConfigStore::AddGroup(const NodePath& parent, const Properties& record) {
    RequireName(record);
    ValidateRecord(record);
    pugi::xml_node container = RequireNode(parent, "the group");
    if (!IsContainer(container)) throw ConfigError(kInvalidArgument, "a server holds no nodes");
    return WriteGroupProperties(AppendChildElement(container, "Group"), record);
}

bool CConfigStore::AddServer(const NodePath& parent, const Properties& record) {
    RequireName(record);
    ValidateRecord(record);
    pugi::xml_node container = RequireNode(parent, "the group");
    if (!IsContainer(container)) throw ConfigError(kInvalidArgument, "a server holds no nodes");
    return WriteServerProperties(AppendChildElement(container, "Server"), record);
}

bool CConfigStore::UpdateGroup(const NodePath& path, const Properties& record) {
    if (!path.IsTop()) RequireName(record);
    Properties stored;
    LoadProperties(path, stored);
    if (PropertiesEqual(stored, record)) return true;
    return WriteGroupProperties(RequireNode(path, "the group"), record);
}

bool CConfigStore::UpdateServer(const NodePath& path, const Properties& record) {
    if (!path.IsTop()) RequireName(record);
    Properties stored;
    LoadProperties(path, stored);
    if (PropertiesEqual(stored, record)) return true;
    return WriteServerProperties(RequireNode(path, "the server"), record);
}

void CConfigStore::DeleteNode(const NodePath& path) {
    if (path.IsTop()) throw ConfigError(kInvalidArgument, "the top of the tree cannot be deleted");
    pugi::xml_node node = RequireNode(path, "the node");
    node.parent().remove_child(node);
    m_dirty = true;
}

bool CConfigStore::MoveNode(const NodePath& source, const NodePath& destination) {
    if (source.IsTop()) throw ConfigError(kInvalidArgument, "the top of the tree cannot be moved");
    pugi::xml_node node = RequireNode(source, "the node");
    pugi::xml_node target = RequireNode(destination, "the group");
    if (!IsContainer(target)) throw ConfigError(kInvalidArgument, "a server holds no nodes");
    if (IsSameOrBelow(target, node)) {
        throw ConfigError(kInvalidArgument, "a group cannot be moved into itself or below itself");
    }
    MoveToEnd(target, node);
    m_dirty = true;
    return Save();
}

int CConfigStore::ReadSwitch(std::string_view name, int fallback) const {
    pugi::xml_node e = FirstChildElement(m_settings, name);
    return e ? ParseNumber(ElementText(e)) : fallback;
}

void CConfigStore::WriteSwitch(std::string_view name, int value, int current) {
    if (value == current) return;
    SetChildInt(m_settings, name, value);
    m_dirty = true;
}

int CConfigStore::GetCloseTabOnLogOff() const {
    return ReadSwitch("CloseTabOnLogOff", 0);
}
int CConfigStore::GetStatusBarVisible() const {
    return ReadSwitch("StatusBarVisible", 1);
}
int CConfigStore::GetQuitWithoutConfirm() const {
    return ReadSwitch("QuitWithoutConfirm", 0);
}
int CConfigStore::GetSingleInstance() const {
    return ReadSwitch("SingleInstance", 0);
}

void CConfigStore::SetCloseTabOnLogOff(int value) {
    WriteSwitch("CloseTabOnLogOff", value, GetCloseTabOnLogOff());
}

void CConfigStore::SetStatusBarVisible(int value) {
    WriteSwitch("StatusBarVisible", value, GetStatusBarVisible());
}

void CConfigStore::SetMaximized(int value) {
    if (value == m_maximized) return;
    m_maximized = value;
    if (auto key = m_keys.CreateKey(Hive::CurrentUser, kProgramKey)) {
        key->WriteDword("Maximized", static_cast<std::uint32_t>(value));
    }
}

bool ReadWindowPos(KeyStore& keys, WindowRect& rect) {
    auto key = keys.OpenKey(Hive::CurrentUser, kProgramKey);
    if (!key) return false;
    auto bytes = key->ReadBinary("WindowPos");
    if (!bytes || bytes->size() != 16) return false;
    std::int32_t v[4];
    for (int i = 0; i < 4; ++i) {
        std::uint32_t u = 0;
        for (int b = 3; b >= 0; --b) u = (u << 8) | (*bytes)[static_cast<std::size_t>(i * 4 + b)];
        v[i] = static_cast<std::int32_t>(u);
    }
    rect = {v[0], v[1], v[2], v[3]};
    return true;
}

void WriteWindowPos(KeyStore& keys, const WindowRect& rect) {
    auto key = keys.CreateKey(Hive::CurrentUser, kProgramKey);
    if (!key) return;
    std::vector<std::uint8_t> bytes;
    for (std::int32_t v : {rect.left, rect.top, rect.right, rect.bottom}) {
        const auto u = static_cast<std::uint32_t>(v);
        for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<std::uint8_t>(u >> (8 * b)));
    }
    key->WriteBinary("WindowPos", bytes);
}

}  // namespace vandrelle
