#pragma once

#include <quorrel/export.hpp>

#include <string>
#include <vector>

namespace tav {

// Result of an operation that can fail: a code (0 or more is success), the messages in the
// order they were added, and an optional object the operation produced. The result never
// owns the object; whoever documents handing it out says who deletes it.
class QUORREL_EXPORT BaseRet {
public:
    BaseRet(int code, const std::string& message, void* obj);
    BaseRet(int code, const std::vector<std::string>& messages, void* obj);
    BaseRet(const BaseRet&) = default;
    BaseRet& operator=(const BaseRet&) = default;
    virtual ~BaseRet();

    virtual int GetCode() const;
    virtual const std::vector<std::string>& GetMessages() const;
    virtual const std::vector<std::string>& GetMessageList() const;
    virtual void* GetObj() const;
    virtual bool IsOK() const;
    // The messages joined with "<br>", which appears only after a non-empty prefix.
    virtual std::string GetMessage() const;

protected:
    int m_code;
    std::vector<std::string> m_messages;
    void* m_pObj;
};

} // namespace tav
