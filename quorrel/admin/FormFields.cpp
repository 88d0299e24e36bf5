#include <quorrel/admin/FormFields.hpp>
#include <tav/atom_failure.hpp>
#include <tav/http/atom.hpp>
#include <tav/uri.hpp>

#include <cctype>
#include <cstring>
#include <functional>

namespace tav::http::admin {

namespace {

const char* const knownNames[] = {
    "ObjectName",
    "Action",
    "ID",
    "DeleteID",
    "Name",
    "CanAccessByIP",
    "IP",
    "ClientGroupID",
    "Login",
    "Password",
    "PasswordConfirm",
    "ChangeLoginInfo",
    "ToggleWhat",
    "Uri",
    "IsBlocked",
    "BlockedSiteDeleteID",
    "TrustedSiteDeleteID",
    "TimeTable",
    "IsTimeTableEnabled",
    "IsTimeLimitsEnabled",
    "IsTrafficLimitsEnabled",
    "Word",
    "IsBlockedUrlWordsEnabled",
    "ServerIP",
    "AdministrativeURI",
    "IsFiltrationOff",
    "AdminEmail",
    "IsRunAtStartup",
    "OldPassword",
    "SecurityQuestionID",
    "SecurityAnswer",
    "SeverityLevel",
    "IsContentFiltrationEnabled",
    "InapContentWordDeleteID",
    "ContentType",
    "Description",
    "ContentTypeAction",
    "ContentTypeDeleteID",
    "_SessionID_",
};

using KnownNames = ACE_Hash_Map_Manager_Ex<std::string, tav::atom, std::hash<std::string>,
                                           ACE_Equal_To<std::string>, ACE_Null_Mutex>;

// The atoms of the names the pages use, made once.
const KnownNames& Known() {
    static const KnownNames* table = [] {
        auto* made = new KnownNames(64);
        for (const char* name : knownNames)
            if (made->rebind(name, tav::http::atom::make_private(name)) == -1)
                throw tav::atom_failure("ACE_Hash_Map_Manager_Ex::rebind");
        return made;
    }();
    return *table;
}

const std::vector<std::string> noValues;
const std::string noValue;

} // namespace

FormFields::FormFields() : m_privateNames(1000) {}

FormFields::~FormFields() = default;

tav::atom FormFields::Find(const std::string& name) const {
    tav::atom found;
    if (Known().find(name, found) == 0)
        return found;
    if (m_privateNames.find(name, found) == 0)
        return found;
    return tav::atom();
}

tav::atom FormFields::Intern(const std::string& name) {
    tav::atom found = Find(name);
    if (found)
        return found;
    found = tav::http::atom::make_private(name);
    if (m_privateNames.bind(name, found) == -1)
        throw tav::atom_failure("ACE_Hash_Map_Manager_Ex::bind");
    return found;
}

const std::string& FormFields::Get(const std::string& name) const {
    const std::vector<std::string>& values = GetAll(name);
    return values.empty() ? noValue : values.front();
}

const std::vector<std::string>& FormFields::GetAll(const std::string& name) const {
    const tav::atom key = Find(name);
    const auto found = key ? m_fields.find(key) : m_fields.end();
    return found == m_fields.end() ? noValues : found->second;
}

void FormFields::Set(const std::string& name, const std::string& value) {
    m_fields[Intern(name)] = {value};
}

void FormFields::Add(const std::string& name, const std::string& value) {
    m_fields[Intern(name)].push_back(value);
}

void FormFields::Decode(const std::string& body) {
    const auto isNameStart = [](unsigned char c) { return std::isalpha(c) || c == '_'; };
    const auto isNameChar = [](unsigned char c) { return std::isalnum(c) || c == '_'; };
    std::size_t at = 0;
    while (at < body.size()) {
        while (at < body.size() && !isNameStart(static_cast<unsigned char>(body[at])))
            ++at;
        if (at == body.size())
            return;
        const std::size_t nameStart = at;
        while (at < body.size() && isNameChar(static_cast<unsigned char>(body[at])))
            ++at;
        const std::string name = body.substr(nameStart, at - nameStart);
        const std::size_t equals = body.find('=', at);
        if (equals == std::string::npos)
            return;
        const std::size_t end = std::min(body.find('&', equals + 1), body.size());
        std::string value = body.substr(equals + 1, end - equals - 1);
        for (char& c : value)
            if (c == '+')
                c = ' ';
        tav::uri::decode_segment(value);
        if (!value.empty())
            Add(name, value);
        at = end;
    }
}

} // namespace tav::http::admin
