#pragma once

#include <quorrel/Base.hpp>
#include <quorrel/BlockedUrlWord.hpp>
#include <quorrel/Category.hpp>
#include <quorrel/Client.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/Clock.hpp>
#include <quorrel/ContentType.hpp>
#include <quorrel/CustomerSite.hpp>
#include <quorrel/HTTPProtocolSettings.hpp>
#include <quorrel/HTTPSProtocolSettings.hpp>
#include <quorrel/InapContentWord.hpp>
#include <quorrel/ModelTypes.hpp>
#include <quorrel/PlainProtocolSettings.hpp>
#include <quorrel/ProtocolsSettingsContainer.hpp>
#include <quorrel/Reason.hpp>
#include <quorrel/Ret.hpp>
#include <quorrel/SecurityQuestion.hpp>
#include <quorrel/Settings.hpp>
#include <quorrel/Text.hpp>
#include <quorrel/URLFilter.hpp>
#include <quorrel/Verdict.hpp>
#include <quorrel/export.hpp>

#include <ace/Recursive_Thread_Mutex.h>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tav {

class SafeSearch;

// The protocol of a request, as the proxy passes it to DataModel::IsAllowed.
enum PROTOS : int {
    PROTO_HTTP = 0,
    PROTO_HTTP_PROXY = 1,
    PROTO_HTTPS = 2,
    PROTO_SMTP = 3,
    PROTO_POP3 = 4,
    PROTO_IMAP = 5,
    PROTO_SOCKS = 6,
    PROTO_FTP = 7,
};

// The filtering policy: client groups with their per-protocol rules, clients, the default word
// and content type lists, security questions and the administrator settings. The entity classes
// are defined in their own headers, which this one includes, and are named here too (DataModel::Client).
//
// The service uses the one instance of GetInstance, loaded from "cfg/" below the working
// directory; tools and tests may build and Init models of their own. The public operations hold
// the recursive model lock m_mutex for their whole run, except the factories, the default-list
// accessors, PrintModel, which is meant for a quiet model, and the decisions and usage reports. Those
// read a snapshot of the policy that is never changed in place: every edit, load and restore publishes
// the next one, and a decision, and the verdict it gives, keep the one they started with.
class QUORREL_EXPORT DataModel : public ModelTypes {
public:
    using Base = tav::Base;
    using BlockedUrlWord = tav::BlockedUrlWord;
    using BlockedUrlWordManager = tav::BlockedUrlWordManager;
    using Category = tav::Category;
    using Client = tav::Client;
    using ClientGroup = tav::ClientGroup;
    using ContentType = tav::ContentType;
    using CustomerSite = tav::CustomerSite;
    using HTTPProtocolSettings = tav::HTTPProtocolSettings;
    using HTTPSProtocolSettings = tav::HTTPSProtocolSettings;
    using InapContentWord = tav::InapContentWord;
    using ProtocolSettings = tav::ProtocolSettings;
    using ProtocolsSettingsContainer = tav::ProtocolsSettingsContainer;
    using Reason = tav::Reason;
    using SecurityQuestion = tav::SecurityQuestion;
    using Settings = tav::Settings;
    using Verdict = tav::Verdict;
    template <ProtocolSettingsType Type> using PlainProtocolSettings = tav::PlainProtocolSettings<Type>;
    typedef PlainProtocolSettings<PST_MAIL> MailProtocolSettings;
    typedef PlainProtocolSettings<PST_SOCKS> SocksProtocolSettings;
    typedef PlainProtocolSettings<PST_FTP> FTPProtocolSettings;

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

    // Sorted by ID as text.
    typedef std::map<std::string, const Category*> CategoriesContainer;

    static DataModel* m_pInstance;
    static ACE_Recursive_Thread_Mutex m_mutex;

    // The service's model, created and loaded on first use from the files below "cfg/"; throws
    // std::runtime_error "Fail to initialize DataModel" when they do not load.
    static DataModel* GetInstance();
    // Makes the model the service's one instance, as the service host does once it has loaded it.
    static void SetInstance(DataModel* model);
    // Lets the service's instance go when it is this model, before the model itself goes.
    static void DropInstance(const DataModel* model);

    // An empty model: the fifteen categories, no groups or clients, default settings.
    DataModel();
    DataModel(const DataModel&) = delete;
    DataModel& operator=(const DataModel&) = delete;
    ~DataModel();

    // Loads the blocking page template below the site root, the policy file and the URL database.
    Ret Init(const std::string& tunesPath, const std::string& urlFilterPath, const std::string& siteRoot);
    // Rewrites the policy file whole. The policy is copied under the model lock; the document is built
    // and the file written after the lock is released, to the path with ".new" appended, synced and
    // renamed over the path, so a failed save reports an error and leaves the previous file as it
    // was. Saves write one at a time, and a save whose policy is older than the one already written
    // writes nothing.
    Ret SaveTunes();
    // Runs `edit` and, when it succeeds, saves the policy, all under the model lock. When the save fails,
    // the policy is put back as it was before the edit, so the file, the model and the proxy agree, and
    // the result is "The policy could not be saved: " with the reason; else it is the edit's.
    Ret EditAndSave(const std::function<Ret()>& edit);
    // Reads the policy file again when another program has written it since this model last read or
    // wrote it, keeping today's counts of the clients it still has; OK when it had not changed or has been
    // read. When it cannot be read, the model keeps its policy and the result says why. Every edit calls it
    // first, and a save never writes over a file that changed after the model read it.
    Ret ReloadIfChanged();
    // What identifies the policy file as this model last read or wrote it ("device inode size mtime"), or
    // empty before it has.
    std::string GetTunesVersion() const;

    const std::string& GetTunesPath() const { return m_tunesPath; }
    const std::string& GetForbiddenPageTemplate() const { return m_forbiddenPageTemplate; }

    // Decisions for the proxy. A client is known by its IP address, trimmed of blanks.
    // Whether the client may reach the request's address now, with what the checks of its answer need,
    // all from one policy, which the verdict holds.
    Verdict Decide(const std::string& clientIP, const uri& request, PROTOS protocol) const;
    // How the group's site rules alone decide the address, as a decision for one of its computers over HTTP
    // reaches them: trusted-only mode, its own blocked and trusted sites, the URL database and the blocked
    // categories; the verdict holds the reason. A group that the policy does not have allows everything.
    Verdict DecideSite(const std::string& groupId, const uri& request) const;
    // The same answer alone; a refusal, and trusted-only mode for an allowed request, leave their
    // reason in message.
    bool IsAllowed(const std::string& clientIP, const uri& request, PROTOS protocol,
                   std::string& message) const;
    // What a gateway's firewall lets the computers of the policy do now, by IP address: the computers that
    // may use nothing but reach the blocking page (their group paused, outside its time table, over a
    // quota), and of the others those whose group's mail or FTP has network access and those whose group
    // may use other traffic. With filtration off every computer, known or not, may use everything.
    struct GatewayAccess {
        bool everyone = false;
        std::vector<std::string> known, nothing, mail, ftp, other;
        bool operator==(const GatewayAccess& other) const;
    };
    GatewayAccess GetGatewayAccess() const;
    // Usage reports; an unknown client is ignored.
    void TickClientTime(const std::string& clientIP);
    void TickClientTraffic(const std::string& clientIP, std::int32_t bytes);
    // Whether the client's answers go through the content filter; throws std::runtime_error
    // "Unknown client: " + IP for an unknown client.
    bool IsHTTPContentFiltrationEnabled(const std::string& clientIP) const;
    ContentTypeAction IsContentTypeAllowed(const std::string& clientIP, const std::string& contentType) const;
    // False when the text holds one of the client's inappropriate words.
    bool IsInapContentWordsAllowed(const std::string& clientIP, const std::string& text) const;
    bool IsAllowedCategoryForClientGroup(const std::string& groupId, const std::string& categoryId) const;

    // How a URL stands for a group, as one line of HTML: the customer lists, the URL database and
    // the resulting accessibility.
    std::string GetInfo(const std::string& groupId, const uri& url) const;
    // Lists categories, groups and clients on the standard output, for diagnosis.
    void PrintModel() const;
    void PrintModel(std::ostream& out) const;

    // Every time rule reads this clock.
    void SetClock(const std::shared_ptr<const Clock>& clock);
    const Clock& GetClock() const { return *m_clock; }

    // The search and YouTube hosts with their safe addresses, for the proxy and the URL test; null when none.
    // The table rides in the policy's snapshot, so a verdict redirects by the table of its own policy;
    // setting it publishes the next snapshot.
    void SetSafeSearch(std::shared_ptr<const SafeSearch> table);
    std::shared_ptr<const SafeSearch> GetSafeSearch() const;

    // Editing. New entities carry their defaults and this model as owner. Operations that return a
    // copy in the result's object hand over a heap object the caller deletes; a copied group
    // shares its protocol settings with the stored one. A failed operation changes nothing.
    std::unique_ptr<ClientGroup> CreateClientGroup() const;
    std::unique_ptr<Client> CreateClient() const;
    std::unique_ptr<CustomerSite> CreateCustomerSite(bool blocked) const;
    std::unique_ptr<BlockedUrlWord> CreateBlockedUrlWord() const;
    std::unique_ptr<InapContentWord> CreateInapContentWord() const;
    std::unique_ptr<ContentType> CreateContentType() const;

    Ret GetFirstClientGroup() const;
    Ret GetClientGroup(const std::string& groupId) const;
    // The stored groups by ID as text; they stay the model's and change with it.
    void GetClientGroups(std::vector<ClientGroup*>& groups) const;
    // The ID and name of every stored group, by ID as text.
    std::vector<std::pair<std::string, std::string>> GetClientGroupNames() const;
    // Copies of the stored groups, by ID as text; each shares its protocol settings with the stored one.
    std::vector<std::unique_ptr<ClientGroup>> CopyClientGroups() const;
    // Adds a group whose ID is blank (giving the caller's object its new ID) or changes the stored one.
    Ret SaveClientGroup(ClientGroup& group);
    Ret DeleteClientGroups(const std::vector<std::string>& groupIds);
    Ret SetBlockedCategories(const std::string& groupId, const std::vector<std::string>& categoryIds);
    // Refuses the group's clients all access until the calendar second `until`; 0 resumes. Saves nothing.
    Ret PauseClientGroup(const std::string& groupId, std::int64_t until);
    Ret GetProtocolSettings(const std::string& groupId, ProtocolSettingsType type,
                            std::unique_ptr<ProtocolSettings>& settings) const;
    Ret SaveProtocolSettings(const std::string& groupId, const ProtocolSettings& settings);

    // The stored clients of a group, or every client for a blank group ID.
    Ret GetClients(const std::string& groupId, std::vector<Client*>& clients) const;
    Ret GetClient(const std::string& clientId) const;
    // Copies of the stored clients of a group, or of every client for a blank group ID, by ID as text.
    std::vector<std::unique_ptr<Client>> CopyClients(const std::string& groupId) const;
    // Adds a client whose ID is blank or changes the stored one; a client is keyed by its IP.
    Ret SaveClient(const Client& client);
    // Adds to the client's extra minutes of today (another day's start over now), at most 1440 in all.
    Ret GiveExtraMinutes(const std::string& clientIp, std::int32_t minutes);
    // The client's extra minutes that hold today by the model's clock.
    std::int32_t GetExtraMinutesToday(const Client& client) const;
    // Minutes left today under the group's time limit plus extra; -1 when no time limit is in force.
    std::int32_t GetRemainingMinutesToday(const Client& client) const;
    Ret DeleteClients(const std::vector<std::string>& clientIds);

    Ret GetCustomerSites(const std::string& groupId, bool blocked, std::vector<CustomerSite*>& sites) const;
    // The same sites, shared: a site is never changed once in a list, only replaced.
    Ret GetCustomerSites(const std::string& groupId, bool blocked,
                         std::vector<boost::shared_ptr<CustomerSite>>& sites) const;
    Ret GetCustomerSite(const std::string& groupId, const std::string& siteId,
                        std::unique_ptr<CustomerSite>& site) const;
    Ret SaveCustomerSite(const std::string& groupId, const CustomerSite& site);
    Ret DeleteCustomerSites(const std::string& groupId, bool blocked,
                            const std::vector<std::string>& siteIds);

    // The word lists of the HTTP and HTTPS settings.
    Ret GetBlockedUrlWords(const std::string& groupId, ProtocolSettingsType type,
                           std::vector<boost::shared_ptr<BlockedUrlWord>>& words) const;
    Ret GetBlockedUrlWord(const std::string& groupId, ProtocolSettingsType type, const std::string& wordId,
                          std::unique_ptr<BlockedUrlWord>& word) const;
    Ret SaveBlockedUrlWord(const std::string& groupId, ProtocolSettingsType type, const BlockedUrlWord& word);
    Ret DeleteBlockedUrlWords(const std::string& groupId, ProtocolSettingsType type,
                              const std::vector<std::string>& wordIds);

    Ret GetInapContentWords(const std::string& groupId,
                            std::vector<boost::shared_ptr<InapContentWord>>& words) const;
    Ret GetInapContentWord(const std::string& groupId, const std::string& wordId,
                           std::unique_ptr<InapContentWord>& word) const;
    Ret SaveInapContentWord(const std::string& groupId, const InapContentWord& word);
    Ret DeleteInapContentWords(const std::string& groupId, const std::vector<std::string>& wordIds);

    Ret GetContentTypes(const std::string& groupId, std::vector<boost::shared_ptr<ContentType>>& types) const;
    Ret GetContentType(const std::string& groupId, const std::string& typeId,
                       std::unique_ptr<ContentType>& type) const;
    Ret SaveContentType(const std::string& groupId, const ContentType& type);
    Ret DeleteContentTypes(const std::string& groupId, const std::vector<std::string>& typeIds);

    const BlockedUrlWords& GetDefaultBlockedUrlWords() const { return m_defaultBlockedUrlWords; }
    const ContentTypes& GetDefaultContentTypes() const { return m_defaultContentTypes; }

    void GetSecurityQuestions(std::vector<SecurityQuestion*>& questions) const;
    // Each security question's ID with its text, by ID.
    std::vector<std::pair<std::string, std::string>> GetSecurityQuestionTexts() const;
    SecurityQuestion* GetSecurityQuestion(const std::string& questionId) const;
    Ret GetSettings(std::unique_ptr<Settings>& settings) const;
    Ret SaveSettings(const Settings& settings);
    Ret GetCategories(std::vector<const Category*>& categories) const;

    // Whether the name, in any letter case, is one of the three reserved group names.
    static bool IsReservedClientGroupName(const std::string& name);

private:
    enum HAReturnCodes { HA_NOT_DEFINED = 0, HA_BLOCKED = 1, HA_ALLOWED = 2 };
    // What decisions read, and the edit that publishes the next one.
    using Snapshot = PolicySnapshot;
    class Edit;
    class SnapshotShelf;

    // The snapshot decisions read now.
    std::shared_ptr<const Snapshot> Current() const;
    // Makes the next snapshot from the policy as it stands and publishes it; under the model lock.
    void Publish();

    // A verdict on the client alone, with the policy as it stands, deciding no address.
    Verdict Consult(const std::string& clientIP) const;
    // Decides the address for the client of the verdict, with its policy.
    bool Judge(const Verdict& verdict, const uri& request, PROTOS protocol, Reason& reason) const;
    // Judges an address already in the form the policy decides.
    bool JudgeDecided(const Verdict& verdict, const uri& request, PROTOS protocol, Reason& reason) const;
    // The group's site rules on an address in the form the policy decides; a refusal, and trusted-only mode,
    // leave their reason.
    HAReturnCodes IsHTTPAllowed(const ClientGroup& group, const urlfilter::URLFilter& filter,
                                const uri& request, Reason& reason) const;
    static bool IsMatchedCustomerSites(bool blocked, const HTTPProtocolSettings* settings,
                                       const uri& request);
    // The category of the smallest ID in the mask, or null.
    const Category* FindCategory(std::uint32_t mask) const;

    static bool IsReservedClientGroupID(const std::string& groupId);
    // A group's HTTP settings, or its word list of the HTTP or HTTPS settings; null for no such group.
    HTTPProtocolSettings* FindHTTPSettings(const std::string& groupId) const;
    BlockedUrlWordManager* FindWordList(const std::string& groupId, ProtocolSettingsType type) const;
    // Prepares the XML library once for the process.
    static Ret Init();

    Ret LoadTunes();
    Ret LoadClientGroups(const PolicyNode& section);
    Ret LoadClients(const PolicyNode& section);
    Ret LoadDefaultBlockedUrlWords(const PolicyNode& section);
    Ret LoadDefaultContentTypes(const PolicyNode& section);
    Ret LoadDefaultSecurityQuestions(const PolicyNode& section);
    Ret LoadSettings(const PolicyNode& section);
    // What a save writes, copied under the model lock.
    struct PolicyCopy;
    // Writes the policy as SaveTunes does; empty, or the path and what went wrong.
    std::string WriteTunes();
    // Empties the policy read from the file: groups, clients, default lists, questions and settings.
    void ClearPolicy();

    // Lookups the entities use to resolve the IDs they refer to.
    friend class tav::Client;
    friend class tav::Settings;
    ClientGroup* FindClientGroup(const std::string& id) const;
    boost::shared_ptr<SecurityQuestion> FindSecurityQuestion(const std::string& id) const;

    std::string m_tunesPath;
    std::string m_urlFilterPath;
    std::string m_siteRoot;
    std::string m_forbiddenPageTemplate;
    CategoriesContainer m_categories;
    std::map<std::string, ClientGroup*> m_clientGroups;
    // By ID as text, so the policy file and the client lists come out in a stable order.
    std::map<std::string, Client*> m_clients;
    BlockedUrlWords m_defaultBlockedUrlWords;
    ContentTypes m_defaultContentTypes;
    std::map<std::string, boost::shared_ptr<SecurityQuestion>> m_securityQuestions;
    std::unique_ptr<Settings> m_settings;
    std::shared_ptr<urlfilter::URLFilter> m_urlFilter;
    std::shared_ptr<const Clock> m_clock;
    // Where decisions take the snapshot from; Publish replaces it.
    std::unique_ptr<SnapshotShelf> m_shelf;
    // Published with the policy in every snapshot.
    std::shared_ptr<const SafeSearch> m_safeSearch;
    // Counts the policies SaveTunes takes, under the model lock.
    std::uint64_t m_snapshots = 0;
    // Held while a save writes the file; the number of the policy last written is kept under it.
    mutable std::mutex m_saveMutex;
    std::uint64_t m_savedSnapshot = 0;
    // The policy file as this model last read or wrote it, under m_saveMutex.
    std::string m_tunesVersion;
};

} // namespace tav
