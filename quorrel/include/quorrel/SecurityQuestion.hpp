#pragma once

#include <quorrel/ListEntity.hpp>

namespace tav {

// A question the administrator answers to recover the password.
class QUORREL_EXPORT SecurityQuestion : public ListEntity<SecurityQuestion> {
public:
    explicit SecurityQuestion(DataModel* owner) : ListEntity(owner) {}

    const std::string& GetQuestion() const { return GetText(); }
    void SetQuestion(const std::string& question) { SetText(question); }

private:
    friend class ListEntity<SecurityQuestion>;
    struct Kind;
};

} // namespace tav
