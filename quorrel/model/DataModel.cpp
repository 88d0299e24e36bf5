#include <quorrel/DataModel.hpp>

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

DataModel::DataModel() = default;

DataModel::~DataModel() {
    for (const auto& entry : m_clientGroups)
        delete entry.second;
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
