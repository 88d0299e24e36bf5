#pragma once

// What a page of a list of rules asks of the model for each kind of rule: the model's operations that make,
// list, copy, store and delete the rules of a group (those of the words in addresses take the protocol after
// the group), and the list's switch in the class of protocol settings that holds it.

#include <quorrel/BlockedUrlWordManager.hpp>
#include <quorrel/DataModel.hpp>

namespace tav::http::admin {

template <class Rule> struct RuleDoors;

template <> struct RuleDoors<DataModel::BlockedUrlWord> {
    using Settings = DataModel::BlockedUrlWordManager;
    static constexpr auto create = &DataModel::CreateBlockedUrlWord;
    static constexpr auto list = &DataModel::GetBlockedUrlWords;
    static constexpr auto find = &DataModel::GetBlockedUrlWord;
    static constexpr auto save = &DataModel::SaveBlockedUrlWord;
    static constexpr auto remove = &DataModel::DeleteBlockedUrlWords;
    static constexpr auto isOn = &Settings::GetIsBlockedUrlWordsEnabled;
    static constexpr auto setOn = &Settings::SetIsBlockedUrlWordsEnabled;
};

template <> struct RuleDoors<DataModel::ContentType> {
    using Settings = DataModel::HTTPProtocolSettings;
    static constexpr auto create = &DataModel::CreateContentType;
    static constexpr auto list = &DataModel::GetContentTypes;
    static constexpr auto find = &DataModel::GetContentType;
    static constexpr auto save = &DataModel::SaveContentType;
    static constexpr auto remove = &DataModel::DeleteContentTypes;
    static constexpr auto isOn = &Settings::GetIsContentTypesEnabled;
    static constexpr auto setOn = &Settings::SetIsContentTypesEnabled;
};

template <> struct RuleDoors<DataModel::InapContentWord> {
    using Settings = DataModel::HTTPProtocolSettings;
    static constexpr auto create = &DataModel::CreateInapContentWord;
    static constexpr auto list = &DataModel::GetInapContentWords;
    static constexpr auto find = &DataModel::GetInapContentWord;
    static constexpr auto save = &DataModel::SaveInapContentWord;
    static constexpr auto remove = &DataModel::DeleteInapContentWords;
    static constexpr auto isOn = &Settings::GetIsInapContentWordsEnabled;
    static constexpr auto setOn = &Settings::SetIsInapContentWordsEnabled;
};

} // namespace tav::http::admin
