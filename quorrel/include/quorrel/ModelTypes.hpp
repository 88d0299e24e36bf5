#pragma once

#include <quorrel/export.hpp>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <set>
#include <string>

namespace tav {

class DataModel;
// An element of the policy file, which the entities load and save themselves through; only the
// model's own sources see inside it.
class PolicyNode;
// The policy as decisions read it; only the model's own sources see inside it.
struct PolicySnapshot;

class Base;
class BlockedUrlWord;
class BlockedUrlWordManager;
class Category;
class Client;
class ClientGroup;
class ContentType;
class CustomerSite;
class HTTPProtocolSettings;
class HTTPSProtocolSettings;
class InapContentWord;
class ProtocolSettings;
class ProtocolsSettingsContainer;
class Reason;
class SecurityQuestion;
class Settings;
class Verdict;

// The kinds and sets that the model and its entities share. DataModel, the entities and the verdict derive
// from it, so that each names them as its own: DataModel::PST_HTTP, DataModel::BlockedUrlWords.
struct QUORREL_EXPORT ModelTypes {
    enum ProtocolSettingsType : int { PST_HTTP = 1, PST_HTTPS = 2, PST_MAIL = 3, PST_SOCKS = 4, PST_FTP = 5 };

    // Levels of the proxy's content filter; the model stores the number without interpreting it.
    enum SeverityLevels : std::int32_t {};
    enum ContentTypeAction : std::int32_t { PassingThrough = 0, Preventing = 1, Filtering = 2 };

    // Orders shared entities by their key text (byte-wise, case-sensitive): the word of a word,
    // the type of a content type, the flattened URL of a customer site.
    template <class T> struct DMSPtrCompare {
        bool operator()(const boost::shared_ptr<T>& left, const boost::shared_ptr<T>& right) const {
            return SortKey(*left) < SortKey(*right);
        }
    };
    // The key of an entity in its set; each is defined with its entity.
    static inline const std::string& SortKey(const CustomerSite& site);
    static inline const std::string& SortKey(const BlockedUrlWord& word);
    static inline const std::string& SortKey(const InapContentWord& word);
    static inline const std::string& SortKey(const ContentType& type);
    typedef std::set<boost::shared_ptr<CustomerSite>, DMSPtrCompare<CustomerSite>> CustomerSites;
    typedef std::set<boost::shared_ptr<BlockedUrlWord>, DMSPtrCompare<BlockedUrlWord>> BlockedUrlWords;
    typedef std::set<boost::shared_ptr<InapContentWord>, DMSPtrCompare<InapContentWord>> InapContentWords;
    typedef std::set<boost::shared_ptr<ContentType>, DMSPtrCompare<ContentType>> ContentTypes;
};

template <ModelTypes::ProtocolSettingsType Type> class PlainProtocolSettings;

} // namespace tav
