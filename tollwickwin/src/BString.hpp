// Owns one BSTR and frees it when it goes.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>

namespace tollwick {

class BString {
public:
    explicit BString(const std::wstring& text);
    BString(const BString&) = delete;
    BString& operator=(const BString&) = delete;
    ~BString();

    BSTR Get() const { return text_; }
    explicit operator bool() const { return text_ != nullptr; }

private:
    BSTR text_;
};

} // namespace tollwick
