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
    if (m_securityQuestion && m_securityAnswer.IsEmpty())
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
        // Older files hold the password scrambled and the answer as typed; both are hashed on loading.
        ValueField<S>(
            u"password", [](const S& settings) { return settings.GetPassword().Stored(); },
            [](S& settings, const std::string& text) {
                settings.SetPassword(Secret::FromStored(text, &PasswordScrambler::Unscramble));
            }),
        ValueField<S>(u"securityquestionid", &S::GetSecurityQuestionID, &S::SetSecurityQuestionID),
        ValueField<S>(
            u"securityanswer", [](const S& settings) { return settings.GetSecurityAnswer().Stored(); },
            [](S& settings, const std::string& text) {
                settings.SetSecurityAnswer(Secret::FromStored(text, &TrimBlanks));
            }),
    };
    return fields;
}
} // namespace

// The question ID resolves at once, so the questions must be loaded first.
Ret DataModel::Settings::Load(const PolicyNode& record) {
    return LoadRecord(*this, record, Fields());
}

void DataModel::Settings::Save(PolicyNode& record) const {
    WriteFields(*this, record, Fields());
}

} // namespace tav
