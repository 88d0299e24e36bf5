#include <quorrel/BaseRet.hpp>

namespace tav {

BaseRet::BaseRet(int code, const std::string& message, void* obj)
    : m_code(code), m_messages(1, message), m_pObj(obj) {}

BaseRet::BaseRet(int code, const std::vector<std::string>& messages, void* obj)
    : m_code(code), m_messages(messages), m_pObj(obj) {}

BaseRet::~BaseRet() = default;

int BaseRet::GetCode() const {
    return m_code;
}

const std::vector<std::string>& BaseRet::GetMessages() const {
    return m_messages;
}

const std::vector<std::string>& BaseRet::GetMessageList() const {
    return m_messages;
}

void* BaseRet::GetObj() const {
    return m_pObj;
}

bool BaseRet::IsOK() const {
    return GetCode() >= 0;
}

std::string BaseRet::GetMessage() const {
    std::string joined;
    for (const std::string& message : m_messages) {
        if (!joined.empty())
            joined += "<br>";
        joined += message;
    }
    return joined;
}

} // namespace tav
