// Start of the control panel at logon, through the machine's Run key.
#pragma once

#include <string>

namespace tollwick {

// Stores "\"<executablePath>\"" as the value "TollwickRun" of
// HKLM\Software\Microsoft\Windows\CurrentVersion\Run. Does nothing when the key cannot be opened for writing.
void RegisterAutorun(const std::string& executablePath);

// Deletes the value "TollwickRun" again.
void UnregisterAutorun();

} // namespace tollwick
