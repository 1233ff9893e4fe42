// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vandrelle {

// The two hives the program looks at: its own settings live under the current
// user; the machine hive is read only.
enum class Hive { CurrentUser, LocalMachine };

// Value types as the registry knows them. Types the program does not use are
// kept as Other with their raw type number so that a rewrite preserves them.
enum class ValueType : std::uint32_t {
    String = 1,        // REG_SZ
    ExpandString = 2,  // REG_EXPAND_SZ, returned as stored (no expansion)
    Binary = 3,        // REG_BINARY
    Dword = 4,         // REG_DWORD
    Other = 0xFFFFFFFF,
};

struct RegValue {
    ValueType type = ValueType::Binary;
    std::uint32_t rawType = 3;  // the registry's type number (meaningful for Other)
    std::string text;           // String / ExpandString, UTF-8
    std::uint32_t number = 0;   // Dword
    // Binary / Other. For a String / ExpandString stored as UTF-16 data
    // (hex(1) / hex(2)), the data as stored, so that readers can check its
    // shape (even length, terminator); empty for a quoted string.
    std::vector<std::uint8_t> bytes;
};

// An open key. Closing is destruction. Writes reach the backing store before
// the call returns; a write that cannot be stored exactly returns false (the
// store's LastError() says why), so that whatever a write stores reads back
// unchanged. Text that holds a NUL cannot be stored in a string value.
class RegKey {
public:
    virtual ~RegKey() = default;

    // Names by index, in stored order; nullopt past the end (the enumeration's end).
    virtual std::optional<std::string> SubKeyName(std::size_t index) const = 0;
    virtual std::optional<std::string> ValueName(std::size_t index) const = 0;

    // nullopt when the value is missing. Value names compare case-insensitively.
    virtual std::optional<RegValue> ReadValue(std::string_view name) const = 0;

    // Fails on a key opened for reading only.
    virtual bool WriteValue(std::string_view name, const RegValue& value) = 0;

    // Typed conveniences: nullopt when missing or of another type.
    std::optional<std::string> ReadString(std::string_view name) const;  // String or ExpandString
    std::optional<std::uint32_t> ReadDword(std::string_view name) const;
    std::optional<std::vector<std::uint8_t>> ReadBinary(std::string_view name) const;

    bool WriteString(std::string_view name, std::string_view text);
    bool WriteDword(std::string_view name, std::uint32_t number);
    bool WriteBinary(std::string_view name, const std::vector<std::uint8_t>& bytes);
};

// Values to write under one key, in order: a later value replaces an earlier
// one of the same name.
struct KeyValues {
    std::string path;  // below the hive, joined by backslashes
    std::vector<std::pair<std::string, RegValue>> values;
};

// The registry of the platform. Key paths are relative to the hive and use
// backslashes ("Software\\Vandrelle"); they compare case-insensitively.
//
// Each way of opening returns nullptr both when the key does not exist and
// when the store cannot be used; LastError() tells the two apart.
class KeyStore {
public:
    virtual ~KeyStore() = default;

    // Opens an existing key for reading only (this is how a first run is told
    // apart: the key is missing). The key's writes fail.
    virtual std::unique_ptr<RegKey> OpenKey(Hive hive, std::string_view path) = 0;

    // Opens an existing key for reading and writing; never creates it. nullptr
    // also for a hive that cannot be written.
    virtual std::unique_ptr<RegKey> OpenKeyForWriting(Hive hive, std::string_view path) = 0;

    // Opens a key for reading and writing, creating it (and its parents) when
    // missing; nullptr when that is not possible (for example a read-only hive).
    virtual std::unique_ptr<RegKey> CreateKey(Hive hive, std::string_view path) = 0;

    // Creates each key where missing and writes its values, as one write:
    // either all of them reach the store, or none does (false; LastError()
    // says why). A batch costs one write, however many keys and values it holds.
    virtual bool WriteKeys(Hive hive, const std::vector<KeyValues>& keys) = 0;

    // Why the last call on the store, or on a key it opened, failed: one line
    // for the user. Empty when that call succeeded or found the key missing.
    virtual std::string LastError() const = 0;
};

// The program's own key under the current user.
inline constexpr std::string_view kProgramKey = "Software\\Vandrelle";

}  // namespace vandrelle
