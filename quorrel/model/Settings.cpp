#include <quorrel/DataModel.hpp>

#include "PasswordScrambler.hpp"
#include "PolicyField.hpp"

namespace tav {

DataModel::Settings::Settings(DataModel* owner)
    : Base(owner), m_isFiltrationOn(false), m_isRunAtStartup(true) {}

std::string DataModel::Settings::GetSecurityQuestionID() const {
    return m_securityQuestion ? m_securityQuestion->GetID() : std::string();
}

void DataModel::Settings::SetSecurityQuestionID(const std::string& id) {
    m_securityQuestion = m_pOwner ? m_pOwner->FindSecurityQuestion(id) : nullptr;
}

Ret DataModel::Settings::Validate(bool) const {
    std::vector<std::string> problems;
    if (m_securityQuestion && IsBlank(m_securityAnswer))
        problems.emplace_back("Empty Security Answer");
    return Problems(problems);
}

namespace {
const PolicyFields<DataModel::Settings>& Fields() {
    using S = DataModel::Settings;
    static const PolicyFields<S> fields{
        BoolField(u"isfiltrationon", &S::GetIsFiltrationOn, &S::SetIsFiltrationOn),
        TextField(u"adminemail", &S::GetAdminEmail, &S::SetAdminEmail),
        BoolField(u"isrunatstartup", &S::GetIsRunAtStartup, &S::SetIsRunAtStartup),
        ValueField<S>(
            u"password",
            [](const S& settings) { return PasswordScrambler::Scramble(settings.GetPassword()); },
            [](S& settings, const std::string& text) {
                settings.SetPassword(PasswordScrambler::Unscramble(text));
            }),
        ValueField<S>(u"securityquestionid", &S::GetSecurityQuestionID, &S::SetSecurityQuestionID),
        TextField(u"securityanswer", &S::GetSecurityAnswer, &S::SetSecurityAnswer),
    };
    return fields;
}
} // namespace

// The question ID resolves at once, so the questions must be loaded first.
Ret DataModel::Settings::Load(const xercesc::DOMElement* element) {
    return LoadRecord(*this, element, Fields());
}

void DataModel::Settings::Save(xercesc::DOMDocument* document, xercesc::DOMElement* element) const {
    WriteFields(*this, document, element, Fields());
}

} // namespace tav
