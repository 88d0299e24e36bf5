// Windows Firewall exceptions for the service host and for the control panel.
#pragma once

#include <windows.h>

#include <netfw.h>

#include <string>

namespace tollwick {

// Creates the firewall objects; the real one uses CoCreateInstance, tests pass fakes.
class FirewallFactory {
public:
    virtual ~FirewallFactory() = default;
    virtual HRESULT CreateManager(INetFwMgr** manager) = 0;
    virtual HRESULT CreateAuthorizedApplication(INetFwAuthorizedApplication** application) = 0;
};

// The system's firewall classes; COM must be initialised on the calling thread.
class ComFirewallFactory : public FirewallFactory {
public:
    HRESULT CreateManager(INetFwMgr** manager) override;
    HRESULT CreateAuthorizedApplication(INetFwAuthorizedApplication** application) override;
};

// programDirectory ends with a backslash. Adds "Tollwick service" for programDirectory + "ZunService.exe" and
// "Tollwick control panel" for programDirectory + "TollwickW.exe" to the authorized applications of the
// current profile. Nothing is reported: a missing profile stops silently, a failing step skips its entry.
void AddFirewallExceptions(FirewallFactory& factory, const std::string& programDirectory);

// Removes the same two entries by path.
void RemoveFirewallExceptions(FirewallFactory& factory, const std::string& programDirectory);

} // namespace tollwick
