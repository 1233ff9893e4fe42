// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigStore.h"

#include "FileUtil.h"
#include "KeyStore.h"
#include "NumberText.h"
#include "XmlDocument.h"

#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>

namespace vandrelle {
namespace {

bool IsContainer(pugi::xml_node node) {
    return IsElementNamed(node, "Group") || IsElementNamed(node, "Servers");
}

bool IsServer(pugi::xml_node node) {
    return IsElementNamed(node, "Server");
}

// Every lone LF becomes CR LF; CR LF pairs stay as they are.
std::string WithCrLf(std::string text) {
    if (text.find('\n') == std::string::npos) return text;
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

}  // namespace

// The first child element of each field's name, found in one pass over the
// children: a node holds about two dozen of them, and looking each field up
// separately would walk them all again for every field.
class FieldElements {
public:
    explicit FieldElements(pugi::xml_node parent) {
        for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
            // Text and comments have no name of a field; the type is checked on a match only.
            const std::size_t i = PropertyFieldIndex(c.name());
            if (i < kPropertyFieldCount && !m_at[i] && c.type() == pugi::node_element) m_at[i] = c;
        }
    }

    // Reads the field into the record when its element exists.
    void Read(std::size_t i, Properties& record) const {
        const pugi::xml_node e = m_at[i];
        if (!e) return;
        const PropertyField& f = kPropertyFields[i];
        if (f.text) {
            record.*f.text = ElementText(e);
        } else {
            record.*f.number = ParseNumber(ElementText(e));
        }
    }

    pugi::xml_node operator[](std::size_t i) const { return m_at[i]; }

private:
    std::array<pugi::xml_node, kPropertyFieldCount> m_at{};
};

namespace {

// Whether a writer puts the field into the file as text. The password is
// written enciphered, so any password can be stored; the log-on texts are
// written only by a node that does not inherit (one that does carries its
// ancestor's, which are not its to check); a group writes no server fields.
bool WrittenAsText(std::size_t field, const Properties& record, bool group) {
    switch (field) {
        case FieldId("Name"):
        case FieldId("Description"):
            return true;
        case FieldId("UserName"):
        case FieldId("Domain"):
            return record.InheritGeneral == 0;
        case FieldId("Server"):
        case FieldId("DriveCollection"):
            return !group;
        default:
            return false;
    }
}

// Refuses a record that the file could not hold, before anything is written.
void ValidateRecord(const Properties& record, bool group) {
    for (std::size_t i = 0; i < kPropertyFieldCount; ++i) {
        const PropertyField& f = kPropertyFields[i];
        if (WrittenAsText(i, record, group) && !IsStorableText(record.*f.text)) {
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

// The element holding a tree node's name: a group's "Properties/Name", a
// server's "Name"; null for any other child. Only the name is compared: a
// processing instruction of those names has no children, so no name either.
pugi::xml_node NameElement(pugi::xml_node node) {
    const char* kind = node.name();
    if (kind[0] == 'G' && std::strcmp(kind, "Group") == 0) {
        const pugi::xml_node name =
            FirstChildElement(FirstChildElement(node, "Properties"), "Name");
        return name ? name : SelectElement(node, "Properties/Name");  // a later "Properties"
    }
    if (kind[0] == 'S' && std::strcmp(kind, "Server") == 0) return FirstChildElement(node, "Name");
    return {};
}

// A first look at a tree node's name, as cheap as reading it: false only when
// the node's name certainly is not `name`. It reads the first piece of text of
// the element NameElement picks (or "" when that takes a longer look). A whole
// text equal to `name` holds that piece inside it, and a piece as long as the
// whole only when the piece is the whole.
bool MayBeNamed(pugi::xml_node node, std::string_view name) {
    const char* kind = node.name();
    const char* first = nullptr;
    if (kind[0] == 'S' && std::strcmp(kind, "Server") == 0) {
        first = node.child_value("Name");
    } else if (kind[0] == 'G' && std::strcmp(kind, "Group") == 0) {
        first = node.child("Properties").child_value("Name");
    } else {
        return false;
    }
    const std::string_view piece(first);
    if (piece == name) return true;
    return piece.size() < name.size() && (piece.empty() || name.find(piece) != name.npos);
}

constexpr std::string_view kKeyValue = "key";

// The password key that the program's key holds; nullopt when it holds none.
// A value that is not a key is an error: it may be a key damaged by hand, and
// passwords enciphered under it would not decipher under a new one.
std::optional<PasswordKey> StoredKey(const RegKey& key) {
    const auto value = key.ReadValue(kKeyValue);
    if (!value) return std::nullopt;
    PasswordKey stored{};
    if (value->type != ValueType::Binary || value->bytes.size() != stored.size()) {
        throw std::runtime_error(
            "the password key (\"key\" under HKEY_CURRENT_USER\\Software\\Vandrelle) is not " +
            std::to_string(stored.size()) + " bytes of binary data; it was left as it is");
    }
    std::copy(value->bytes.begin(), value->bytes.end(), stored.begin());
    return stored;
}

// Makes a password key and stores it in the program's key, creating that. The
// key in use is the one that reads back: a key that is not stored would make
// every password enciphered under it undecipherable at the next start, and a
// key stored meanwhile by another process wins over the one made here.
PasswordKey MakeStoredKey(KeyStore& keys) {
    auto key = keys.CreateKey(Hive::CurrentUser, kProgramKey);
    if (!key) throw std::runtime_error("cannot store a new password key: " + keys.LastError());
    if (const auto stored = StoredKey(*key)) return *stored;
    const PasswordKey made = MakeInstallationKey();
    if (!key->WriteBinary(kKeyValue, {made.begin(), made.end()})) {
        throw std::runtime_error("cannot store a new password key: " + keys.LastError());
    }
    const auto reread = keys.OpenKey(Hive::CurrentUser, kProgramKey);
    const auto stored = reread ? StoredKey(*reread) : std::nullopt;
    if (!stored) {
        const std::string why = keys.LastError();
        throw std::runtime_error("the new password key does not read back from the key store" +
                                 (why.empty() ? std::string() : ": " + why));
    }
    return *stored;
}

// Adding or moving is refused rather than nest the file deeper than a load accepts.
ConfigError TooDeep() {
    return ConfigError(kInvalidArgument,
                       "groups cannot be nested deeper: the file would hold "
                       "elements nested deeper than " +
                           std::to_string(kMaxElementDepth) + " levels");
}

// Two siblings of one name would share one path, and every operation on the
// second would reach the first: no operation makes such a pair.
ConfigError DuplicateName(const std::string& name) {
    return ConfigError(kInvalidArgument,
                       "A group or server named '" + name + "' already exists here.");
}

// A direct child of the container named `name`, other than `except`.
pugi::xml_node ChildNamed(pugi::xml_node container, std::string_view name,
                          pugi::xml_node except = {}) {
    for (pugi::xml_node c = container.first_child(); c; c = c.next_sibling()) {
        if (c == except || !MayBeNamed(c, name)) continue;
        const pugi::xml_node element = NameElement(c);
        if (element && ElementTextEquals(element, name)) return c;
    }
    return {};
}

// A node without a name would be unreachable by path (an empty name ends a path).
void RequireName(const Properties& record) {
    if (record.Name.empty()) throw ConfigError(kInvalidArgument, "the name must not be empty");
}

// The root's first child element of that name, appended when it has none.
pugi::xml_node TopElement(pugi::xml_document& document, std::string_view name) {
    const pugi::xml_node root = document.document_element();
    const pugi::xml_node found = FirstChildElement(root, name);
    return found ? found : AppendChildElement(root, name);
}

}  // namespace

CConfigStore::CConfigStore(KeyStore& keys) : m_keys(keys) {
    BuildEmptyDocument();
}

bool CConfigStore::Init() {
    m_key = {};
    m_keyReady = false;
    m_initError.clear();
    m_maximized = 0;
    BuildEmptyDocument();
    m_dirty = false;
    try {
        auto key = m_keys.OpenKey(Hive::CurrentUser, kProgramKey);
        if (!key && !m_keys.LastError().empty()) {
            throw std::runtime_error("cannot read the password key: " + m_keys.LastError());
        }
        if (auto maximized = key ? key->ReadDword("Maximized") : std::nullopt) {
            m_maximized = static_cast<int>(*maximized);
        }
        const std::optional<PasswordKey> stored = key ? StoredKey(*key) : std::nullopt;
        m_key = stored ? *stored : MakeStoredKey(m_keys);
    } catch (const std::runtime_error& e) {
        m_initError = e.what();
        return false;
    }
    m_cipher = Rc4(m_key.data(), m_key.size());
    m_keyReady = true;
    return true;
}

void CConfigStore::RequireKey() const {
    if (!m_keyReady) {
        throw std::logic_error("no password key: " + (m_initError.empty()
                                                          ? "the store was not initialised"
                                                          : m_initError));
    }
}

void CConfigStore::BuildEmptyDocument() {
    m_document.reset();
    m_document.append_child("Vandrelle");
    AttachTopElements();
}

void CConfigStore::AttachTopElements() {
    m_servers = TopElement(m_document, "Servers");
    m_settings = TopElement(m_document, "Settings");
}

// The copy is taken once per version: every change after the first finds it.
void CConfigStore::BeforeChange() {
    if (m_diskMerge && !m_dirty && !m_base && m_onDisk) m_base = SerializeDocument(m_document);
}

void CConfigStore::SetDiskVersion(std::string text) {
    m_onDisk = DiskVersion{m_path, DigestOf(text)};
    if (m_diskMerge) {
        m_base = std::move(text);
    } else {
        m_base.reset();
    }
}

bool CConfigStore::Load(const std::string& path) {
    m_loadMissing = !FileExists(path);
    pugi::xml_document loaded;
    ContentDigest digest;
    if (!LoadDocumentFile(loaded, path, &digest, &m_loadError)) return false;
    m_document = std::move(loaded);
    AttachTopElements();
    m_loadError.clear();
    m_onDisk = DiskVersion{path, digest};
    m_base.reset();
    return true;
}

CConfigStore::Reload CConfigStore::ReloadFromDisk() {
    FileBytes bytes;
    if (!m_onDisk || m_onDisk->path != m_path || !ReadFileBytes(m_path, &bytes, nullptr) ||
        DigestOf(bytes.view()) == m_onDisk->digest)
        return Reload::Unchanged;
    if (m_dirty) {
        // What was merged becomes the base: the file may have changed again since the read above.
        std::string merged;
        if (!MergeDiskVersion(&merged)) return Reload::Unchanged;
        SetDiskVersion(std::move(merged));
        return Reload::Reloaded;
    }
    if (!Load(m_path)) {
        MarkTargetUnreadable(m_loadError);
        return Reload::Unreadable;
    }
    m_unreadable.reset();
    return Reload::Reloaded;
}

void CConfigStore::MarkTargetUnreadable(std::string message) {
    m_unreadable = std::move(message);
}

bool CConfigStore::WriteDocument(const std::string& path) {
    return WriteFileAtomically(path, SerializeDocument(m_document), 0600, &m_saveError);
}

bool CConfigStore::IsAsLastSeen(const std::string& target) const {
    FileBytes bytes;
    return m_onDisk && m_onDisk->path == m_path && ReadFileBytes(target, &bytes, nullptr) &&
           DigestOf(bytes.view()) == m_onDisk->digest;
}

bool CConfigStore::KeepDiskVersion(const std::string& target) {
    if (!FileExists(target)) {
        m_unreadable.reset();  // gone meanwhile: nothing to keep
        return true;
    }
    if (m_unreadable) {
        if (!CopyBeside(target, ".unreadable", &m_keptCopy, &m_saveError)) return false;
        m_unreadable.reset();
        return true;
    }
    return IsAsLastSeen(target) || CopyBeside(target, ".changed", &m_keptChanged, &m_saveError);
}

bool CConfigStore::Save() {
    if (!m_dirty || m_openBatches > 0) return true;
    const bool saved = WriteFile();
    if (m_saveListener) m_saveListener(saved);
    return saved;
}

CConfigStore::SaveBatch::SaveBatch(CConfigStore& store) : m_store(&store) {
    ++store.m_openBatches;
}

// A batch cut short by an exception keeps what it added, as immediate saves
// would have; how that save went is for the save listener to tell.
CConfigStore::SaveBatch::~SaveBatch() {
    try {
        Finish();
    } catch (const std::exception&) {
    }
}

bool CConfigStore::SaveBatch::Finish() {
    if (!m_store) return true;
    CConfigStore& store = *std::exchange(m_store, nullptr);
    --store.m_openBatches;
    return store.Save();
}

// True when the disk's changes since the version last seen are now in the
// document; `merged` receives the file's bytes that were merged.
bool CConfigStore::MergeDiskVersion(std::string* merged) {
    if (!m_diskMerge || m_unreadable || !m_onDisk || m_onDisk->path != m_path || !m_base)
        return false;
    std::string bytes, error;
    if (!ReadWholeFile(m_path, &bytes, nullptr) || DigestOf(bytes) == m_onDisk->digest)
        return false;
    pugi::xml_document base, theirs;
    if (!ParseDocument(base, *m_base, &error) || !ParseDocument(theirs, bytes, &error))
        return false;
    // The base is the document as loaded, which has both top elements.
    TopElement(theirs, "Servers");
    TopElement(theirs, "Settings");
    m_conflicts = m_diskMerge(base, m_document, theirs);
    AttachTopElements();
    if (merged) *merged = std::move(bytes);
    return true;
}

bool CConfigStore::WriteFile() {
    m_keptCopy.clear();
    m_keptChanged.clear();
    m_conflicts.clear();
    MakeFolders(FolderOf(m_path));
    const FolderLock turn(FolderOf(m_path));
    const bool merged = MergeDiskVersion();
    std::string text = SerializeDocument(m_document);
    FileReplacement file(m_path);
    if (!file.Write(text, 0600, &m_saveError)) return false;
    if (!(merged && m_conflicts.empty()) && !KeepDiskVersion(file.Target())) return false;
    if (!file.Commit(&m_saveError)) return false;
    SetDiskVersion(std::move(text));
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
        const pugi::xml_node match = ChildNamed(current, names[i]);
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

void CConfigStore::ReadLogon(const FieldElements& fields, Properties& record) const {
    RequireKey();
    fields.Read(FieldId("UserName"), record);
    fields.Read(FieldId("Domain"), record);
    if (pugi::xml_node e = fields[FieldId("Password")]) {
        record.Password = DecodePassword(ElementText(e), m_cipher);
    }
    fields.Read(FieldId("RDPPort"), record);
}

void CConfigStore::ReadProperties(pugi::xml_node element, Properties& record) const {
    pugi::xml_node settings = element;
    if (IsContainer(element)) {
        settings = FirstChildElement(element, "Properties");
        if (!settings) return;
    }
    const FieldElements fields(settings);
    fields.Read(FieldId("Name"), record);
    if (pugi::xml_node e = fields[FieldId("Description")])
        record.Description = WithCrLf(ElementText(e));
    fields.Read(FieldId("Server"), record);
    fields.Read(FieldId("InheritGeneral"), record);
    if (record.InheritGeneral != 0) {
        Properties inherited;
        ResolveInherited(settings, inherited);
        record.UserName = inherited.UserName;
        record.Password = inherited.Password;
        record.Domain = inherited.Domain;
        record.RDPPort = inherited.RDPPort;
    } else {
        ReadLogon(fields, record);
    }
    static constexpr std::size_t kRest[] = {FieldId("ConnectToServerConsole"),
                                            FieldId("DesktopHeight"),
                                            FieldId("DesktopWidth"),
                                            FieldId("ColorDepth"),
                                            FieldId("FullScreen"),
                                            FieldId("RedirectPrinters"),
                                            FieldId("RedirectClipboard"),
                                            FieldId("RedirectPorts"),
                                            FieldId("RedirectSmartCards"),
                                            FieldId("RedirectDrives"),
                                            FieldId("DriveCollection"),
                                            FieldId("AudioRedirectionMode"),
                                            FieldId("KeyboardHookMode"),
                                            FieldId("PerformanceFlags"),
                                            FieldId("BitmapPersistence")};
    for (std::size_t id : kRest) fields.Read(id, record);
}

void CConfigStore::ReadGroupProperties(pugi::xml_node element, Properties& record) const {
    pugi::xml_node settings = FirstChildElement(element, "Properties");
    if (!settings) return;
    const FieldElements fields(settings);
    fields.Read(FieldId("GroupCollapsed"), record);
    fields.Read(FieldId("Name"), record);
    if (pugi::xml_node e = fields[FieldId("Description")])
        record.Description = WithCrLf(ElementText(e));
    fields.Read(FieldId("InheritGeneral"), record);
    if (record.InheritGeneral == 0) ReadLogon(fields, record);
}

// What inheritance needs of a group: whether it defines the log-on fields,
// and those fields when it does. The rest of the group's record is not looked at.
void CConfigStore::ReadInheritance(pugi::xml_node element, Properties& record) const {
    pugi::xml_node settings = FirstChildElement(element, "Properties");
    if (!settings) return;
    if (pugi::xml_node e = FirstChildElement(settings, "InheritGeneral")) {
        record.InheritGeneral = ParseNumber(ElementText(e));
    }
    if (record.InheritGeneral == 0) ReadLogon(FieldElements(settings), record);
}

void CConfigStore::ResolveInherited(pugi::xml_node start, Properties& record) const {
    pugi::xml_node node = start;
    if (std::string_view(node.name()) == "Servers") return;
    for (;;) {
        node = node.parent();
        if (node.type() != pugi::node_element) return;  // left the tree: defaults stand
        ReadInheritance(node, record);
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
    SetChildText(settings, "Password", EncodePassword(record.Password, m_cipher));
    SetChildInt(settings, "RDPPort", record.RDPPort);
}

bool CConfigStore::WriteGroupProperties(pugi::xml_node element, const Properties& record) {
    if (!IsContainer(element)) throw ConfigError(kInvalidArgument, "not a group");
    RequireKey();
    ValidateRecord(record, true);
    BeforeChange();
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
    RequireKey();
    ValidateRecord(record, false);
    BeforeChange();
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

// Checks a new node's record and parent, then appends the node's element.
pugi::xml_node CConfigStore::AppendNode(const NodePath& parent, const Properties& record,
                                        std::string_view kind) {
    RequireName(record);
    RequireKey();
    ValidateRecord(record, kind == "Group");
    pugi::xml_node container = RequireNode(parent, "the group");
    if (!IsContainer(container)) throw ConfigError(kInvalidArgument, "a server holds no nodes");
    // The node and its name: "Group/Properties/Name" or "Server/Name".
    const int levels = kind == "Group" ? 3 : 2;
    if (ElementDepth(container) + levels > kMaxElementDepth) throw TooDeep();
    if (ChildNamed(container, record.Name)) throw DuplicateName(record.Name);
    BeforeChange();
    return AppendChildElement(container, kind);
}

bool CConfigStore::AddGroup(const NodePath& parent, const Properties& record) {
    return WriteGroupProperties(AppendNode(parent, record, "Group"), record);
}

bool CConfigStore::AddServer(const NodePath& parent, const Properties& record) {
    return WriteServerProperties(AppendNode(parent, record, "Server"), record);
}

// Whether the edited record differs from what the path holds now.
bool CConfigStore::Differs(const NodePath& path, const Properties& record) const {
    if (!path.IsTop()) RequireName(record);
    Properties stored;
    LoadProperties(path, stored);
    return !PropertiesEqual(stored, record);
}

// The node at the path, checked for a new name that a sibling already carries.
pugi::xml_node CConfigStore::RequireRenamable(const NodePath& path, const Properties& record,
                                              std::string_view what) const {
    pugi::xml_node node = RequireNode(path, what);
    if (!path.IsTop() && record.Name != path.Names().back() &&
        ChildNamed(node.parent(), record.Name, node)) {
        throw DuplicateName(record.Name);
    }
    return node;
}

bool CConfigStore::UpdateGroup(const NodePath& path, const Properties& record) {
    return !Differs(path, record) ||
           WriteGroupProperties(RequireRenamable(path, record, "the group"), record);
}

bool CConfigStore::UpdateServer(const NodePath& path, const Properties& record) {
    return !Differs(path, record) ||
           WriteServerProperties(RequireRenamable(path, record, "the server"), record);
}

void CConfigStore::DeleteNode(const NodePath& path) {
    if (path.IsTop()) throw ConfigError(kInvalidArgument, "the top of the tree cannot be deleted");
    pugi::xml_node node = RequireNode(path, "the node");
    BeforeChange();
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
    const int room = kMaxElementDepth - ElementDepth(target) - 1;  // levels below the moved node
    if (room < 0 || FirstElementBelow(node, room)) throw TooDeep();
    if (target != node.parent() && ChildNamed(target, source.Names().back(), node)) {
        throw DuplicateName(source.Names().back());
    }
    BeforeChange();
    MoveToEnd(target, node);
    m_dirty = true;
    return Save();
}

bool CConfigStore::SetGroupCollapsed(pugi::xml_node element, int collapsed) {
    if (!IsContainer(element)) throw ConfigError(kInvalidArgument, "not a group");
    BeforeChange();
    pugi::xml_node settings = FirstChildElement(element, "Properties");
    if (!settings) settings = AppendChildElement(element, "Properties");
    SetChildInt(settings, "GroupCollapsed", collapsed);
    m_dirty = true;
    return Save();
}

int CConfigStore::ReadSwitch(std::string_view name, int fallback) const {
    pugi::xml_node e = FirstChildElement(m_settings, name);
    return e ? ParseNumber(ElementText(e)) : fallback;
}

void CConfigStore::WriteSwitch(std::string_view name, int value, int current) {
    if (value == current) return;
    BeforeChange();
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
    if (auto key = m_keys.OpenKeyForWriting(Hive::CurrentUser, kProgramKey)) {
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
    auto key = keys.OpenKeyForWriting(Hive::CurrentUser, kProgramKey);
    if (!key) return;
    std::vector<std::uint8_t> bytes;
    for (std::int32_t v : {rect.left, rect.top, rect.right, rect.bottom}) {
        const auto u = static_cast<std::uint32_t>(v);
        for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<std::uint8_t>(u >> (8 * b)));
    }
    key->WriteBinary("WindowPos", bytes);
}

}  // namespace vandrelle
