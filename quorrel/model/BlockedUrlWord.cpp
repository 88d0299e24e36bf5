#include <quorrel/BlockedUrlWord.hpp>

#include "ListEntityMembers.hpp"

namespace tav {

struct BlockedUrlWord::Kind {
    static constexpr const char* name = "Word";
    static constexpr TextFolding folding = TextFolding::Latin;

    static const PolicyFields<BlockedUrlWord>& Fields() {
        using W = BlockedUrlWord;
        static const PolicyFields<W> fields{
            TextField<W>(u"id", &W::GetID, &W::SetID),
            TextField(u"word", &W::GetWord, &W::SetWord),
            IntField(u"categoriesmask", &W::GetCategoriesMask, &W::SetCategoriesMask, 16),
        };
        return fields;
    }

    static void Check(const BlockedUrlWord& word, std::vector<std::string>& problems) {
        if (word.GetCategoriesMask() == 0)
            problems.emplace_back("At least one Category must be selected");
    }
};

template class ListEntity<BlockedUrlWord>;

} // namespace tav
