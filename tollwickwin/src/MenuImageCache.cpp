#include "MenuImageCache.hpp"

#include <cstdlib>

namespace tollwick {

MenuImageCache::~MenuImageCache() {
    for (const Entry& entry : entries_)
        DeleteObject(entry.image);
    if (strip_ != nullptr)
        DeleteObject(strip_);
}

void MenuImageCache::SetStrip(HBITMAP strip) {
    for (const Entry& entry : entries_)
        DeleteObject(entry.image);
    entries_.clear();
    if (strip_ != nullptr)
        DeleteObject(strip_);
    strip_ = strip;
}

HBITMAP MenuImageCache::Image(int cell, int width, int height, std::vector<HBITMAP>& fresh) {
    for (const Entry& entry : entries_) {
        if (entry.cell == cell && entry.width == width && entry.height == height)
            return entry.image;
    }
    HBITMAP image = Cut(cell, width, height);
    if (image == nullptr)
        return nullptr;
    if (entries_.size() < kCapacity) {
        entries_.push_back({cell, width, height, image});
    } else {
        fresh.push_back(image);
    }
    return image;
}

HBITMAP MenuImageCache::Cut(int cell, int width, int height) const {
    if (strip_ == nullptr || cell < 0 || width <= 0 || height <= 0)
        return nullptr;
    BITMAP strip;
    if (GetObjectA(strip_, sizeof strip, &strip) == 0)
        return nullptr;
    const int side = std::abs(strip.bmHeight);
    if (side == 0 || (cell + 1) * side > strip.bmWidth)
        return nullptr;

    HDC screen = GetDC(nullptr);
    HDC source = CreateCompatibleDC(screen);
    HDC target = CreateCompatibleDC(screen);
    HBITMAP image = CreateCompatibleBitmap(screen, width, height);
    if (source != nullptr && target != nullptr && image != nullptr) {
        HGDIOBJ oldSource = SelectObject(source, strip_);
        HGDIOBJ oldTarget = SelectObject(target, image);
        const RECT all = {0, 0, width, height};
        FillRect(target, &all, GetSysColorBrush(COLOR_MENU));
        // Pixels of the strip's background colour let the menu colour show through.
        const COLORREF transparent = GetPixel(source, 0, 0);
        GdiTransparentBlt(target, 0, 0, width, height, source, cell * side, 0, side, side, transparent);
        SelectObject(target, oldTarget);
        SelectObject(source, oldSource);
    } else if (image != nullptr) {
        DeleteObject(image);
        image = nullptr;
    }
    if (target != nullptr)
        DeleteDC(target);
    if (source != nullptr)
        DeleteDC(source);
    ReleaseDC(nullptr, screen);
    return image;
}

} // namespace tollwick
