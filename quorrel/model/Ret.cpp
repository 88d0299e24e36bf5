#include <quorrel/Ret.hpp>

namespace tav {

const int Ret::OK;
const int Ret::ERR;

Ret::Ret(int code, const std::string& message, void* obj) : BaseRet(code, message, obj) {}

Ret::Ret(int code, const std::vector<std::string>& messages, void* obj) : BaseRet(code, messages, obj) {}

Ret::Ret(int code, const Ret& other) : BaseRet(other) {
    m_code = code;
}

Ret::~Ret() = default;

} // namespace tav
