#pragma once

#include <quorrel/DataModel.hpp>

namespace tav {

// A question the administrator answers to recover the password.
class QUORREL_EXPORT DataModel::SecurityQuestion : public DataModel::Base {
public:
    explicit SecurityQuestion(DataModel* owner);

    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    Ret Validate(bool skipIdCheck) const override;

    const std::string& GetID() const { return m_id; }
    void SetID(const std::string& id) { m_id = id; }
    const std::string& GetQuestion() const { return m_question; }
    void SetQuestion(const std::string& question) { m_question = question; }

private:
    std::string m_id;
    std::string m_question;
};

} // namespace tav
