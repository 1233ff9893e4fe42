// SPDX-License-Identifier: GPL-3.0-or-later
#include "Cli.h"

#include "AddIns.h"
#include "CliText.h"
#include "ConfigIndex.h"
#include "ConfigLocation.h"
#include "ConfigStore.h"
#include "ExternalClient.h"
#include "FileUtil.h"
#include "MstscImport.h"
#include "NumberText.h"
#include "PasswordInput.h"
#include "RegFileMerge.h"
#include "StoredCredentials.h"
#include "TreeMerge.h"
#include "Version.h"
#include "XmlDocument.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <ostream>
#include <string_view>
#include <unordered_set>

namespace vandrelle {
namespace {

constexpr std::string_view kHelp =
    "usage: vandrelle-cli [--config FILE] COMMAND [ARGUMENT ...]\n"
    "       vandrelle-cli --help | --version\n"
    "\n"
    "Reads and edits Vandrelle's tree of groups and servers in its configuration file.\n"
    "\n"
    "Commands:\n"
    "  tree                                        print the tree, groups with a final /\n"
    "  find WORD ...                               print the paths of the servers that match\n"
    "                                              every WORD, best match first\n"
    "  show [--json] [--show-password] [NAME ...]  print a node's settings\n"
    "  add-group [NAME ...] --set Name=N ...       add a group to the named group\n"
    "  add-server [NAME ...] --set Name=N ...      add a server to the named group\n"
    "  set [NAME ...] --set Field=Value ...        change a node's settings\n"
    "  move [NAME ...] --to [NAME ...]             move a node into another group\n"
    "  delete [NAME ...]                           delete a node and what it holds\n"
    "  external-command [NAME ...]                 print the system client's command line\n"
    "  import-mstsc [NAME ...]                     import the system client's saved servers\n"
    "  import-reg FILE                             merge a registry-editor export into the\n"
    "                                              key-store file\n"
    "  addins                                      print the registered add-in libraries\n"
    "  encode-password TEXT                        print TEXT as the file stores it\n"
    "  decode-password TEXT                        print the password a stored TEXT holds\n"
    "  merge BASE OURS THEIRS                      merge what THEIRS changed since BASE into\n"
    "                                              OURS (a git merge driver); exit 1 lists\n"
    "                                              the fields both changed (OURS kept)\n"
    "\n"
    "Options:\n"
    "  --config FILE  use FILE instead of the file the program finds\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "A node is named by its path from the top, one argument per name; no name means\n"
    "the top. Put -- before names that begin with --. A new node's name is given\n"
    "with --set Name=N, the names before it being the path of its group.\n"
    "\n"
    "--set Password=- reads the password from standard input instead of the command\n"
    "line, where other users and the shell's history would see it: typed without\n"
    "echo on a terminal, else the first line of the input.\n"
    "\n"
    "Exit codes: 0 success, 1 a path does not resolve (merge: a field changed on both\n"
    "sides), 2 bad usage or a bad value,\n"
    "3 a file or the password's input cannot be read or written. See vandrelle-cli(1).\n";

// A failure that ends the command with an exit code and one line of text.
struct CliFailure {
    int code;
    std::string message;
};

// Known before anything is read, so that a mistyped command touches no file.
constexpr std::string_view kCommands[] = {"tree",
                                          "find",
                                          "show",
                                          "add-group",
                                          "add-server",
                                          "set",
                                          "move",
                                          "delete",
                                          "addins",
                                          "external-command",
                                          "encode-password",
                                          "decode-password",
                                          "import-mstsc",
                                          "import-reg",
                                          "merge"};

// Ends a command line the companion does not understand, pointing to the help.
CliFailure UsageFailure(const std::string& message) {
    return CliFailure{kExitUsage, message + " (see vandrelle-cli --help)"};
}

struct Command {
    bool help = false;
    bool version = false;
    std::string configFile;
    std::string name;
    std::vector<std::string> path;  // the node's names, or the parent's for add-*
    std::vector<std::string> to;    // move's destination
    std::vector<std::string> sets;  // Field=Value
    bool json = false;
    bool showPassword = false;
};

Command ParseArguments(const std::vector<std::string>& args) {
    Command cmd;
    std::size_t i = 0;
    auto next = [&](std::string_view option) -> const std::string& {
        if (i + 1 >= args.size())
            throw CliFailure{kExitUsage, std::string(option) + " needs a value"};
        return args[++i];
    };
    for (; i < args.size() && args[i].starts_with("--"); ++i) {
        if (args[i] == "--help" || args[i] == "--version") {
            cmd.help = args[i] == "--help";
            cmd.version = !cmd.help;
            return cmd;
        }
        if (args[i] == "--config") {
            cmd.configFile = next("--config");
        } else {
            throw UsageFailure("unknown option " + args[i]);
        }
    }
    if (i >= args.size()) throw UsageFailure("no command given");
    cmd.name = args[i++];
    if (std::ranges::find(kCommands, cmd.name) == std::end(kCommands))
        throw UsageFailure("unknown command " + cmd.name);
    bool namesOnly = false;
    std::vector<std::string>* names = &cmd.path;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (namesOnly || !a.starts_with("--")) {
            names->push_back(a);
        } else if (a == "--") {
            namesOnly = true;
        } else if (a == "--help") {
            cmd.help = true;
        } else if (a == "--set") {
            cmd.sets.push_back(next("--set"));
        } else if (a == "--to" && cmd.name == "move") {
            names = &cmd.to;
        } else if (a == "--json" && cmd.name == "show") {
            cmd.json = true;
        } else if (a == "--show-password" && cmd.name == "show") {
            cmd.showPassword = true;
        } else {
            throw UsageFailure("unknown option " + a + " for " + cmd.name);
        }
    }
    return cmd;
}

bool IsLogonField(const PropertyField& f) {
    return f.text == &Properties::UserName || f.text == &Properties::Password ||
           f.text == &Properties::Domain || f.number == &Properties::RDPPort;
}

// Whether a node of that kind stores the field: groups (and the top) their
// name, description, log-on settings and collapse state; servers all the rest.
bool IsStoredFor(const PropertyField& f, bool group) {
    if (f.number == &Properties::GroupCollapsed) return group;
    return !group || f.text == &Properties::Name || f.text == &Properties::Description ||
           f.number == &Properties::InheritGeneral || IsLogonField(f);
}

// The value of --set Password= that has the password read from the input.
constexpr std::string_view kPasswordFromInput = "-";

// Gives the password that --set Password=- stands for.
using PasswordReader = std::function<std::string()>;

// Applies "Field=Value" settings to the record of a group or a server.
// Refuses what would not be stored as given, so that a command never reports
// success for a value the file does not get: a field the node does not keep,
// a port out of range, or a log-on field while the node (after these settings)
// inherits its log-on settings. A password to be read is read only once the
// rest was accepted.
void ApplySets(const std::vector<std::string>& sets, bool group, Properties& record,
               const PasswordReader& readPassword) {
    const PropertyField* logon = nullptr;
    bool passwordFromInput = false;
    for (const std::string& s : sets) {
        const auto eq = s.find('=');
        if (eq == std::string::npos) throw CliFailure{kExitUsage, "--set needs Field=Value: " + s};
        const std::string field = s.substr(0, eq);
        const std::string value = s.substr(eq + 1);
        const PropertyField* f = FindPropertyField(field);
        if (!f) throw CliFailure{kExitUsage, "unknown field " + field};
        if (!IsStoredFor(*f, group)) {
            throw CliFailure{kExitUsage,
                             field + " is not stored for a " + (group ? "group" : "server")};
        }
        if (f->text) {
            record.*f->text = value;
        } else if (!ParseStrictNumber(value, &(record.*f->number))) {
            throw CliFailure{kExitUsage, field + " needs a number, not \"" + value + "\""};
        }
        if (f->number == &Properties::RDPPort && (record.RDPPort < 1 || record.RDPPort > 65535)) {
            throw CliFailure{kExitUsage, std::string(kPortRangeMessage)};
        }
        if (IsLogonField(*f) && !logon) logon = f;
        if (f->text == &Properties::Password) passwordFromInput = value == kPasswordFromInput;
    }
    if (logon && record.InheritGeneral != 0) {
        throw CliFailure{kExitUsage, std::string(logon->name) +
                                         " is not stored while the node inherits its log-on "
                                         "settings; add --set InheritGeneral=0"};
    }
    if (passwordFromInput) record.Password = readPassword();
}

void PrintRecord(const Properties& record, const Command& cmd, std::ostream& out) {
    bool first = true;
    if (cmd.json) out << "{";
    for (const PropertyField& f : PropertyFields()) {
        std::string text = f.text ? record.*f.text : FormatNumber(record.*f.number);
        if (f.text == &Properties::Password && !text.empty() && !cmd.showPassword) text = "***";
        if (cmd.json) {
            out << (first ? "" : ", ") << JsonString(f.name) << ": "
                << (f.text ? JsonString(text) : text);
        } else {
            out << f.name << "=" << EscapedText(text) << "\n";
        }
        first = false;
    }
    if (cmd.json) out << "}\n";
}

// One line per group ("Name/") and server, indented two spaces a level. The
// walk enters groups only and keeps no stack, whatever the nesting.
void PrintTree(pugi::xml_node top, std::ostream& out) {
    std::size_t depth = 0;
    pugi::xml_node node = top.first_child();
    while (node) {
        const bool group = IsElementNamed(node, "Group");
        const std::string indent(depth * 2, ' ');
        if (group) {
            out << indent << EscapedText(ElementText(SelectElement(node, "Properties/Name")))
                << "/\n";
            if (node.first_child()) {
                node = node.first_child();
                ++depth;
                continue;
            }
        } else if (IsElementNamed(node, "Server")) {
            out << indent << EscapedText(ElementText(FirstChildElement(node, "Name"))) << "\n";
        }
        for (; !node.next_sibling() && depth > 0; --depth) node = node.parent();
        node = node.next_sibling();
    }
}

pugi::xml_node ExistingNode(const CConfigStore& store, const NodePath& path) {
    pugi::xml_node node = store.FindNode(path);
    if (!node) throw CliFailure{kExitNoSuchNode, "no node " + path.ToString()};
    return node;
}

void RequireSaved(bool saved, const CConfigStore& store) {
    if (!saved) throw CliFailure{kExitFile, "cannot save: " + store.LastSaveError()};
}

void AddNode(const Command& cmd, const NodePath& parent, CConfigStore& store,
             const PasswordReader& readPassword) {
    const bool group = cmd.name == "add-group";
    ExistingNode(store, parent);
    Properties record;
    ApplySets(cmd.sets, group, record, readPassword);
    RequireSaved(group ? store.AddGroup(parent, record) : store.AddServer(parent, record), store);
}

// UpdateGroup ignores the collapse state (the tree panel stores it on its
// own), so the record it writes along with another change carries the state
// the file has unless the command sets it, and a change of the state alone is
// written here.
bool UpdateGroupAndCollapse(CConfigStore& store, const NodePath& path, pugi::xml_node node,
                            const Properties& record, int storedCollapse) {
    Properties current;
    store.LoadProperties(path, current);
    if (!PropertiesEqual(current, record)) return store.UpdateGroup(path, record);
    if (record.GroupCollapsed == storedCollapse) return true;
    return store.SetGroupCollapsed(node, record.GroupCollapsed);
}

bool IsGroup(pugi::xml_node node) {
    return std::string_view(node.name()) != "Server";
}

// The node's effective record, with a group's collapse state as the file has it.
Properties ReadNodeRecord(const CConfigStore& store, pugi::xml_node node) {
    Properties record;
    store.ReadProperties(node, record);
    if (IsGroup(node)) {
        Properties own;
        store.ReadGroupProperties(node, own);
        record.GroupCollapsed = own.GroupCollapsed;
    }
    return record;
}

void SetNode(const Command& cmd, const NodePath& path, CConfigStore& store,
             const PasswordReader& readPassword) {
    const pugi::xml_node node = ExistingNode(store, path);
    const bool group = IsGroup(node);
    Properties record = ReadNodeRecord(store, node);
    const int storedCollapse = record.GroupCollapsed;
    ApplySets(cmd.sets, group, record, readPassword);
    RequireSaved(group ? UpdateGroupAndCollapse(store, path, node, record, storedCollapse)
                       : store.UpdateServer(path, record),
                 store);
}

void PrintExternalCommand(const NodePath& path, const CConfigStore& store, std::ostream& out) {
    if (std::string_view(ExistingNode(store, path).name()) != "Server") {
        throw CliFailure{kExitUsage, path.ToString() + " is not a server"};
    }
    const ExternalCommand command = ExternalCommandFor(store, path, false);
    out << EscapedText(command.program) << "\n";
    for (const std::string& a : command.arguments) out << EscapedText(a) << "\n";
}

// The labels of the group's direct children, as the tree shows them: groups
// by "Properties/Name", servers by "Name".
std::unordered_set<std::string> ChildLabels(pugi::xml_node group) {
    std::unordered_set<std::string> labels;
    for (pugi::xml_node child = group.first_child(); child; child = child.next_sibling()) {
        pugi::xml_node name;
        if (IsElementNamed(child, "Group")) {
            name = SelectElement(child, "Properties/Name");
        } else if (IsElementNamed(child, "Server")) {
            name = FirstChildElement(child, "Name");
        }
        if (name) labels.insert(ElementText(name));
    }
    return labels;
}

// The program's "Import MSTSC connections" without its question: the servers
// are saved together once all are added (one write, however many), then printed.
void ImportMstsc(const NodePath& path, CConfigStore& store, const CliEnvironment& env,
                 std::ostream& out) {
    const pugi::xml_node group = ExistingNode(store, path);
    if (!IsGroup(group)) throw CliFailure{kExitUsage, path.ToString() + " is not a group"};
    EmptyCredentialStore none;
    std::unordered_set<std::string> labels = ChildLabels(group);
    std::vector<std::string> added;
    CConfigStore::SaveBatch batch(store);
    ImportMstscConnections(
        *env.keys, env.credentials ? *env.credentials : none,
        [&labels](const std::string& label) { return labels.contains(label); },
        [&](const Properties& record) {
            store.AddServer(path, record);
            labels.insert(record.Name);
            added.push_back(record.Name);
        });
    RequireSaved(batch.Finish(), store);
    for (const std::string& name : added) out << EscapedText(name) << "\n";
}

// An empty line is refused: a script whose variable came out empty would
// otherwise wipe the password.
std::string ReadPassword(const CliEnvironment& env, std::ostream& err) {
    std::string password = ReadPasswordLine(env.input, err, "Password: ");
    if (password.empty()) {
        throw CliFailure{kExitUsage,
                         "no password read for --set Password=- (to clear it: --set Password=)"};
    }
    return password;
}

// The servers the program's find bar shows for the words, best first, as
// paths; nothing found ends with kExitNoSuchNode.
int FindServers(const Command& cmd, const CConfigStore& store, std::ostream& out) {
    std::string typed;
    for (const std::string& word : cmd.path) typed += (typed.empty() ? "" : " ") + word;
    const IndexedConfig indexed = IndexConfig(store);
    const FindResult found = indexed.index.Find(ParseQuery(typed));
    if (found.ranked.empty()) throw CliFailure{kExitNoSuchNode, "no server matches " + typed};
    for (const int server : found.ranked) {
        out << EscapedText(indexed.serverPaths[static_cast<std::size_t>(server)].ToString())
            << "\n";
    }
    return kExitOk;
}

void RunFileCommand(const Command& cmd, CConfigStore& store, const CliEnvironment& env,
                    std::ostream& out, std::ostream& err) {
    const NodePath path(cmd.path);
    const PasswordReader readPassword = [&] { return ReadPassword(env, err); };
    if (cmd.name == "tree") {
        PrintTree(store.ServersElement(), out);
    } else if (cmd.name == "show") {
        PrintRecord(ReadNodeRecord(store, ExistingNode(store, path)), cmd, out);
    } else if (cmd.name == "add-group" || cmd.name == "add-server") {
        AddNode(cmd, path, store, readPassword);
    } else if (cmd.name == "set") {
        SetNode(cmd, path, store, readPassword);
    } else if (cmd.name == "move") {
        ExistingNode(store, path);
        ExistingNode(store, NodePath(cmd.to));
        RequireSaved(store.MoveNode(path, NodePath(cmd.to)), store);
    } else if (cmd.name == "external-command") {
        PrintExternalCommand(path, store, out);
    } else if (cmd.name == "import-mstsc") {
        ImportMstsc(path, store, env, out);
    } else if (cmd.name == "delete") {
        store.DeleteNode(path);
        RequireSaved(store.Save(), store);
    }
}

// A new node's name is a setting, not one of the names before it: a first try
// such as "add-group Lab" is shown the command it meant.
void CheckNewName(const Command& cmd) {
    constexpr std::string_view kName = "Name=";
    const auto name = std::ranges::find_if(cmd.sets.rbegin(), cmd.sets.rend(),
                                           [&](const auto& s) { return s.starts_with(kName); });
    if (name != cmd.sets.rend() && name->size() > kName.size()) return;
    const std::string meant = cmd.sets.empty() && !cmd.path.empty() ? cmd.path.back() : "NAME";
    throw CliFailure{kExitUsage, "give the new " +
                                     std::string(cmd.name == "add-group" ? "group" : "server") +
                                     "'s name: --set Name=" + meant +
                                     "; the names before it are the parent's path"};
}

void CheckArguments(const Command& cmd) {
    const bool adds = cmd.name == "add-group" || cmd.name == "add-server";
    const bool takesSets = adds || cmd.name == "set";
    if (!takesSets && !cmd.sets.empty()) throw CliFailure{kExitUsage, cmd.name + " takes no --set"};
    if (adds) CheckNewName(cmd);
    if (cmd.name == "set" && cmd.sets.empty()) {
        throw CliFailure{kExitUsage, "set needs at least one --set Field=Value"};
    }
    if (cmd.name == "tree" && !cmd.path.empty())
        throw CliFailure{kExitUsage, "tree takes no names"};
    if (cmd.name == "find" && cmd.path.empty())
        throw CliFailure{kExitUsage, "find needs at least one WORD"};
}

// Merges a registry editor's file into the user's key store, all of it in one
// write or nothing: one line per key merged on `out`, a warning per part left
// out on `err`.
void ImportReg(const Command& cmd, KeyStore& keys, std::ostream& out, std::ostream& err) {
    if (cmd.path.size() != 1) throw CliFailure{kExitUsage, "import-reg needs one FILE"};
    const std::string& file = cmd.path[0];
    std::string data, error;
    if (!ReadWholeFile(file, &data, &error)) throw CliFailure{kExitFile, error};
    const auto merge = PlanRegMerge(data);
    if (!merge) {
        throw CliFailure{kExitFile, file +
                                        " is not a registry file: it does not begin with "
                                        "\"Windows Registry Editor Version 5.00\" or \"REGEDIT4\""};
    }
    for (const std::string& skipped : merge->skipped) {
        err << "vandrelle-cli: warning: skipped " << EscapedText(skipped) << "\n";
    }
    if (!keys.WriteKeys(Hive::CurrentUser, merge->keys)) {
        throw CliFailure{kExitFile, "cannot merge: " + keys.LastError()};
    }
    std::size_t values = 0;
    for (const RegMerge::Key& key : merge->keys) {
        const std::string name = "HKEY_CURRENT_USER" + (key.path.empty() ? "" : "\\" + key.path);
        out << EscapedText(name) << ": " << key.values.size()
            << (key.values.size() == 1 ? " value" : " values") << "\n";
        values += key.values.size();
    }
    out << "merged " << values << (values == 1 ? " value" : " values") << " in "
        << merge->keys.size() << (merge->keys.size() == 1 ? " key" : " keys") << "\n";
}

// Merges three configuration files into OURS, in one write or not at all;
// the fields both sides changed go to `err`, one line each.
int MergeFiles(const Command& cmd, std::ostream& err) {
    if (cmd.path.size() != 3) throw CliFailure{kExitUsage, "merge needs BASE OURS THEIRS"};
    pugi::xml_document docs[3];
    for (int i = 0; i < 3; ++i) {
        std::string data, error;
        if (!ReadWholeFile(cmd.path[i], &data, &error) || !ParseDocument(docs[i], data, &error))
            throw CliFailure{kExitFile, cmd.path[i] + ": " + error};
    }
    const std::vector<MergeConflict> conflicts = MergeTrees(docs[0], docs[1], docs[2]);
    std::string error;
    if (!WriteFileAtomically(cmd.path[1], SerializeDocument(docs[1]), 0600, &error))
        throw CliFailure{kExitFile, error};
    for (const MergeConflict& c : conflicts) {
        err << "vandrelle-cli: conflict: " << EscapedText(c.node) << ": " << EscapedText(c.field)
            << " changed on both sides; ours kept\n";
    }
    return conflicts.empty() ? kExitOk : kExitConflicts;
}

int Run(const std::vector<std::string>& args, const CliEnvironment& env, std::ostream& out,
        std::ostream& err) {
    const Command cmd = ParseArguments(args);
    // Neither needs the key store or a file: both work for any user anywhere.
    if (cmd.help) {
        out << kHelp;
        return kExitOk;
    }
    if (cmd.version) {
        out << "vandrelle-cli " << kVersion << "\n";
        return kExitOk;
    }
    if (cmd.name == "merge") return MergeFiles(cmd, err);
    CConfigStore store(*env.keys);
    store.SetDiskMerge(MergeTrees);
    // Without the stored password key no command is sound: passwords would be
    // enciphered under a key that the next run does not have.
    if (!store.Init()) throw CliFailure{kExitFile, store.LastInitError()};
    if (cmd.name == "addins") {
        if (!cmd.path.empty()) throw CliFailure{kExitUsage, "addins takes no arguments"};
        out << EscapedText(GetAddInList(*env.keys)) << "\n";
        return kExitOk;
    }
    if (cmd.name == "encode-password" || cmd.name == "decode-password") {
        if (cmd.path.size() != 1) throw CliFailure{kExitUsage, cmd.name + " needs one TEXT"};
        out << EscapedText(cmd.name == "encode-password" ? EncodePassword(cmd.path[0], store.Key())
                                                         : DecodePassword(cmd.path[0], store.Key()))
            << "\n";
        return kExitOk;
    }
    CheckArguments(cmd);
    if (cmd.name == "import-reg") {
        ImportReg(cmd, *env.keys, out, err);
        return kExitOk;
    }
    const ConfigSearchResult found =
        cmd.configFile.empty() ? FindAndLoadConfig(store, env.programFolder, env.userFolder)
                               : LoadGivenConfig(store, cmd.configFile);
    if (store.UnreadableTargetMessage()) {
        throw CliFailure{kExitFile, *store.UnreadableTargetMessage()};
    }
    for (const std::string& problem : found.problems) {
        err << "vandrelle-cli: warning: skipped: " << EscapedText(problem) << "\n";
    }
    if (cmd.name == "find") return FindServers(cmd, store, out);
    RunFileCommand(cmd, store, env, out, err);
    for (const MergeConflict& c : store.MergeConflicts()) {
        err << "vandrelle-cli: conflict: " << EscapedText(c.node) << ": " << EscapedText(c.field)
            << " was changed in the file meanwhile too; this change was saved\n";
    }
    if (!store.KeptChangedCopy().empty()) {
        err << "vandrelle-cli: warning: " << EscapedText(store.ConfigPath())
            << " had changed since it was read; that version is kept as "
            << EscapedText(store.KeptChangedCopy()) << "\n";
    }
    return kExitOk;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, const CliEnvironment& env, std::ostream& out,
           std::ostream& err) {
    // Messages quote names and values as given; escaped, each stays one line.
    const auto fail = [&err](std::string_view message) {
        err << "vandrelle-cli: " << EscapedText(message) << "\n";
    };
    try {
        return Run(args, env, out, err);
    } catch (const CliFailure& f) {
        fail(f.message);
        return f.code;
    } catch (const ConfigError& e) {
        fail(e.what());
        return e.code() == kInvalidPointer ? kExitNoSuchNode : kExitUsage;
    } catch (const std::exception& e) {
        fail(e.what());
        return kExitFile;
    }
}

}  // namespace vandrelle
