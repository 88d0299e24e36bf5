#include <quorrel/SecurityQuestion.hpp>

#include "ListEntityMembers.hpp"

namespace tav {

struct SecurityQuestion::Kind {
    static constexpr const char* name = "Question";
    static constexpr TextFolding folding = TextFolding::None;

    static const PolicyFields<SecurityQuestion>& Fields() {
        using Q = SecurityQuestion;
        static const PolicyFields<Q> fields{
            TextField<Q>(u"id", &Q::GetID, &Q::SetID),
            TextField(u"question", &Q::GetQuestion, &Q::SetQuestion),
        };
        return fields;
    }

    static void Check(const SecurityQuestion&, std::vector<std::string>&) {}
};

template class ListEntity<SecurityQuestion>;

} // namespace tav
