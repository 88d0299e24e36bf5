#pragma once

#include <quorrel/Base.hpp>
#include <quorrel/Secret.hpp>
#include <quorrel/Text.hpp>

namespace tav {

// The administrator's settings: the global filtration switch, the password and its recovery.
class QUORREL_EXPORT Settings : public Base {
public:
    explicit Settings(DataModel* owner);

    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    Ret Validate(bool skipIdCheck) const override;

    bool GetIsFiltrationOn() const { return m_isFiltrationOn; }
    void SetIsFiltrationOn(bool on) { m_isFiltrationOn = on; }
    const std::string& GetAdminEmail() const { return m_adminEmail; }
    void SetAdminEmail(const std::string& email) { m_adminEmail = email; }
    bool GetIsRunAtStartup() const { return m_isRunAtStartup; }
    void SetIsRunAtStartup(bool run) { m_isRunAtStartup = run; }
    // An empty password leaves the administration open. Only its hash is kept.
    const Secret& GetPassword() const { return m_password; }
    void SetPassword(const std::string& password) { m_password = Secret::Of(password); }
    void SetPassword(const Secret& password) { m_password = password; }
    const boost::shared_ptr<SecurityQuestion>& GetSecurityQuestion() const { return m_securityQuestion; }
    void SetSecurityQuestion(const boost::shared_ptr<SecurityQuestion>& question) {
        m_securityQuestion = question;
    }
    // The chosen question's ID, empty when there is none.
    std::string GetSecurityQuestionID() const;
    // Shares the owner's question with that ID, or clears the question when there is none.
    void SetSecurityQuestionID(const std::string& id);
    // The answer is kept as the hash of its text without blanks at either end.
    const Secret& GetSecurityAnswer() const { return m_securityAnswer; }
    void SetSecurityAnswer(const std::string& answer) { m_securityAnswer = Secret::Of(TrimBlanks(answer)); }
    void SetSecurityAnswer(const Secret& answer) { m_securityAnswer = answer; }

private:
    bool m_isFiltrationOn;
    std::string m_adminEmail;
    bool m_isRunAtStartup;
    Secret m_password;
    boost::shared_ptr<SecurityQuestion> m_securityQuestion;
    Secret m_securityAnswer;
};

} // namespace tav
