#include <quorrel/SafeSearch.hpp>
#include <quorrel/Text.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace tav {

namespace {

// A host as the table compares it: in lower case, without trailing dots.
std::string HostKey(const std::string& host) {
    std::string key = FoldCase(host, false);
    while (!key.empty() && key.back() == '.')
        key.pop_back();
    return key;
}

bool IsLetters(const std::string& text, std::size_t least, std::size_t most) {
    return text.size() >= least && text.size() <= most &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

// Labels of letters, digits and '-', joined by single dots.
bool IsHostName(const std::string& host) {
    if (host.empty() || host.front() == '.' || host.back() == '.' || host.find("..") != std::string::npos)
        return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    });
}

// What the `*` of NAME.* stands for: a top-level domain of letters, or a short second-level label and a
// two-letter country code.
bool IsCountryEnding(const std::string& ending) {
    const std::size_t dot = ending.find('.');
    if (dot == std::string::npos)
        return IsLetters(ending, 2, 63);
    return IsLetters(ending.substr(0, dot), 2, 3) && IsLetters(ending.substr(dot + 1), 2, 2);
}

// NAME=VALUE: a name of the characters a query leaves unescaped, a value without '&' or '#'.
bool IsParameter(const std::string& parameter) {
    const std::size_t equals = parameter.find('=');
    if (equals == 0 || equals == std::string::npos)
        return false;
    const std::string name = parameter.substr(0, equals);
    const std::string value = parameter.substr(equals + 1);
    return std::all_of(name.begin(), name.end(),
                       [](char c) {
                           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                  (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
                       }) &&
           std::all_of(value.begin(), value.end(),
                       [](char c) { return c > ' ' && c < 0x7f && c != '&' && c != '#'; });
}

// NAME.* rather than a host name.
bool IsPattern(const std::string& host) {
    return host.size() > 2 && host.compare(host.size() - 2, 2, ".*") == 0;
}

std::size_t LevelIndex(std::int32_t level) {
    return level >= SafeSearch::LEVEL_STRICT ? 1 : 0;
}

} // namespace

std::string SafeSearch::Redirect::Query(const std::string& query) const {
    if (parameter.empty())
        return query;
    const std::string name = FoldCase(parameter.substr(0, parameter.find('=')), false);
    std::string out;
    std::istringstream pairs(query);
    for (std::string pair; std::getline(pairs, pair, '&');) {
        if (pair.empty() || FoldCase(pair.substr(0, pair.find('=')), false) == name)
            continue;
        out += pair + "&";
    }
    return out + parameter;
}

Ret SafeSearch::Load(const std::string& path) {
    m_rules.clear();
    m_hosts.clear();
    m_patterns.clear();
    std::ifstream file(path);
    if (!file)
        return Ret(Ret::ERR, "cannot read " + path);
    std::vector<std::string> problems;
    // The line each host was listed on, for a repeated one.
    std::map<std::string, unsigned> listedOn;
    unsigned number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        std::istringstream words(line.substr(0, line.find('#')));
        std::vector<std::string> fields;
        for (std::string word; words >> word;)
            fields.push_back(word);
        if (fields.empty())
            continue;
        Rule rule;
        std::string problem = ReadRule(fields, rule);
        const auto listed = listedOn.find(rule.host);
        if (problem.empty() && listed != listedOn.end())
            problem = rule.host + " is listed already, on line " + std::to_string(listed->second);
        if (!problem.empty()) {
            problems.push_back(path + ":" + std::to_string(number) + ": " + problem);
            continue;
        }
        listedOn.emplace(rule.host, number);
        const std::size_t index = m_rules.size();
        if (IsPattern(rule.host))
            m_patterns.emplace_back(rule.host.substr(0, rule.host.size() - 2), index);
        else
            m_hosts.emplace(rule.host, index);
        m_rules.push_back(std::move(rule));
    }
    return problems.empty() ? Ret(Ret::OK, "") : Ret(Ret::ERR, problems);
}

std::string SafeSearch::ReadRule(const std::vector<std::string>& fields, Rule& rule) {
    if (fields.size() != 4 && fields.size() != 6)
        return "expected KIND HOST MODERATE-ADDRESS STRICT-ADDRESS [MODERATE-PARAMETER STRICT-PARAMETER], "
               "found " +
               std::to_string(fields.size()) + " fields";
    if (fields[0] == "search")
        rule.kind = Kind::Search;
    else if (fields[0] == "youtube")
        rule.kind = Kind::YouTube;
    else
        return "unknown kind '" + fields[0] + "' (search or youtube)";
    rule.host = HostKey(fields[1]);
    if (!IsHostName(IsPattern(rule.host) ? rule.host.substr(0, rule.host.size() - 2) : rule.host))
        return "'" + fields[1] + "' is neither a host name nor NAME.*";
    for (std::size_t level = 0; level < 2; ++level) {
        rule.addresses[level] = HostKey(fields[2 + level]);
        if (!IsHostName(rule.addresses[level]))
            return "'" + fields[2 + level] + "' is not a host name";
        if (fields.size() == 6 && fields[4 + level] != "-") {
            if (!IsParameter(fields[4 + level]))
                return "'" + fields[4 + level] + "' is neither NAME=VALUE nor -";
            rule.parameters[level] = fields[4 + level];
        }
    }
    return std::string();
}

const SafeSearch::Rule* SafeSearch::Find(const std::string& host) const {
    const std::string key = HostKey(host);
    const auto exact = m_hosts.find(key);
    if (exact != m_hosts.end())
        return &m_rules[exact->second];
    for (const auto& pattern : m_patterns) {
        const std::string& name = pattern.first;
        if (key.size() > name.size() + 1 && key.compare(0, name.size(), name) == 0 &&
            key[name.size()] == '.' && IsCountryEnding(key.substr(name.size() + 1)))
            return &m_rules[pattern.second];
    }
    return nullptr;
}

SafeSearch::Redirect SafeSearch::For(const std::string& host, std::int32_t searchLevel,
                                     std::int32_t youTubeLevel) const {
    Redirect redirect;
    const Rule* rule = Find(host);
    if (rule == nullptr)
        return redirect;
    const std::int32_t level = rule->kind == Kind::Search ? searchLevel : youTubeLevel;
    if (level <= LEVEL_OFF)
        return redirect;
    const std::size_t index = LevelIndex(level);
    redirect.address = rule->addresses[index];
    redirect.parameter = rule->parameters[index];
    if (rule->kind == Kind::YouTube)
        redirect.youTubeRestrict = index == 0 ? "Moderate" : "Strict";
    redirect.kind = rule->kind;
    redirect.level = std::min(level, LEVEL_STRICT);
    return redirect;
}

const char* SafeSearch::LevelName(std::int32_t level) {
    return LevelIndex(level) == 0 ? "moderate" : "strict";
}

} // namespace tav
