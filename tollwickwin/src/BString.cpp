#include "BString.hpp"

namespace tollwick {

BString::BString(const std::wstring& text)
    : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}

BString::~BString() {
    SysFreeString(text_);
}

} // namespace tollwick
