#pragma once

// The result of the administration's operations: a Ret with the codes of the web pages besides 0 and -1.

#include <quorrel/Ret.hpp>
#include <quorrel/export.hpp>

namespace tav::http::admin {

class QUORREL_EXPORT AdminPluginRet : public tav::Ret {
public:
    enum : int {
        UNKNOWN_ACTION = -3, // "Unknown Action"
        NOT_OFFERED = -4,    // an operation the module does not offer
        FAILED_CHECKS = -5,  // the checks of the password page
    };
    using tav::Ret::Ret;
    AdminPluginRet(const tav::Ret& other) : tav::Ret(other) {}
};

} // namespace tav::http::admin
