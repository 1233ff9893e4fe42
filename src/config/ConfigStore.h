// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ConfigError.h"
#include "FileUtil.h"
#include "MergeConflict.h"
#include "NodePath.h"
#include "PasswordCodec.h"
#include "Properties.h"

#include <pugixml.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vandrelle {

class KeyStore;
class FieldElements;

// The configuration: the connection tree and the application switches held in
// one XML document, plus the password key and the maximized flag from the key
// store. The document is the model: every read queries it, every edit changes
// it. Operations that can be refused throw ConfigError and change nothing.
class CConfigStore {
public:
    explicit CConfigStore(KeyStore& keys);
    CConfigStore(const CConfigStore&) = delete;
    CConfigStore& operator=(const CConfigStore&) = delete;

    // Reads the password key and the maximized flag from the key store and
    // builds the empty configuration; leaves the store clean. Where no key is
    // stored (a first run, or the program's key without "key"), makes one,
    // stores it and reads it back. Fails when no password key can be read or
    // stored; LastInitError() then says why, and the store must not be used:
    // it reads and writes no password (those calls throw std::logic_error).
    bool Init();
    const std::string& LastInitError() const { return m_initError; }

    // Replaces the document by the file at `path` when it can be read; on
    // failure the current document stays and LastLoadError() says why.
    bool Load(const std::string& path);

    // Writes the document when it holds unsaved changes, through
    // FileReplacement: to the temporary file (the file's name followed by "~"),
    // flushed, then renamed over the file, whose mode, owner and group stay; a
    // symbolic link is written through to the file it names. Returns false
    // when the file could not be written; the changes then stay pending
    // (dirty) and LastSaveError() says why.
    //
    // What the save replaces is kept beside it first when it is not what this
    // store last read or wrote there: an unreadable file as
    // "<file>.unreadable[.N]", and a file changed on disk since (edited by
    // hand, saved by another program) as "<file>.changed[.N]". The save itself
    // goes ahead: the document in memory wins, and neither side is lost.
    //
    // With a disk merge set, a file changed on disk since is merged instead:
    // the merge brings the disk's changes into the document (base: the
    // version last read or written), the merged document is saved, and the
    // disk version is kept as ".changed" only when fields conflicted
    // (MergeConflicts() names them). Writers of one folder on one machine
    // take turns (an advisory lock on the folder) from reading the file to
    // replacing it.
    bool Save();

    // Reads the file again when another writer changed it since this store
    // last read or wrote it. Unsaved changes (a save that failed) are merged
    // with it when a disk merge is set, and stay unsaved; without one the
    // file is not read while changes are pending. A file that cannot be
    // parsed leaves the document as it is and is kept beside it by the next
    // save, as at start-up (LastLoadError() says why).
    enum class Reload { Unchanged, Reloaded, Unreadable };
    Reload ReloadFromDisk();

    using DiskMerge = std::function<std::vector<MergeConflict>(const pugi::xml_document& base,
                                                               pugi::xml_document& ours,
                                                               const pugi::xml_document& theirs)>;
    void SetDiskMerge(DiskMerge merge) { m_diskMerge = std::move(merge); }
    // The fields the last save's merge found changed on both sides.
    const std::vector<MergeConflict>& MergeConflicts() const { return m_conflicts; }

    // Defers the saves of the edits made while it lives to one save at its
    // end, so that a batch of edits (an import of thousands of servers) costs
    // one write, as atomic as any save. Meanwhile the edits' saves report
    // success and the store stays dirty; Finish (or the destructor, should
    // the batch stop early) saves what was done. Batches nest: the outermost
    // saves. Every save outside a batch stays immediate.
    class SaveBatch {
    public:
        explicit SaveBatch(CConfigStore& store);
        ~SaveBatch();
        SaveBatch(const SaveBatch&) = delete;
        SaveBatch& operator=(const SaveBatch&) = delete;
        bool Finish();  // Save's result; a second call does nothing and returns true

    private:
        CConfigStore* m_store;  // null once finished
    };

    // Writes the whole document to `path` the same way (without those checks).
    bool WriteDocument(const std::string& path);

    // The tree.
    pugi::xml_node FindNode(const NodePath& path) const;
    void LoadProperties(const NodePath& path, Properties& record) const;
    void ReadProperties(pugi::xml_node element, Properties& record) const;
    void ReadGroupProperties(pugi::xml_node element, Properties& record) const;
    void ResolveInherited(pugi::xml_node start, Properties& record) const;

    // These return whether the file was saved afterwards (UpdateGroup and
    // UpdateServer also return true when there was nothing to change).
    bool AddGroup(const NodePath& parent, const Properties& record);
    bool AddServer(const NodePath& parent, const Properties& record);
    bool UpdateGroup(const NodePath& path, const Properties& record);
    bool UpdateServer(const NodePath& path, const Properties& record);
    bool WriteGroupProperties(pugi::xml_node element, const Properties& record);
    bool WriteServerProperties(pugi::xml_node element, const Properties& record);
    bool MoveNode(const NodePath& source, const NodePath& destination);
    // Stores a group's (or the top's) collapse state alone, and saves: the
    // rest of its settings stays as the file holds it.
    bool SetGroupCollapsed(pugi::xml_node element, int collapsed);
    void DeleteNode(const NodePath& path);  // marks dirty; saved later

    static void SetChildText(pugi::xml_node parent, std::string_view name, std::string_view text);
    static void SetChildInt(pugi::xml_node parent, std::string_view name, int value);

    // Application switches in the "Settings" element.
    int GetCloseTabOnLogOff() const;
    int GetStatusBarVisible() const;
    int GetQuitWithoutConfirm() const;
    int GetSingleInstance() const;
    void SetCloseTabOnLogOff(int value);
    void SetStatusBarVisible(int value);

    int IsMaximized() const { return m_maximized; }
    // Stores the flag only where the program's key exists; never creates it.
    void SetMaximized(int value);

    // Navigation for the tree panel.
    pugi::xml_node ServersElement() const { return m_servers; }
    pugi::xml_node SettingsElement() const { return m_settings; }
    const pugi::xml_document& Document() const { return m_document; }

    // The stored password key; throws std::logic_error when Init has not succeeded.
    const PasswordKey& Key() const {
        RequireKey();
        return m_key;
    }
    bool IsDirty() const { return m_dirty; }

    // Where saves go; set by the start-up search.
    const std::string& ConfigPath() const { return m_path; }
    void SetConfigPath(std::string path) { m_path = std::move(path); }

    // Why the last Load failed; whether it failed because the file is missing.
    const std::string& LastLoadError() const { return m_loadError; }
    bool LastLoadFileMissing() const { return m_loadMissing; }
    const std::string& LastSaveError() const { return m_saveError; }

    // Marks the save target as a file that exists but could not be read, so
    // that the first save keeps a copy of it. `message` is the reader's reason.
    void MarkTargetUnreadable(std::string message);
    const std::optional<std::string>& UnreadableTargetMessage() const { return m_unreadable; }
    // Where the last save kept the unreadable file, if it did.
    const std::string& KeptUnreadableCopy() const { return m_keptCopy; }
    // Where the last save kept the file it found changed on disk, if it did;
    // the user is to be told.
    const std::string& KeptChangedCopy() const { return m_keptChanged; }

    // Called after every save that had something to write, with whether it
    // was written; the user is told of failures and of the copies kept.
    void SetSaveListener(std::function<void(bool saved)> listener) {
        m_saveListener = std::move(listener);
    }

private:
    void BuildEmptyDocument();
    void BeforeChange();
    void SetDiskVersion(std::string text);
    void AttachTopElements();
    int ReadSwitch(std::string_view name, int fallback) const;
    void WriteSwitch(std::string_view name, int value, int current);
    void ReadLogon(const FieldElements& fields, Properties& record) const;
    void ReadInheritance(pugi::xml_node element, Properties& record) const;
    void WriteLogon(pugi::xml_node settings, const Properties& record);
    pugi::xml_node RequireNode(const NodePath& path, std::string_view what) const;
    pugi::xml_node AppendNode(const NodePath& parent, const Properties& record,
                              std::string_view kind);
    bool Differs(const NodePath& path, const Properties& record) const;
    pugi::xml_node RequireRenamable(const NodePath& path, const Properties& record,
                                    std::string_view what) const;
    void RequireKey() const;
    bool WriteFile();
    bool IsAsLastSeen(const std::string& target) const;
    bool MergeDiskVersion(std::string* merged = nullptr);
    bool KeepDiskVersion(const std::string& target);

    KeyStore& m_keys;
    pugi::xml_node m_servers;
    pugi::xml_node m_settings;
    pugi::xml_document m_document;
    PasswordKey m_key{};
    Rc4 m_cipher{m_key.data(), m_key.size()};  // keyed with m_key
    bool m_keyReady = false;                   // m_key is the stored key
    std::string m_initError;
    int m_maximized = 0;
    bool m_dirty = false;
    int m_openBatches = 0;  // SaveBatch scopes alive

    std::string m_path;
    std::string m_loadError;
    bool m_loadMissing = false;
    std::string m_saveError;
    std::function<void(bool)> m_saveListener;
    std::optional<std::string> m_unreadable;
    std::string m_keptCopy;
    std::string m_keptChanged;
    DiskMerge m_diskMerge;
    std::vector<MergeConflict> m_conflicts;

    // The file at `path` as this store last read or wrote it. Comparing
    // digests of the bytes, not the size and times, also catches an edit of
    // the same size within the file system's time resolution.
    struct DiskVersion {
        std::string path;
        ContentDigest digest;
    };
    std::optional<DiskVersion> m_onDisk;
    // The text of that version, the base a merge with another writer's
    // version needs, kept only with a DiskMerge. After a load the document is
    // that version until its first change, which takes the copy (BeforeChange).
    std::optional<std::string> m_base;
};

// The main window's last normal rectangle, in screen coordinates.
struct WindowRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    friend bool operator==(const WindowRect&, const WindowRect&) = default;
};

// "WindowPos" under the program's key: four signed 32-bit little-endian numbers.
// Writing never creates the key: only Init does, together with the password key.
bool ReadWindowPos(KeyStore& keys, WindowRect& rect);
void WriteWindowPos(KeyStore& keys, const WindowRect& rect);

}  // namespace vandrelle
