#include <quorrel/DataModel.hpp>

#include "Snapshot.hpp"

#include "ListEditing.hpp"

#include <ace/Guard_T.h>

#include <algorithm>
#include <cstdint>
#include <locale>

namespace tav {

namespace {

typedef ACE_Guard<ACE_Recursive_Thread_Mutex> Guard;

const char* const RESERVED_GROUP_IDS[] = {"1", "2", "3"};
const char* const RESERVED_GROUP_NAMES[] = {"* guests *", "* unrestricted users *", "* restricted users *"};

Ret OK() {
    return Ret(Ret::OK, "");
}

Ret Reserved(const std::string& name) {
    return Ret(Ret::ERR, "The '" + name + "' group name is reserved");
}

// A copy of the stored entity for the caller; failing, the caller's pointer is emptied.
template <class Entity, class Set>
Ret CopyMember(const Set& set, const std::string& id, std::unique_ptr<Entity>& copy,
               const std::string& notFound) {
    for (const auto& entry : set)
        if (entry->GetID() == id) {
            copy.reset(new Entity(*entry));
            return OK();
        }
    copy.reset();
    return Ret(Ret::ERR, notFound);
}

// Runs an operation on a group's settings, or fails for a group that does not exist.
template <class Settings, class Operation> Ret InGroup(Settings* settings, Operation operation) {
    return settings ? operation(*settings) : Ret(Ret::ERR, "No such Group");
}

} // namespace

std::unique_ptr<DataModel::ClientGroup> DataModel::CreateClientGroup() const {
    return std::make_unique<ClientGroup>(const_cast<DataModel*>(this));
}

std::unique_ptr<DataModel::Client> DataModel::CreateClient() const {
    return std::make_unique<Client>(const_cast<DataModel*>(this));
}

std::unique_ptr<DataModel::CustomerSite> DataModel::CreateCustomerSite(bool blocked) const {
    return std::make_unique<CustomerSite>(const_cast<DataModel*>(this), blocked);
}

std::unique_ptr<DataModel::BlockedUrlWord> DataModel::CreateBlockedUrlWord() const {
    return std::make_unique<BlockedUrlWord>(const_cast<DataModel*>(this));
}

std::unique_ptr<DataModel::InapContentWord> DataModel::CreateInapContentWord() const {
    return std::make_unique<InapContentWord>(const_cast<DataModel*>(this));
}

std::unique_ptr<DataModel::ContentType> DataModel::CreateContentType() const {
    return std::make_unique<ContentType>(const_cast<DataModel*>(this));
}

bool DataModel::IsReservedClientGroupID(const std::string& groupId) {
    return std::find(std::begin(RESERVED_GROUP_IDS), std::end(RESERVED_GROUP_IDS), groupId) !=
           std::end(RESERVED_GROUP_IDS);
}

bool DataModel::IsReservedClientGroupName(const std::string& name) {
    std::string lower = name;
    for (char& c : lower)
        c = std::tolower(c, std::locale::classic());
    return std::find(std::begin(RESERVED_GROUP_NAMES), std::end(RESERVED_GROUP_NAMES), lower) !=
           std::end(RESERVED_GROUP_NAMES);
}

DataModel::HTTPProtocolSettings* DataModel::FindHTTPSettings(const std::string& groupId) const {
    const ClientGroup* group = FindClientGroup(groupId);
    return group ? dynamic_cast<HTTPProtocolSettings*>(group->GetProtocolSettings(PST_HTTP).get()) : nullptr;
}

DataModel::BlockedUrlWordManager* DataModel::FindWordList(const std::string& groupId,
                                                          ProtocolSettingsType type) const {
    const ClientGroup* group = FindClientGroup(groupId);
    return group ? dynamic_cast<BlockedUrlWordManager*>(group->GetProtocolSettings(type).get()) : nullptr;
}

Ret DataModel::GetFirstClientGroup() const {
    Guard guard(m_mutex);
    if (m_clientGroups.empty())
        return Ret(Ret::ERR, "No Client Groups in the list");
    return Ret(Ret::OK, "", new ClientGroup(*m_clientGroups.begin()->second));
}

Ret DataModel::GetClientGroup(const std::string& groupId) const {
    Guard guard(m_mutex);
    const ClientGroup* group = FindClientGroup(groupId);
    return group ? Ret(Ret::OK, "", new ClientGroup(*group)) : Ret(Ret::ERR, "No such Group");
}

void DataModel::GetClientGroups(std::vector<ClientGroup*>& groups) const {
    Guard guard(m_mutex);
    for (const auto& entry : m_clientGroups)
        groups.push_back(entry.second);
}

std::vector<std::pair<std::string, std::string>> DataModel::GetClientGroupNames() const {
    Guard guard(m_mutex);
    std::vector<std::pair<std::string, std::string>> names;
    for (const auto& entry : m_clientGroups)
        names.emplace_back(entry.first, entry.second->GetName());
    return names;
}

std::vector<std::unique_ptr<DataModel::ClientGroup>> DataModel::CopyClientGroups() const {
    Guard guard(m_mutex);
    std::vector<std::unique_ptr<ClientGroup>> groups;
    for (const auto& entry : m_clientGroups)
        groups.push_back(std::make_unique<ClientGroup>(*entry.second));
    return groups;
}

Ret DataModel::SaveClientGroup(ClientGroup& group) {
    Edit edit(*this);
    const Ret valid = group.Validate(true);
    if (!valid.IsOK())
        return valid;
    if (IsBlank(group.GetID())) {
        if (IsReservedClientGroupName(group.GetName()))
            return Reserved(group.GetName());
        group.SetID(NewID(m_clientGroups, [](const auto& entry) { return entry.first; }));
        auto stored = std::make_unique<ClientGroup>(group);
        // A new group starts with the default words and content types, shared with the defaults.
        if (HTTPProtocolSettings* http =
                dynamic_cast<HTTPProtocolSettings*>(stored->GetProtocolSettings(PST_HTTP).get())) {
            http->SetWords(m_defaultBlockedUrlWords);
            http->SetContentTypes(m_defaultContentTypes);
        }
        m_clientGroups.emplace(group.GetID(), stored.release());
        return OK();
    }
    ClientGroup* stored = FindClientGroup(group.GetID());
    if (!stored)
        return Ret(Ret::ERR, "No such Group");
    if (stored->GetName() != group.GetName()) {
        if (IsReservedClientGroupName(stored->GetName()))
            return Reserved(stored->GetName());
        if (IsReservedClientGroupName(group.GetName()))
            return Reserved(group.GetName());
    }
    *stored = group;
    return OK();
}

Ret DataModel::DeleteClientGroups(const std::vector<std::string>& groupIds) {
    Edit edit(*this);
    for (const std::string& id : groupIds) {
        if (IsReservedClientGroupID(id))
            return Ret(Ret::ERR, "Record can not be deleted because it is reserved.");
        for (const auto& entry : m_clients)
            if (entry.second->GetGroupID() == id)
                return Ret(Ret::ERR, "Record can not be deleted because some Client(s) reference it.");
    }
    for (const std::string& id : groupIds) {
        const auto found = m_clientGroups.find(id);
        if (found != m_clientGroups.end()) {
            delete found->second;
            m_clientGroups.erase(found);
        }
    }
    return OK();
}

Ret DataModel::SetBlockedCategories(const std::string& groupId, const std::vector<std::string>& categoryIds) {
    Edit edit(*this);
    ClientGroup* group = FindClientGroup(groupId);
    if (!group)
        return Ret(Ret::ERR, "No such Group");
    std::uint32_t mask = 0;
    for (const std::string& id : categoryIds) {
        const std::int32_t category = ToInt(id);
        if (category >= 1 && category <= 32)
            mask |= 1u << (category - 1);
    }
    group->SetBlockedCategoriesMask(mask);
    return OK();
}

Ret DataModel::PauseClientGroup(const std::string& groupId, std::int64_t until) {
    Edit edit(*this);
    ClientGroup* group = FindClientGroup(groupId);
    if (!group)
        return Ret(Ret::ERR, "No such Group");
    ClientGroup paused(*group);
    paused.SetPausedUntil(until);
    const Ret valid = paused.Validate(false);
    if (!valid.IsOK())
        return valid;
    group->SetPausedUntil(until);
    return OK();
}

Ret DataModel::GetProtocolSettings(const std::string& groupId, ProtocolSettingsType type,
                                   std::unique_ptr<ProtocolSettings>& settings) const {
    Guard guard(m_mutex);
    const ClientGroup* group = FindClientGroup(groupId);
    if (!group)
        return Ret(Ret::ERR, "No such Client Group");
    const boost::shared_ptr<ProtocolSettings> stored = group->GetProtocolSettings(type);
    if (!stored)
        return Ret(Ret::ERR, "Unknown Protocol Settings Type");
    settings = stored->Clone();
    return OK();
}

Ret DataModel::SaveProtocolSettings(const std::string& groupId, const ProtocolSettings& settings) {
    Edit edit(*this);
    ClientGroup* group = FindClientGroup(groupId);
    if (!group)
        return Ret(Ret::ERR, "No such Client Group");
    const Ret valid = settings.Validate(true);
    if (!valid.IsOK())
        return valid;
    group->AssignProtocolSettings(settings);
    return OK();
}

Ret DataModel::GetClients(const std::string& groupId, std::vector<Client*>& clients) const {
    Guard guard(m_mutex);
    for (const auto& entry : m_clients)
        if (IsBlank(groupId) || entry.second->GetGroupID() == groupId)
            clients.push_back(entry.second);
    return OK();
}

std::vector<std::unique_ptr<DataModel::Client>> DataModel::CopyClients(const std::string& groupId) const {
    Guard guard(m_mutex);
    std::vector<std::unique_ptr<Client>> clients;
    for (const auto& entry : m_clients)
        if (IsBlank(groupId) || entry.second->GetGroupID() == groupId)
            clients.push_back(std::make_unique<Client>(*entry.second));
    return clients;
}

Ret DataModel::GetClient(const std::string& clientId) const {
    Guard guard(m_mutex);
    const auto found = m_clients.find(clientId);
    return found == m_clients.end() ? Ret(Ret::ERR, "No such Client")
                                    : Ret(Ret::OK, "", new Client(*found->second));
}

Ret DataModel::SaveClient(const Client& client) {
    Edit edit(*this);
    const Ret valid = client.Validate(true);
    if (!valid.IsOK())
        return valid;
    const Ret taken(Ret::ERR, "The record with the same IP is exists.");
    if (IsBlank(client.GetID())) {
        if (m_clients.count(client.GetIP()))
            return taken;
        auto stored = std::make_unique<Client>(client);
        stored->SetID(client.GetIP());
        m_clients.emplace(client.GetIP(), stored.release());
        return OK();
    }
    const auto found = m_clients.find(client.GetID());
    if (found == m_clients.end())
        return Ret(Ret::ERR, "No such Client");
    if (client.GetID() != client.GetIP() && m_clients.count(client.GetIP()))
        return taken;
    Client* stored = found->second;
    m_clients.erase(found);
    *stored = client;
    stored->SetID(client.GetIP());
    m_clients.emplace(stored->GetID(), stored);
    return OK();
}

Ret DataModel::GiveExtraMinutes(const std::string& clientIp, std::int32_t minutes) {
    Edit edit(*this);
    const auto found = m_clients.find(clientIp);
    if (found == m_clients.end())
        return Ret(Ret::ERR, "No such Client");
    Client given(*found->second);
    // Minutes still held today add up from when the first were given; otherwise they start now.
    const std::int32_t today = GetExtraMinutesToday(given);
    if (today == 0)
        given.SetExtraMinutesGiven(m_clock->Now());
    given.SetExtraMinutes(static_cast<std::int32_t>(
        std::min<std::int64_t>(std::int64_t(today) + minutes, Client::EXTRA_MINUTES_MAX)));
    const Ret valid = given.Validate(false);
    if (!valid.IsOK())
        return valid;
    found->second->SetExtraMinutes(given.GetExtraMinutes());
    found->second->SetExtraMinutesGiven(given.GetExtraMinutesGiven());
    return OK();
}

Ret DataModel::DeleteClients(const std::vector<std::string>& clientIds) {
    Edit edit(*this);
    for (const std::string& id : clientIds) {
        const auto found = m_clients.find(id);
        if (found != m_clients.end()) {
            delete found->second;
            m_clients.erase(found);
        }
    }
    return OK();
}

Ret DataModel::GetCustomerSites(const std::string& groupId, bool blocked,
                                std::vector<CustomerSite*>& sites) const {
    Guard guard(m_mutex);
    return InGroup(FindHTTPSettings(groupId), [&](const HTTPProtocolSettings& http) {
        for (const auto& site : blocked ? http.GetBlockedCustomerSites() : http.GetTrustedCustomerSites())
            sites.push_back(site.get());
        return OK();
    });
}

Ret DataModel::GetCustomerSites(const std::string& groupId, bool blocked,
                                std::vector<boost::shared_ptr<CustomerSite>>& sites) const {
    Guard guard(m_mutex);
    return InGroup(FindHTTPSettings(groupId), [&](const HTTPProtocolSettings& http) {
        const CustomerSites& list = blocked ? http.GetBlockedCustomerSites() : http.GetTrustedCustomerSites();
        sites.insert(sites.end(), list.begin(), list.end());
        return OK();
    });
}

Ret DataModel::GetCustomerSite(const std::string& groupId, const std::string& siteId,
                               std::unique_ptr<CustomerSite>& site) const {
    Guard guard(m_mutex);
    return InGroup(FindHTTPSettings(groupId), [&](const HTTPProtocolSettings& http) {
        const Ret blocked = CopyMember(http.GetBlockedCustomerSites(), siteId, site, "No such Site");
        return blocked.IsOK() ? blocked
                              : CopyMember(http.GetTrustedCustomerSites(), siteId, site, "No such Site");
    });
}

Ret DataModel::SaveCustomerSite(const std::string& groupId, const CustomerSite& site) {
    Edit edit(*this);
    return InGroup(FindHTTPSettings(groupId), [&](HTTPProtocolSettings& http) {
        const Ret valid = site.Validate(true);
        if (!valid.IsOK())
            return valid;
        CustomerSites blocked = http.GetBlockedCustomerSites();
        CustomerSites trusted = http.GetTrustedCustomerSites();
        const Ret saved = SaveMember(
            {&blocked, &trusted}, site,
            [&blocked, &trusted](const CustomerSite& entry) -> CustomerSites& {
                return entry.GetIsBlocked() ? blocked : trusted;
            },
            [&blocked, &trusted] {
                std::vector<boost::shared_ptr<CustomerSite>> all(blocked.begin(), blocked.end());
                all.insert(all.end(), trusted.begin(), trusted.end());
                return NewID(all, [](const auto& entry) { return entry->GetID(); });
            },
            "Customer Site with the same URL already exists: ", "Customer Site not found: ");
        if (saved.IsOK()) {
            http.SetBlockedCustomerSites(blocked);
            http.SetTrustedCustomerSites(trusted);
        }
        return saved;
    });
}

Ret DataModel::DeleteCustomerSites(const std::string& groupId, bool blocked,
                                   const std::vector<std::string>& siteIds) {
    Edit edit(*this);
    return InGroup(FindHTTPSettings(groupId), [&](HTTPProtocolSettings& http) {
        if (blocked)
            http.SetBlockedCustomerSites(WithoutIDs(http.GetBlockedCustomerSites(), siteIds));
        else
            http.SetTrustedCustomerSites(WithoutIDs(http.GetTrustedCustomerSites(), siteIds));
        return OK();
    });
}

namespace {

// The operations on one keyed list of a group: its holder, and how the list is read and replaced.
template <class Holder, class Set> struct ListOf {
    Holder* holder;
    const Set& (Holder::*get)() const;
    void (Holder::*set)(const Set&);

    template <class Entity> Ret Append(std::vector<boost::shared_ptr<Entity>>& out) const {
        return InGroup(holder, [&](const Holder& found) {
            const Set& entries = (found.*get)();
            out.insert(out.end(), entries.begin(), entries.end());
            return OK();
        });
    }
    template <class Entity>
    Ret Copy(const std::string& id, std::unique_ptr<Entity>& copy, const std::string& notFound) const {
        return InGroup(holder,
                       [&](const Holder& found) { return CopyMember((found.*get)(), id, copy, notFound); });
    }
    template <class Entity>
    Ret Save(const Entity& given, const std::string& duplicate, const std::string& notFound) const {
        return InGroup(holder, [&](Holder& found) {
            const Ret valid = given.Validate(true);
            if (!valid.IsOK())
                return valid;
            Set entries = (found.*get)();
            const Ret saved = SaveMember(
                {&entries}, given, [&entries](const Entity&) -> Set& { return entries; },
                [&entries] { return NewID(entries, [](const auto& entry) { return entry->GetID(); }); },
                duplicate, notFound);
            if (saved.IsOK())
                (found.*set)(entries);
            return saved;
        });
    }
    Ret Delete(const std::vector<std::string>& ids) const {
        return InGroup(holder, [&](Holder& found) {
            (found.*set)(WithoutIDs((found.*get)(), ids));
            return OK();
        });
    }
};

ListOf<DataModel::BlockedUrlWordManager, DataModel::BlockedUrlWords>
Words(DataModel::BlockedUrlWordManager* holder) {
    return {holder, &DataModel::BlockedUrlWordManager::GetWords, &DataModel::BlockedUrlWordManager::SetWords};
}

ListOf<DataModel::HTTPProtocolSettings, DataModel::InapContentWords>
InapWords(DataModel::HTTPProtocolSettings* holder) {
    return {holder, &DataModel::HTTPProtocolSettings::GetInapContentWords,
            &DataModel::HTTPProtocolSettings::SetInapContentWords};
}

ListOf<DataModel::HTTPProtocolSettings, DataModel::ContentTypes>
Types(DataModel::HTTPProtocolSettings* holder) {
    return {holder, &DataModel::HTTPProtocolSettings::GetContentTypes,
            &DataModel::HTTPProtocolSettings::SetContentTypes};
}

const char* const WORD_EXISTS = "The same word already added: ";
const char* const WORD_NOT_FOUND = "Word not found: ";

} // namespace

Ret DataModel::GetBlockedUrlWords(const std::string& groupId, ProtocolSettingsType type,
                                  std::vector<boost::shared_ptr<BlockedUrlWord>>& words) const {
    Guard guard(m_mutex);
    return Words(FindWordList(groupId, type)).Append(words);
}

Ret DataModel::GetBlockedUrlWord(const std::string& groupId, ProtocolSettingsType type,
                                 const std::string& wordId, std::unique_ptr<BlockedUrlWord>& word) const {
    Guard guard(m_mutex);
    return Words(FindWordList(groupId, type)).Copy(wordId, word, "No such Word");
}

Ret DataModel::SaveBlockedUrlWord(const std::string& groupId, ProtocolSettingsType type,
                                  const BlockedUrlWord& word) {
    Edit edit(*this);
    return Words(FindWordList(groupId, type)).Save(word, WORD_EXISTS, WORD_NOT_FOUND);
}

Ret DataModel::DeleteBlockedUrlWords(const std::string& groupId, ProtocolSettingsType type,
                                     const std::vector<std::string>& wordIds) {
    Edit edit(*this);
    return Words(FindWordList(groupId, type)).Delete(wordIds);
}

Ret DataModel::GetInapContentWords(const std::string& groupId,
                                   std::vector<boost::shared_ptr<InapContentWord>>& words) const {
    Guard guard(m_mutex);
    return InapWords(FindHTTPSettings(groupId)).Append(words);
}

Ret DataModel::GetInapContentWord(const std::string& groupId, const std::string& wordId,
                                  std::unique_ptr<InapContentWord>& word) const {
    Guard guard(m_mutex);
    return InapWords(FindHTTPSettings(groupId)).Copy(wordId, word, "No such Word");
}

Ret DataModel::SaveInapContentWord(const std::string& groupId, const InapContentWord& word) {
    Edit edit(*this);
    return InapWords(FindHTTPSettings(groupId)).Save(word, WORD_EXISTS, WORD_NOT_FOUND);
}

Ret DataModel::DeleteInapContentWords(const std::string& groupId, const std::vector<std::string>& wordIds) {
    Edit edit(*this);
    return InapWords(FindHTTPSettings(groupId)).Delete(wordIds);
}

Ret DataModel::GetContentTypes(const std::string& groupId,
                               std::vector<boost::shared_ptr<ContentType>>& types) const {
    Guard guard(m_mutex);
    return Types(FindHTTPSettings(groupId)).Append(types);
}

Ret DataModel::GetContentType(const std::string& groupId, const std::string& typeId,
                              std::unique_ptr<ContentType>& type) const {
    Guard guard(m_mutex);
    return Types(FindHTTPSettings(groupId)).Copy(typeId, type, "No such Content Type");
}

Ret DataModel::SaveContentType(const std::string& groupId, const ContentType& type) {
    Edit edit(*this);
    return Types(FindHTTPSettings(groupId))
        .Save(type, "The same content type already added: ", "Type not found: ");
}

Ret DataModel::DeleteContentTypes(const std::string& groupId, const std::vector<std::string>& typeIds) {
    Edit edit(*this);
    return Types(FindHTTPSettings(groupId)).Delete(typeIds);
}

void DataModel::GetSecurityQuestions(std::vector<SecurityQuestion*>& questions) const {
    Guard guard(m_mutex);
    for (const auto& entry : m_securityQuestions)
        questions.push_back(entry.second.get());
}

std::vector<std::pair<std::string, std::string>> DataModel::GetSecurityQuestionTexts() const {
    Guard guard(m_mutex);
    std::vector<std::pair<std::string, std::string>> texts;
    for (const auto& entry : m_securityQuestions)
        texts.emplace_back(entry.second->GetID(), entry.second->GetQuestion());
    return texts;
}

DataModel::SecurityQuestion* DataModel::GetSecurityQuestion(const std::string& questionId) const {
    Guard guard(m_mutex);
    return FindSecurityQuestion(questionId).get();
}

Ret DataModel::GetSettings(std::unique_ptr<Settings>& settings) const {
    Guard guard(m_mutex);
    settings.reset(new Settings(*m_settings));
    return OK();
}

Ret DataModel::SaveSettings(const Settings& settings) {
    Edit edit(*this);
    const Ret valid = settings.Validate(false);
    if (!valid.IsOK())
        return valid;
    *m_settings = settings;
    return OK();
}

Ret DataModel::GetCategories(std::vector<const Category*>& categories) const {
    Guard guard(m_mutex);
    for (const auto& entry : m_categories)
        categories.push_back(entry.second);
    return OK();
}

} // namespace tav
