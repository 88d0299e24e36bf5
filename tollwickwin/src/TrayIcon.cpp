#include "TrayIcon.hpp"

#include <shellapi.h>

#include <cstring>

namespace tollwick {

namespace {

// The record as far as the balloon fields; the icon needs no later member.
constexpr DWORD kRecordSize = NOTIFYICONDATAA_V2_SIZE;
#ifdef _WIN64
static_assert(kRecordSize == 504, "the tray icon record is 504 bytes");
#endif

// The tip leaves room for its terminating zero and one spare character.
constexpr std::size_t kTipLength = 126;

NOTIFYICONDATAA Record(HWND owner) {
    NOTIFYICONDATAA record;
    std::memset(&record, 0, sizeof record);
    record.cbSize = kRecordSize;
    record.hWnd = owner;
    record.uID = TrayIcon::kIconId;
    return record;
}

} // namespace

void TrayIcon::Add(HWND owner, HICON icon, const std::string& tip) {
    NOTIFYICONDATAA record = Record(owner);
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = kCallbackMessage;
    record.hIcon = icon;
    const std::size_t length = tip.size() < kTipLength ? tip.size() : kTipLength;
    std::memcpy(record.szTip, tip.data(), length);
    Shell_NotifyIconA(NIM_ADD, &record);
}

void TrayIcon::Remove(HWND owner) {
    NOTIFYICONDATAA record = Record(owner);
    Shell_NotifyIconA(NIM_DELETE, &record);
}

} // namespace tollwick
