#include "Firewall.hpp"

#include "BString.hpp"
#include "ComPointer.hpp"
#include "Widen.hpp"

namespace tollwick {

namespace {

// NetFwMgr and NetFwAuthorizedApplication; the import library has no symbols for these classes.
constexpr CLSID kNetFwMgrClass = {
    0x304CE942, 0x6E39, 0x40D8, {0x94, 0x3A, 0xB9, 0x13, 0xC4, 0x0C, 0x9C, 0xD4}};
constexpr CLSID kNetFwAuthorizedApplicationClass = {
    0xEC9846B3, 0x2762, 0x4A6B, {0xA2, 0x14, 0x6A, 0xCB, 0x60, 0x34, 0x62, 0xD2}};

struct FirewallEntry {
    const wchar_t* name;
    const char* fileName;
};

constexpr FirewallEntry kEntries[] = {
    {L"Tollwick service", "ZunService.exe"},
    {L"Tollwick control panel", "TollwickW.exe"},
};

// The current profile of the local policy, or nothing when the firewall cannot be reached.
bool OpenCurrentProfile(FirewallFactory& factory, ComPointer<INetFwProfile>& profile) {
    ComPointer<INetFwMgr> manager;
    if (FAILED(factory.CreateManager(manager.Put())) || !manager)
        return false;
    ComPointer<INetFwPolicy> policy;
    if (FAILED(manager->get_LocalPolicy(policy.Put())) || !policy)
        return false;
    return SUCCEEDED(policy->get_CurrentProfile(profile.Put())) && profile;
}

void AddEntry(FirewallFactory& factory, INetFwProfile& profile, const FirewallEntry& entry,
              const std::string& programDirectory) {
    ComPointer<INetFwAuthorizedApplications> applications;
    if (FAILED(profile.get_AuthorizedApplications(applications.Put())) || !applications)
        return;
    ComPointer<INetFwAuthorizedApplication> application;
    if (FAILED(factory.CreateAuthorizedApplication(application.Put())) || !application)
        return;
    const BString path(Widen(programDirectory + entry.fileName));
    if (FAILED(application->put_ProcessImageFileName(path.Get())))
        return;
    const BString name(entry.name);
    if (FAILED(application->put_Name(name.Get())))
        return;
    applications->Add(application.Get());
}

void RemoveEntry(INetFwProfile& profile, const FirewallEntry& entry, const std::string& programDirectory) {
    ComPointer<INetFwAuthorizedApplications> applications;
    if (FAILED(profile.get_AuthorizedApplications(applications.Put())) || !applications)
        return;
    const BString path(Widen(programDirectory + entry.fileName));
    applications->Remove(path.Get());
}

} // namespace

HRESULT ComFirewallFactory::CreateManager(INetFwMgr** manager) {
    return CoCreateInstance(kNetFwMgrClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwMgr),
                            reinterpret_cast<void**>(manager));
}

HRESULT ComFirewallFactory::CreateAuthorizedApplication(INetFwAuthorizedApplication** application) {
    return CoCreateInstance(kNetFwAuthorizedApplicationClass, nullptr, CLSCTX_INPROC_SERVER,
                            __uuidof(INetFwAuthorizedApplication), reinterpret_cast<void**>(application));
}

void AddFirewallExceptions(FirewallFactory& factory, const std::string& programDirectory) {
    ComPointer<INetFwProfile> profile;
    if (!OpenCurrentProfile(factory, profile))
        return;
    for (const FirewallEntry& entry : kEntries)
        AddEntry(factory, *profile.Get(), entry, programDirectory);
}

void RemoveFirewallExceptions(FirewallFactory& factory, const std::string& programDirectory) {
    ComPointer<INetFwProfile> profile;
    if (!OpenCurrentProfile(factory, profile))
        return;
    for (const FirewallEntry& entry : kEntries)
        RemoveEntry(*profile.Get(), entry, programDirectory);
}

} // namespace tollwick
