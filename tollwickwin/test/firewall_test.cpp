// Firewall exceptions against fake firewall objects: every call is recorded in order, any step can
// be made to fail on a chosen call, and every object handed out must be released exactly.
#include "Firewall.hpp"
#include "check.hpp"

#include <windows.h>
#include <netfw.h>
#include <oleauto.h>

#include <cwchar>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* text) {
    if (text == nullptr || *text == L'\0') return "";
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(size) - 1);
    return utf8;
}

// The program's paths are ANSI text converted with the active code page; the trace shows UTF-8.
std::string AnsiToUtf8(const std::string& ansi) {
    int size = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide.data(), size);
    return Utf8(wide.c_str());
}

// Bookkeeping shared by every fake: its kind and its reference count.
class FakeObject {
public:
    explicit FakeObject(const char* kind) : kind_(kind) {}
    virtual ~FakeObject() = default;
    const char* Kind() const { return kind_; }
    LONG references = 1;

private:
    const char* kind_;
};

// One test's firewall: the call trace, the injected failures, and ownership of every fake, which
// stays alive after its last Release so that the counts can be inspected at the end.
class World {
public:
    // Makes call number `ordinal` (1-based) of `step` fail; ordinal 0 makes every call fail.
    void FailOn(const std::string& step, int ordinal = 0) { failures_[step].insert(ordinal); }

    HRESULT Step(const std::string& step, const std::string& detail = "") {
        int ordinal = ++counts_[step];
        calls.push_back(detail.empty() ? step : step + " " + detail);
        const auto failing = failures_.find(step);
        if (failing != failures_.end() && (failing->second.count(0) || failing->second.count(ordinal)))
            return E_ACCESSDENIED;
        return S_OK;
    }

    template <typename T>
    T* Make() {
        objects_.push_back(std::make_unique<T>(*this));
        return static_cast<T*>(objects_.back().get());
    }

    // Hands out a new fake through an out parameter, or nothing when the step fails.
    template <typename T, typename Interface>
    HRESULT Hand(const std::string& step, Interface** out) {
        if (out == nullptr) {
            calls.push_back(step + " without an out parameter");
            return E_POINTER;
        }
        *out = nullptr;
        HRESULT result = Step(step);
        if (SUCCEEDED(result)) *out = Make<T>();
        return result;
    }

    // Records a string argument; COM requires it to be a BSTR, which carries its length in front.
    std::string Argument(BSTR value) {
        if (value == nullptr) return "<null>";
        if (SysStringLen(value) != std::wcslen(value)) calls.push_back("argument is not a BSTR");
        return Utf8(value);
    }

    void CheckAllReleased(const char* file, int line) const {
        for (const auto& object : objects_)
            if (object->references != 0)
                tollwick::test::Fail(file, line, std::string(object->Kind()) + " left with " +
                                                     std::to_string(object->references) + " references");
    }

    std::vector<std::string> calls;

private:
    std::map<std::string, int> counts_;
    std::map<std::string, std::set<int>> failures_;
    std::vector<std::unique_ptr<FakeObject>> objects_;
};

// IUnknown with counted references and IDispatch that is never used, written once for all fakes.
template <typename Interface>
class Fake : public Interface, public FakeObject {
public:
    Fake(World& world, const char* kind) : FakeObject(kind), world_(world) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(Interface)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override {
        if (references <= 0) {
            world_.calls.push_back(std::string(Kind()) + " released too often");
            return 0;
        }
        return static_cast<ULONG>(--references);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return Unused("GetTypeInfoCount"); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Unused("GetTypeInfo"); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return Unused("GetIDsOfNames");
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return Unused("Invoke");
    }

protected:
    HRESULT Unused(const char* method) {
        world_.calls.push_back(std::string("unexpected ") + Kind() + "." + method);
        return E_NOTIMPL;
    }

    World& world_;
};

// A method the firewall code has no business calling.
#define UNUSED_METHOD(name, ...) \
    HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override { return Unused(#name); }

class FakeApplication : public Fake<INetFwAuthorizedApplication> {
public:
    explicit FakeApplication(World& world) : Fake(world, "Application") {}

    HRESULT STDMETHODCALLTYPE put_Name(BSTR value) override {
        name = world_.Argument(value);
        return world_.Step("Application.put_Name", name);
    }
    HRESULT STDMETHODCALLTYPE put_ProcessImageFileName(BSTR value) override {
        path = world_.Argument(value);
        return world_.Step("Application.put_ProcessImageFileName", path);
    }
    UNUSED_METHOD(get_Name, BSTR*)
    UNUSED_METHOD(get_ProcessImageFileName, BSTR*)
    UNUSED_METHOD(get_IpVersion, NET_FW_IP_VERSION*)
    UNUSED_METHOD(put_IpVersion, NET_FW_IP_VERSION)
    UNUSED_METHOD(get_Scope, NET_FW_SCOPE*)
    UNUSED_METHOD(put_Scope, NET_FW_SCOPE)
    UNUSED_METHOD(get_RemoteAddresses, BSTR*)
    UNUSED_METHOD(put_RemoteAddresses, BSTR)
    UNUSED_METHOD(get_Enabled, VARIANT_BOOL*)
    UNUSED_METHOD(put_Enabled, VARIANT_BOOL)

    std::string name = "<unset>";
    std::string path = "<unset>";
};

class FakeApplications : public Fake<INetFwAuthorizedApplications> {
public:
    explicit FakeApplications(World& world) : Fake(world, "Applications") {}

    HRESULT STDMETHODCALLTYPE Add(INetFwAuthorizedApplication* application) override {
        auto* fake = dynamic_cast<FakeApplication*>(application);
        return world_.Step("Applications.Add", fake ? fake->name + "|" + fake->path : "<foreign object>");
    }
    HRESULT STDMETHODCALLTYPE Remove(BSTR path) override {
        return world_.Step("Applications.Remove", world_.Argument(path));
    }
    UNUSED_METHOD(get_Count, LONG*)
    UNUSED_METHOD(Item, BSTR, INetFwAuthorizedApplication**)
    UNUSED_METHOD(get__NewEnum, IUnknown**)
};

class FakeProfile : public Fake<INetFwProfile> {
public:
    explicit FakeProfile(World& world) : Fake(world, "Profile") {}

    HRESULT STDMETHODCALLTYPE get_AuthorizedApplications(INetFwAuthorizedApplications** out) override {
        return world_.Hand<FakeApplications>("Profile.get_AuthorizedApplications", out);
    }
    UNUSED_METHOD(get_Type, NET_FW_PROFILE_TYPE*)
    UNUSED_METHOD(get_FirewallEnabled, VARIANT_BOOL*)
    UNUSED_METHOD(put_FirewallEnabled, VARIANT_BOOL)
    UNUSED_METHOD(get_ExceptionsNotAllowed, VARIANT_BOOL*)
    UNUSED_METHOD(put_ExceptionsNotAllowed, VARIANT_BOOL)
    UNUSED_METHOD(get_NotificationsDisabled, VARIANT_BOOL*)
    UNUSED_METHOD(put_NotificationsDisabled, VARIANT_BOOL)
    UNUSED_METHOD(get_UnicastResponsesToMulticastBroadcastDisabled, VARIANT_BOOL*)
    UNUSED_METHOD(put_UnicastResponsesToMulticastBroadcastDisabled, VARIANT_BOOL)
    UNUSED_METHOD(get_RemoteAdminSettings, INetFwRemoteAdminSettings**)
    UNUSED_METHOD(get_IcmpSettings, INetFwIcmpSettings**)
    UNUSED_METHOD(get_GloballyOpenPorts, INetFwOpenPorts**)
    UNUSED_METHOD(get_Services, INetFwServices**)
};

class FakePolicy : public Fake<INetFwPolicy> {
public:
    explicit FakePolicy(World& world) : Fake(world, "Policy") {}

    HRESULT STDMETHODCALLTYPE get_CurrentProfile(INetFwProfile** out) override {
        return world_.Hand<FakeProfile>("Policy.get_CurrentProfile", out);
    }
    UNUSED_METHOD(GetProfileByType, NET_FW_PROFILE_TYPE, INetFwProfile**)
};

class FakeManager : public Fake<INetFwMgr> {
public:
    explicit FakeManager(World& world) : Fake(world, "Manager") {}

    HRESULT STDMETHODCALLTYPE get_LocalPolicy(INetFwPolicy** out) override {
        return world_.Hand<FakePolicy>("Manager.get_LocalPolicy", out);
    }
    UNUSED_METHOD(get_CurrentProfileType, NET_FW_PROFILE_TYPE*)
    UNUSED_METHOD(RestoreDefaults)
    UNUSED_METHOD(IsPortAllowed, BSTR, NET_FW_IP_VERSION, LONG, BSTR, NET_FW_IP_PROTOCOL, VARIANT*, VARIANT*)
    UNUSED_METHOD(IsIcmpTypeAllowed, NET_FW_IP_VERSION, BSTR, BYTE, VARIANT*, VARIANT*)
};

class FakeFactory : public tollwick::FirewallFactory {
public:
    explicit FakeFactory(World& world) : world_(world) {}

    HRESULT CreateManager(INetFwMgr** out) override { return world_.Hand<FakeManager>("Factory.CreateManager", out); }
    HRESULT CreateAuthorizedApplication(INetFwAuthorizedApplication** out) override {
        return world_.Hand<FakeApplication>("Factory.CreateAuthorizedApplication", out);
    }

private:
    World& world_;
};

const std::string directory = "C:\\Program Files\\Tollwick\\";
const std::string servicePath = directory + "ZunService.exe";
const std::string panelPath = directory + "TollwickW.exe";
const std::string serviceName = "Tollwick service";
const std::string panelName = "Tollwick control panel";

using Calls = std::vector<std::string>;

Calls operator+(Calls first, const Calls& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

const Calls profileCalls = {"Factory.CreateManager", "Manager.get_LocalPolicy", "Policy.get_CurrentProfile"};

// The calls that add one entry, cut after the step numbered `steps` (1 to 5) when it fails.
Calls AddCalls(const std::string& name, const std::string& path, size_t steps = 5) {
    Calls calls = {"Profile.get_AuthorizedApplications", "Factory.CreateAuthorizedApplication",
                   "Application.put_ProcessImageFileName " + path, "Application.put_Name " + name,
                   "Applications.Add " + name + "|" + path};
    calls.resize(steps);
    return calls;
}

Calls RemoveCalls(const std::string& path, size_t steps = 2) {
    Calls calls = {"Profile.get_AuthorizedApplications", "Applications.Remove " + path};
    calls.resize(steps);
    return calls;
}

// Runs the addition with the given failures and compares the whole trace.
#define CHECK_ADD(world, expected)                                 \
    do {                                                           \
        FakeFactory factory(world);                                \
        tollwick::AddFirewallExceptions(factory, directory);       \
        CHECK_EQ((world).calls, (expected));                       \
        (world).CheckAllReleased(__FILE__, __LINE__);              \
    } while (false)

#define CHECK_REMOVE(world, expected)                              \
    do {                                                           \
        FakeFactory factory(world);                                \
        tollwick::RemoveFirewallExceptions(factory, directory);    \
        CHECK_EQ((world).calls, (expected));                       \
        (world).CheckAllReleased(__FILE__, __LINE__);              \
    } while (false)

}  // namespace

TEST_CASE(setup_adds_the_service_host_and_the_control_panel) {
    World world;
    CHECK_ADD(world, profileCalls + AddCalls(serviceName, servicePath) + AddCalls(panelName, panelPath));
}

TEST_CASE(setup_converts_the_directory_with_the_active_code_page) {
    World world;
    const std::string accented = "C:\\Tollw\xe9" "ck\\";
    FakeFactory factory(world);
    tollwick::AddFirewallExceptions(factory, accented);
    const std::string service = AnsiToUtf8(accented + "ZunService.exe");
    const std::string panel = AnsiToUtf8(accented + "TollwickW.exe");
    CHECK_EQ(world.calls, profileCalls + AddCalls(serviceName, service) + AddCalls(panelName, panel));
    world.CheckAllReleased(__FILE__, __LINE__);
}

TEST_CASE(setup_stops_when_the_manager_cannot_be_created) {
    World world;
    world.FailOn("Factory.CreateManager");
    CHECK_ADD(world, Calls{"Factory.CreateManager"});
}

TEST_CASE(setup_stops_without_a_policy) {
    World world;
    world.FailOn("Manager.get_LocalPolicy");
    CHECK_ADD(world, (Calls{"Factory.CreateManager", "Manager.get_LocalPolicy"}));
}

TEST_CASE(setup_stops_without_a_profile) {
    World world;
    world.FailOn("Policy.get_CurrentProfile");
    CHECK_ADD(world, profileCalls);
}

// Each of the five steps failing for the first entry skips the rest of that entry only.
TEST_CASE(setup_skips_only_the_entry_whose_step_fails) {
    const char* steps[] = {"Profile.get_AuthorizedApplications", "Factory.CreateAuthorizedApplication",
                           "Application.put_ProcessImageFileName", "Application.put_Name",
                           "Applications.Add"};
    for (size_t step = 0; step < 5; ++step) {
        World world;
        world.FailOn(steps[step], 1);
        CHECK_ADD(world, profileCalls + AddCalls(serviceName, servicePath, step + 1) + AddCalls(panelName, panelPath));
    }
}

TEST_CASE(setup_tries_the_second_entry_to_the_end_when_it_fails) {
    World world;
    world.FailOn("Applications.Add", 2);
    CHECK_ADD(world, profileCalls + AddCalls(serviceName, servicePath) + AddCalls(panelName, panelPath));
}

TEST_CASE(setup_survives_every_entry_step_failing) {
    World world;
    world.FailOn("Profile.get_AuthorizedApplications");
    CHECK_ADD(world, profileCalls + AddCalls(serviceName, servicePath, 1) + AddCalls(panelName, panelPath, 1));
}

TEST_CASE(remove_removes_both_paths) {
    World world;
    CHECK_REMOVE(world, profileCalls + RemoveCalls(servicePath) + RemoveCalls(panelPath));
}

TEST_CASE(remove_stops_when_the_manager_cannot_be_created) {
    World world;
    world.FailOn("Factory.CreateManager");
    CHECK_REMOVE(world, Calls{"Factory.CreateManager"});
}

TEST_CASE(remove_stops_without_a_profile) {
    World world;
    world.FailOn("Policy.get_CurrentProfile");
    CHECK_REMOVE(world, profileCalls);
}

TEST_CASE(remove_goes_on_after_a_failed_entry) {
    World collectionFails;
    collectionFails.FailOn("Profile.get_AuthorizedApplications", 1);
    CHECK_REMOVE(collectionFails, profileCalls + RemoveCalls(servicePath, 1) + RemoveCalls(panelPath));

    World removeFails;
    removeFails.FailOn("Applications.Remove", 1);
    CHECK_REMOVE(removeFails, profileCalls + RemoveCalls(servicePath) + RemoveCalls(panelPath));
}
