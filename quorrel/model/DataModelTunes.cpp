#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"
#include "Snapshot.hpp"

#include <ace/Guard_T.h>
#include <boost/make_shared.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tav {

using namespace xercesc;

namespace {

// Keeps the first fatal error of the XML library; warnings and validity errors (the file has no
// grammar) are not failures.
class ErrorCollector : public DOMErrorHandler {
public:
    bool handleError(const DOMError& error) override {
        if (error.getSeverity() != DOMError::DOM_SEVERITY_FATAL_ERROR)
            return true;
        if (m_message.empty())
            m_message = PolicyXml::Message(error.getMessage());
        return false;
    }
    bool Failed() const { return !m_message.empty(); }
    const std::string& GetMessage() const { return m_message; }

private:
    std::string m_message;
};

struct Releaser {
    template <class T> void operator()(T* object) const { object->release(); }
};

template <class T> using Released = std::unique_ptr<T, Releaser>;

// The document as the text of a file; returns what went wrong, or nothing.
std::string Serialize(DOMImplementation* implementation, const DOMDocument* document, std::string& text) {
    try {
        Released<DOMLSSerializer> serializer(
            static_cast<DOMImplementationLS*>(implementation)->createLSSerializer());
        ErrorCollector errors;
        serializer->getDomConfig()->setParameter(XMLUni::fgDOMErrorHandler, &errors);
        Released<DOMLSOutput> output(static_cast<DOMImplementationLS*>(implementation)->createLSOutput());
        MemBufFormatTarget target;
        output->setByteStream(&target);
        if (!serializer->write(document, output.get()))
            return errors.Failed() ? errors.GetMessage() : "the document could not be written";
        text.assign(reinterpret_cast<const char*>(target.getRawBuffer()), target.getLen());
    } catch (const XMLException& e) {
        return PolicyXml::Message(e.getMessage());
    } catch (const DOMException& e) {
        return PolicyXml::Message(e.getMessage());
    }
    return std::string();
}

std::string Folder(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text) {
    for (std::string::size_type done = 0; done < text.size();) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno != EINTR)
            return false;
        done += written > 0 ? static_cast<std::string::size_type>(written) : 0;
    }
    return true;
}

// Writes the text to the path with ".new" appended and renames that over the path once it is on
// disk, then syncs the folder entry. Returns what went wrong, or nothing.
std::string ReplaceFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return std::strerror(errno);
    int error = WriteAll(fd, text) && ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        std::remove(temporary.c_str());
        return std::strerror(error);
    }
    const int folder = ::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return std::string();
}

// The file's identity and state, or empty when it cannot be found.
std::string FileVersion(const std::string& path) {
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0)
        return std::string();
    return std::to_string(file.st_dev) + " " + std::to_string(file.st_ino) + " " +
           std::to_string(file.st_size) + " " + std::to_string(file.st_mtim.tv_sec) + "." +
           std::to_string(file.st_mtim.tv_nsec);
}

} // namespace

Ret DataModel::LoadTunes() {
    DOMImplementation* implementation = DOMImplementationRegistry::getDOMImplementation(u"LS");
    Released<DOMLSParser> parser(implementation->createLSParser(
        DOMImplementationLS::MODE_SYNCHRONOUS, nullptr, XMLPlatformUtils::fgMemoryManager, nullptr));
    DOMConfiguration* config = parser->getDomConfig();
    for (const XMLCh* feature :
         {XMLUni::fgDOMValidate, XMLUni::fgDOMNamespaces, XMLUni::fgDOMDatatypeNormalization})
        if (config->canSetParameter(feature, true))
            config->setParameter(feature, true);
    // The policy has no document type; refusing one means no outside document is ever fetched
    // and no entity can expand.
    config->setParameter(XMLUni::fgDOMDisallowDoctype, true);
    ErrorCollector errors;
    config->setParameter(XMLUni::fgDOMErrorHandler, &errors);

    const std::string failure = "Can not read the policy file " + m_tunesPath + ": ";
    const std::string version = FileVersion(m_tunesPath);
    const DOMDocument* document = nullptr;
    try {
        document = parser->parseURI(m_tunesPath.c_str());
    } catch (const XMLException& e) {
        return Ret(Ret::ERR, failure + PolicyXml::Message(e.getMessage()));
    } catch (const DOMException& e) {
        return Ret(Ret::ERR, failure + PolicyXml::Message(e.getMessage()));
    }
    if (errors.Failed())
        return Ret(Ret::ERR, failure + errors.GetMessage());
    DOMElement* root = document ? document->getDocumentElement() : nullptr;
    if (!root)
        return Ret(Ret::ERR, failure + "no document");

    typedef Ret (DataModel::*SectionReader)(const PolicyNode&);
    static const std::pair<const XMLCh*, SectionReader> sections[] = {
        {u"clientgroups", &DataModel::LoadClientGroups},
        {u"clients", &DataModel::LoadClients},
        {u"defaultblockedurlwords", &DataModel::LoadDefaultBlockedUrlWords},
        {u"defaultcontenttypes", &DataModel::LoadDefaultContentTypes},
        {u"securityquestions", &DataModel::LoadDefaultSecurityQuestions},
        {u"settings", &DataModel::LoadSettings},
    };
    for (DOMElement* child = root->getFirstElementChild(); child; child = child->getNextElementSibling())
        for (const auto& [name, reader] : sections)
            if (PolicyXml::Is(child, name)) {
                const Ret read = (this->*reader)(PolicyNode(child));
                if (!read.IsOK())
                    return read;
                break;
            }
    const std::lock_guard<std::mutex> saving(m_saveMutex);
    m_tunesVersion = version;
    return Ret(Ret::OK, "");
}

Ret DataModel::LoadClientGroups(const PolicyNode& section) {
    return ReadRecords(
        section, u"clientgroup", [this] { return std::make_unique<ClientGroup>(this); },
        [this](std::unique_ptr<ClientGroup> group) {
            return AddOwned(m_clientGroups, std::move(group),
                            "ClientGroup with the same ID is already added: ");
        });
}

Ret DataModel::LoadClients(const PolicyNode& section) {
    return ReadRecords(
        section, u"client", [this] { return std::make_unique<Client>(this); },
        [this](std::unique_ptr<Client> client) {
            return AddOwned(m_clients, std::move(client), "Client with the same ID is already added: ");
        });
}

Ret DataModel::LoadDefaultBlockedUrlWords(const PolicyNode& section) {
    return ReadSet(
        section, u"blockedurlword", m_defaultBlockedUrlWords,
        [this] { return boost::make_shared<BlockedUrlWord>(this); }, "Same word is already added: ");
}

Ret DataModel::LoadDefaultContentTypes(const PolicyNode& section) {
    return ReadSet(
        section, u"contenttype", m_defaultContentTypes,
        [this] { return boost::make_shared<ContentType>(this); }, "Same Content Type is already added: ");
}

Ret DataModel::LoadDefaultSecurityQuestions(const PolicyNode& section) {
    return ReadRecords(
        section, u"securityquestion", [this] { return boost::make_shared<SecurityQuestion>(this); },
        [this](const boost::shared_ptr<SecurityQuestion>& question) {
            if (!m_securityQuestions.emplace(question->GetID(), question).second)
                return Ret(Ret::ERR, "The same question is already added: " + question->GetQuestion());
            return Ret(Ret::OK, "");
        });
}

Ret DataModel::LoadSettings(const PolicyNode& section) {
    return m_settings->Load(section);
}

// What a save writes. The groups and their settings, the clients and the settings are copied, since
// edits change them in place; the groups' lists and the entries of all lists are shared, since edits
// replace them and never change one, and so are the categories, which never change.
struct DataModel::PolicyCopy {
    explicit PolicyCopy(const DataModel& model)
        : categories(model.m_categories), defaultBlockedUrlWords(model.m_defaultBlockedUrlWords),
          defaultContentTypes(model.m_defaultContentTypes),
          settings(std::make_unique<Settings>(*model.m_settings)) {
        for (const auto& entry : model.m_clientGroups)
            groups.push_back(entry.second->Copy());
        for (const auto& entry : model.m_clients)
            clients.push_back(std::make_unique<Client>(*entry.second));
        for (const auto& entry : model.m_securityQuestions)
            securityQuestions.push_back(entry.second);
    }

    // Makes the copy the model's policy again; the categories never change, and clients still in the
    // model keep counting in the records they have.
    void PutBack(DataModel& model) && {
        for (auto& client : clients) {
            const auto live = model.m_clients.find(client->GetID());
            if (live != model.m_clients.end())
                client->ShareUsage(*live->second);
        }
        for (const auto& entry : model.m_clientGroups)
            delete entry.second;
        model.m_clientGroups.clear();
        for (auto& group : groups) {
            const std::string id = group->GetID();
            model.m_clientGroups.emplace(id, group.release());
        }
        for (const auto& entry : model.m_clients)
            delete entry.second;
        model.m_clients.clear();
        for (auto& client : clients) {
            client->SetGroupID(client->GetGroupID()); // its group is now the one put back
            const std::string id = client->GetID();
            model.m_clients.emplace(id, client.release());
        }
        model.m_defaultBlockedUrlWords = std::move(defaultBlockedUrlWords);
        model.m_defaultContentTypes = std::move(defaultContentTypes);
        model.m_securityQuestions.clear();
        for (const auto& question : securityQuestions)
            model.m_securityQuestions.emplace(question->GetID(), question);
        model.m_settings = std::move(settings);
    }

    // Appends the sections of the policy file to its root, in the file's order.
    void Save(PolicyNode& root) const {
        PolicyNode categoryList(PolicyXml::Append(root.Element(), u"categories"));
        for (const auto& entry : categories)
            AppendRecord(categoryList, u"category", *entry.second);
        WriteSection(root, u"clientgroups", u"clientgroup", groups);
        WriteSection(root, u"clients", u"client", clients);
        WriteSection(root, u"defaultblockedurlwords", u"blockedurlword", defaultBlockedUrlWords);
        WriteSection(root, u"defaultcontenttypes", u"contenttype", defaultContentTypes);
        WriteSection(root, u"securityquestions", u"securityquestion", securityQuestions);
        AppendRecord(root, u"settings", *settings);
    }

    // Appends a section called `name` holding one record called `record` per entity of the range.
    template <class Range>
    static void WriteSection(PolicyNode& root, const XMLCh* name, const XMLCh* record, const Range& range) {
        PolicyNode section(PolicyXml::Append(root.Element(), name));
        WriteRecords(section, record, range);
    }

    CategoriesContainer categories;
    std::vector<std::unique_ptr<ClientGroup>> groups;
    std::vector<std::unique_ptr<Client>> clients;
    BlockedUrlWords defaultBlockedUrlWords;
    ContentTypes defaultContentTypes;
    std::vector<boost::shared_ptr<SecurityQuestion>> securityQuestions;
    std::unique_ptr<Settings> settings;
};

Ret DataModel::ReloadIfChanged() {
    Edit edit(*this);
    {
        const std::lock_guard<std::mutex> saving(m_saveMutex);
        const std::string now = FileVersion(m_tunesPath);
        if (now.empty() || now == m_tunesVersion)
            return Ret(Ret::OK, "");
    }
    PolicyCopy before(*this);
    // The clients as they count today, whose records the clients read from the file take on.
    std::map<std::string, Client*> counting;
    counting.swap(m_clients);
    ClearPolicy();
    const Ret loaded = LoadTunes();
    if (!loaded.IsOK()) {
        ClearPolicy();
        std::move(before).PutBack(*this);
    }
    for (const auto& [id, client] : m_clients)
        if (const auto old = counting.find(id); old != counting.end())
            client->ShareUsage(*old->second);
    for (const auto& entry : counting)
        delete entry.second;
    return loaded;
}

std::string DataModel::GetTunesVersion() const {
    const std::lock_guard<std::mutex> saving(m_saveMutex);
    return m_tunesVersion;
}

void DataModel::ClearPolicy() {
    for (const auto& entry : m_clientGroups)
        delete entry.second;
    m_clientGroups.clear();
    for (const auto& entry : m_clients)
        delete entry.second;
    m_clients.clear();
    m_defaultBlockedUrlWords.clear();
    m_defaultContentTypes.clear();
    m_securityQuestions.clear();
    m_settings = std::make_unique<Settings>(this);
}

Ret DataModel::SaveTunes() {
    const std::string problem = WriteTunes();
    if (!problem.empty())
        return Ret(Ret::ERR, "Can not save the policy to " + problem);
    return Ret(Ret::OK, "");
}

std::string DataModel::WriteTunes() {
    std::string path;
    std::uint64_t snapshot = 0;
    std::unique_ptr<const PolicyCopy> policy;
    {
        ACE_Guard<ACE_Recursive_Thread_Mutex> guard(m_mutex);
        path = m_tunesPath;
        snapshot = ++m_snapshots;
        policy = std::make_unique<const PolicyCopy>(*this);
    }
    // The copy is this save's own: the document is built and written out, and the disk used, outside the
    // model lock, so decisions go on meanwhile.
    DOMImplementation* implementation = DOMImplementationRegistry::getDOMImplementation(u"Core");
    Released<DOMDocument> document(
        implementation->createDocument(nullptr, u"tavdata", nullptr, XMLPlatformUtils::fgMemoryManager));
    PolicyNode root(document->getDocumentElement());
    policy->Save(root);
    policy.reset();
    std::string text;
    std::string problem = Serialize(implementation, document.get(), text);
    if (problem.empty()) {
        // The save lock's holder never waits for the model lock, so a caller that holds the model lock
        // may wait for it.
        const std::lock_guard<std::mutex> saving(m_saveMutex);
        if (snapshot < m_savedSnapshot)
            return std::string(); // a later policy, which holds this one's changes, is on disk
        // Another program's change that this model has not read is never written over; a file that is gone
        // is written again.
        const std::string found = FileVersion(path);
        if (!found.empty() && !m_tunesVersion.empty() && found != m_tunesVersion)
            return path + ": it was changed by another program, and is read again before the next change";
        problem = ReplaceFile(path, text);
        if (problem.empty()) {
            m_savedSnapshot = snapshot;
            m_tunesVersion = FileVersion(path);
        }
    }
    return problem.empty() ? problem : path + ": " + problem;
}

Ret DataModel::EditAndSave(const std::function<Ret()>& edit) {
    Edit editing(*this);
    if (const Ret read = ReloadIfChanged(); !read.IsOK())
        return Ret(Ret::ERR,
                   "The policy file was changed by another program and cannot be read: " + read.GetMessage());
    PolicyCopy before(*this);
    const Ret edited = edit();
    if (!edited.IsOK())
        return edited;
    const std::string problem = WriteTunes();
    if (problem.empty())
        return edited;
    std::move(before).PutBack(*this);
    return Ret(Ret::ERR, "The policy could not be saved: " + problem);
}

} // namespace tav
