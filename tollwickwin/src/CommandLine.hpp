// The maintenance switches that installers and the logon start pass on the command line.
#pragma once

namespace tollwick {

enum class Switch { None, Autorun, NoAutorun, Setup, Remove };

// True when word occurs in commandLine as a whole word (at the start or after a space, and at the end or
// before a space), compared without regard to case. A null command line holds no word.
bool HasSwitch(const char* commandLine, const char* word);

// The first of "-autorun", "-noautorun", "-setup", "-remove" present in commandLine, in that order.
Switch FindSwitch(const char* commandLine);

} // namespace tollwick
