#include <quorrel/ContentType.hpp>

#include "ListEntityMembers.hpp"

namespace tav {

struct ContentType::Kind {
    static constexpr const char* name = "Type";
    static constexpr TextFolding folding = TextFolding::Latin;

    static const PolicyFields<ContentType>& Fields() {
        using C = ContentType;
        static const PolicyFields<C> fields{
            TextField<C>(u"id", &C::GetID, &C::SetID),
            TextField(u"type", &C::GetType, &C::SetType),
            TextField(u"description", &C::GetDescription, &C::SetDescription),
            IntField(u"action", &C::GetAction, &C::SetAction),
        };
        return fields;
    }

    static void Check(const ContentType& type, std::vector<std::string>& problems) {
        const ContentTypeAction action = type.GetAction();
        if (action != PassingThrough && action != Preventing && action != Filtering)
            problems.emplace_back("Not valid Action");
    }
};

template class ListEntity<ContentType>;

} // namespace tav
