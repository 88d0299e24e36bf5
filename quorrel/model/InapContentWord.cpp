#include <quorrel/InapContentWord.hpp>

#include "ListEntityMembers.hpp"

namespace tav {

struct InapContentWord::Kind {
    static constexpr const char* name = "Word";
    static constexpr TextFolding folding = TextFolding::Cyrillic;

    static const PolicyFields<InapContentWord>& Fields() {
        using W = InapContentWord;
        static const PolicyFields<W> fields{
            TextField<W>(u"id", &W::GetID, &W::SetID),
            TextField(u"word", &W::GetWord, &W::SetWord),
        };
        return fields;
    }

    static void Check(const InapContentWord&, std::vector<std::string>&) {}
};

template class ListEntity<InapContentWord>;

} // namespace tav
