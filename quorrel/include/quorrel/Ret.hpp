#pragma once

#include <quorrel/BaseRet.hpp>

namespace tav {

// The result every fallible operation of the policy model returns by value; none may be dropped unread.
class [[nodiscard]] Ret;
class QUORREL_EXPORT Ret : public BaseRet {
public:
    static const int OK = 0;
    static const int ERR = -1;

    Ret(int code, const std::string& message, void* obj = nullptr);
    Ret(int code, const std::vector<std::string>& messages, void* obj = nullptr);
    // Another result under a new code: messages and object are kept.
    Ret(int code, const Ret& other);
    Ret(const Ret&) = default;
    Ret& operator=(const Ret&) = default;
    ~Ret() override;
};

} // namespace tav
