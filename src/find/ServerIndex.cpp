// SPDX-License-Identifier: GPL-3.0-or-later
#include "ServerIndex.h"

#include <algorithm>

namespace vandrelle {
namespace {

bool IsWordChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
}

// Whether a word of `name` (a run after a character that is no letter or
// digit) starts with `text`.
bool WordStartsWith(std::string_view name, std::string_view text) {
    for (std::size_t at = name.find(text); at != std::string_view::npos;
         at = name.find(text, at + 1)) {
        if (at == 0 || !IsWordChar(name[at - 1])) return true;
    }
    return false;
}

}  // namespace

int ServerIndex::AddGroup(int group, std::string_view name) {
    m_groups.push_back({group, FoldForMatch(name)});
    return GroupCount() - 1;
}

int ServerIndex::AddServer(int group, const ServerFields& fields) {
    Server server{group, 0, 0, {}};
    for (const std::string_view field :
         {fields.name, fields.host, fields.description, fields.user}) {
        server.text += FoldForMatch(field);
        server.text.push_back('\n');
    }
    server.nameLength = server.text.find('\n');
    server.hostLength = server.text.find('\n', server.nameLength + 1) - server.nameLength - 1;
    m_servers.push_back(std::move(server));
    return ServerCount() - 1;
}

ServerIndex::WordMask ServerIndex::MatchedWords(std::string_view text, const FindQuery& query,
                                                WordMask skip) {
    WordMask found = 0;
    for (std::size_t w = 0; w < query.words.size(); ++w) {
        const WordMask bit = WordMask{1} << w;
        if ((skip & bit) == 0 && text.find(query.words[w]) != std::string_view::npos) found |= bit;
    }
    return found;
}

int ServerIndex::Rank(const Server& server, const std::string& whole) {
    const std::string_view name(server.text.data(), server.nameLength);
    const std::string_view host(server.text.data() + server.nameLength + 1, server.hostLength);
    if (name == whole) return 0;
    if (name.starts_with(whole)) return 1;
    if (WordStartsWith(name, whole)) return 2;
    if (host.find(whole) != std::string_view::npos) return 3;
    return 4;
}

FindResult ServerIndex::Find(const FindQuery& query) const {
    FindResult result;
    if (query.Empty()) return result;
    result.filtering = true;
    const WordMask all =
        query.words.size() == 64 ? ~WordMask{0} : (WordMask{1} << query.words.size()) - 1;
    // A group's words: its own and those of the groups above it (a parent
    // comes before its children, so its mask is ready).
    std::vector<WordMask> groupWords(m_groups.size());
    result.groupShown.assign(m_groups.size(), 0);
    // Shows the groups on a way up, to one already shown: a shown group's
    // way is always shown, so each group is marked once per search.
    const auto showWay = [&](int g) {
        for (; g != kTop && !result.groupShown[static_cast<std::size_t>(g)];
             g = m_groups[static_cast<std::size_t>(g)].parent) {
            result.groupShown[static_cast<std::size_t>(g)] = FindResult::kOnTheWay;
        }
    };
    for (std::size_t g = 0; g < m_groups.size(); ++g) {
        const int parent = m_groups[g].parent;
        const WordMask above = parent == kTop ? 0 : groupWords[static_cast<std::size_t>(parent)];
        groupWords[g] = above | MatchedWords(m_groups[g].name, query, above);
        if (groupWords[g] == all) {
            // Its parents come first: nothing below it has marked it yet.
            result.groupShown[g] = FindResult::kMatches;
            showWay(parent);
        }
    }
    std::vector<int> ranks;
    for (std::size_t s = 0; s < m_servers.size(); ++s) {
        const Server& server = m_servers[s];
        const WordMask above =
            server.group == kTop ? 0 : groupWords[static_cast<std::size_t>(server.group)];
        if ((above | MatchedWords(server.text, query, above)) != all) continue;
        result.servers.push_back(static_cast<int>(s));
        ranks.push_back(Rank(server, query.whole));
        showWay(server.group);
    }
    std::vector<std::size_t> order(result.servers.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return ranks[a] < ranks[b]; });
    result.ranked.reserve(order.size());
    for (const std::size_t i : order) result.ranked.push_back(result.servers[i]);
    return result;
}

}  // namespace vandrelle
