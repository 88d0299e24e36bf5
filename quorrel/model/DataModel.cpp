#include <quorrel/DataModel.hpp>

#include "PolicyXml.hpp"
#include "Snapshot.hpp"
#include "SnapshotShelf.hpp"

#include <ace/Guard_T.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tav {

const DataModel::Category DataModel::CAT_VIOLENCE("1", "Violence");
const DataModel::Category DataModel::CAT_HATE_SPEECH("2", "Hate Speech");
const DataModel::Category DataModel::CAT_WEB_CHAT("3", "Web Chat");
const DataModel::Category DataModel::CAT_PORNOGRAPHY("4", "Pornography");
const DataModel::Category DataModel::CAT_OBSCENE("5", "Obscene");
const DataModel::Category DataModel::CAT_GAMBLING("6", "Gambling");
const DataModel::Category DataModel::CAT_MATURE_CONTENT("7", "Mature Content");
const DataModel::Category DataModel::CAT_DRUGS("8", "Drugs");
const DataModel::Category DataModel::CAT_HACKING_AND_SPYWARE("10", "Hacking And Spyware");
const DataModel::Category DataModel::CAT_WEAPONS("11", "Weapons");
const DataModel::Category DataModel::CAT_SEX_EDUCATION("12", "Sex Education");
const DataModel::Category DataModel::CAT_WEB_EMAIL("13", "Web E-Mail");
const DataModel::Category DataModel::CAT_BOMB_MAKING("14", "Bomb Making");
const DataModel::Category DataModel::CAT_ALCOHOL("15", "Alcohol");
const DataModel::Category DataModel::CAT_TOBACCO("16", "Tobacco");

DataModel* DataModel::m_pInstance = nullptr;
ACE_Recursive_Thread_Mutex DataModel::m_mutex;

namespace {
typedef ACE_Guard<ACE_Recursive_Thread_Mutex> Guard;
}

DataModel* DataModel::GetInstance() {
    Guard guard(m_mutex);
    if (!m_pInstance) {
        // Stored at once: a failed load leaves the partly loaded model for later calls.
        m_pInstance = new DataModel();
        PolicyXml::Init();
        if (!m_pInstance->Init("cfg/zun_data.xml", "cfg/URLFilterDB.bin", "cfg/Administration/site").IsOK())
            throw std::runtime_error("Fail to initialize DataModel");
    }
    return m_pInstance;
}

void DataModel::SetInstance(DataModel* model) {
    Guard guard(m_mutex);
    m_pInstance = model;
}

void DataModel::DropInstance(const DataModel* model) {
    Guard guard(m_mutex);
    if (m_pInstance == model)
        m_pInstance = nullptr;
}

Ret DataModel::Init() {
    PolicyXml::Init();
    return Ret(Ret::OK, "");
}

DataModel::DataModel()
    : m_settings(new Settings(this)), m_urlFilter(std::make_shared<urlfilter::URLFilter>()),
      m_clock(std::make_shared<Clock>()), m_shelf(std::make_unique<SnapshotShelf>()) {
    for (const Category* category :
         {&CAT_VIOLENCE, &CAT_HATE_SPEECH, &CAT_WEB_CHAT, &CAT_PORNOGRAPHY, &CAT_OBSCENE, &CAT_GAMBLING,
          &CAT_MATURE_CONTENT, &CAT_DRUGS, &CAT_HACKING_AND_SPYWARE, &CAT_WEAPONS, &CAT_SEX_EDUCATION,
          &CAT_WEB_EMAIL, &CAT_BOMB_MAKING, &CAT_ALCOHOL, &CAT_TOBACCO})
        m_categories.emplace(category->GetID(), category);
    Publish();
}

std::shared_ptr<const DataModel::Snapshot> DataModel::Current() const {
    return m_shelf->Take();
}

void DataModel::Publish() {
    auto next = std::make_shared<Snapshot>();
    next->filtrationOn = m_settings->GetIsFiltrationOn();
    next->clock = m_clock;
    next->urlFilter = m_urlFilter;
    next->safeSearch = m_safeSearch;
    for (const auto& entry : m_clientGroups)
        next->groups.emplace(entry.first, entry.second->Copy());
    for (const auto& entry : m_clients) {
        // A client whose group is gone is not known to decisions.
        const auto group = next->groups.find(entry.second->GetGroupID());
        if (group != next->groups.end())
            next->clients.emplace(entry.first, Snapshot::Member{group->second.get(), entry.second->GetUsage(),
                                                                entry.second->GetExtraMinutes(),
                                                                entry.second->GetExtraMinutesGiven()});
    }
    m_shelf->Put(std::move(next));
}

void DataModel::SetSafeSearch(std::shared_ptr<const SafeSearch> table) {
    Edit edit(*this);
    m_safeSearch = std::move(table);
}

std::shared_ptr<const SafeSearch> DataModel::GetSafeSearch() const {
    return Current()->safeSearch;
}

DataModel::~DataModel() {
    for (const auto& entry : m_clientGroups)
        delete entry.second;
    for (const auto& entry : m_clients)
        delete entry.second;
    m_urlFilter->Clear();
}

Ret DataModel::Init(const std::string& tunesPath, const std::string& urlFilterPath,
                    const std::string& siteRoot) {
    Edit edit(*this);
    PolicyXml::Init();
    m_tunesPath = tunesPath;
    m_urlFilterPath = urlFilterPath;
    m_siteRoot = siteRoot;

    const std::string templatePath = siteRoot + "/pages/templates/ForbiddenPage.tpl.html";
    std::ifstream file(templatePath);
    if (!file)
        return Ret(Ret::ERR, "Error opening file " + templatePath);
    std::ostringstream text;
    text << file.rdbuf();
    m_forbiddenPageTemplate = text.str();

    const Ret tunes = LoadTunes();
    if (!tunes.IsOK())
        return tunes;
    try {
        // A database of its own: decisions may still read the one before.
        auto filter = std::make_shared<urlfilter::URLFilter>();
        filter->Load(urlFilterPath);
        m_urlFilter = std::move(filter);
    } catch (const std::runtime_error& e) {
        return Ret(Ret::ERR, e.what());
    } catch (...) {
        return Ret(Ret::ERR, "Error on URLFilter initializing");
    }
    return Ret(Ret::OK, "");
}

DataModel::ClientGroup* DataModel::FindClientGroup(const std::string& id) const {
    const auto found = m_clientGroups.find(id);
    return found == m_clientGroups.end() ? nullptr : found->second;
}

boost::shared_ptr<DataModel::SecurityQuestion> DataModel::FindSecurityQuestion(const std::string& id) const {
    const auto found = m_securityQuestions.find(id);
    return found == m_securityQuestions.end() ? boost::shared_ptr<SecurityQuestion>() : found->second;
}

} // namespace tav
