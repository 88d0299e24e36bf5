#pragma once

#include <quorrel/Ret.hpp>
#include <quorrel/Text.hpp>
#include <quorrel/export.hpp>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace tav {

// The filtering policy: client groups with their per-protocol rules, clients, the default word
// and content type lists, security questions and the administrator settings. The entity classes
// are nested here and defined in the headers included at the end of this one.
class QUORREL_EXPORT DataModel {
public:
    class Base;
    class ClientGroup;
    class Client;
    class ProtocolSettings;
    class BlockedUrlWordManager;
    class HTTPProtocolSettings;
    class HTTPSProtocolSettings;
    class ProtocolsSettingsContainer;
    class Category;
    class CustomerSite;
    class BlockedUrlWord;
    class InapContentWord;
    class ContentType;
    class SecurityQuestion;
    class Settings;

    enum ProtocolSettingsType { PST_HTTP = 1, PST_HTTPS = 2, PST_MAIL = 3, PST_SOCKS = 4, PST_FTP = 5 };
    template <ProtocolSettingsType Type> class PlainProtocolSettings;
    typedef PlainProtocolSettings<PST_MAIL> MailProtocolSettings;
    typedef PlainProtocolSettings<PST_SOCKS> SocksProtocolSettings;
    typedef PlainProtocolSettings<PST_FTP> FTPProtocolSettings;

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
    typedef std::set<boost::shared_ptr<CustomerSite>, DMSPtrCompare<CustomerSite>> CustomerSites;
    typedef std::set<boost::shared_ptr<BlockedUrlWord>, DMSPtrCompare<BlockedUrlWord>> BlockedUrlWords;
    typedef std::set<boost::shared_ptr<InapContentWord>, DMSPtrCompare<InapContentWord>> InapContentWords;
    typedef std::set<boost::shared_ptr<ContentType>, DMSPtrCompare<ContentType>> ContentTypes;

    static const Category CAT_VIOLENCE;
    static const Category CAT_HATE_SPEECH;
    static const Category CAT_WEB_CHAT;
    static const Category CAT_PORNOGRAPHY;
    static const Category CAT_OBSCENE;
    static const Category CAT_GAMBLING;
    static const Category CAT_MATURE_CONTENT;
    static const Category CAT_DRUGS;
    static const Category CAT_HACKING_AND_SPYWARE;
    static const Category CAT_WEAPONS;
    static const Category CAT_SEX_EDUCATION;
    static const Category CAT_WEB_EMAIL;
    static const Category CAT_BOMB_MAKING;
    static const Category CAT_ALCOHOL;
    static const Category CAT_TOBACCO;

    DataModel(const DataModel&) = delete;
    DataModel& operator=(const DataModel&) = delete;
    ~DataModel();

private:
    DataModel();

    // Lookups the entities use to resolve the IDs they refer to.
    ClientGroup* FindClientGroup(const std::string& id) const;
    boost::shared_ptr<SecurityQuestion> FindSecurityQuestion(const std::string& id) const;

    static inline const std::string& SortKey(const CustomerSite& site);
    static inline const std::string& SortKey(const BlockedUrlWord& word);
    static inline const std::string& SortKey(const InapContentWord& word);
    static inline const std::string& SortKey(const ContentType& type);

    std::map<std::string, ClientGroup*> m_clientGroups;
    std::map<std::string, boost::shared_ptr<SecurityQuestion>> m_securityQuestions;
};

} // namespace tav

#include <quorrel/Base.hpp>
#include <quorrel/BlockedUrlWord.hpp>
#include <quorrel/Category.hpp>
#include <quorrel/Client.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/ContentType.hpp>
#include <quorrel/CustomerSite.hpp>
#include <quorrel/HTTPProtocolSettings.hpp>
#include <quorrel/HTTPSProtocolSettings.hpp>
#include <quorrel/InapContentWord.hpp>
#include <quorrel/PlainProtocolSettings.hpp>
#include <quorrel/ProtocolsSettingsContainer.hpp>
#include <quorrel/SecurityQuestion.hpp>
#include <quorrel/Settings.hpp>
