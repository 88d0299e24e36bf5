// Menu images cut from a strip of square cells, one per image, with the cell width equal to the strip height.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace tollwick {

class MenuImageCache {
public:
    static constexpr std::size_t kCapacity = 50;

    MenuImageCache() = default;
    MenuImageCache(const MenuImageCache&) = delete;
    MenuImageCache& operator=(const MenuImageCache&) = delete;
    ~MenuImageCache();

    // Takes ownership of the strip; its top-left pixel gives the colour that counts as transparent.
    void SetStrip(HBITMAP strip);

    // The image of the cell, stretched to width x height on the menu colour. It stays owned by the cache
    // while there is room for it there; otherwise it is made afresh, appended to fresh and the caller deletes
    // it. Null when there is no strip or no such cell.
    HBITMAP Image(int cell, int width, int height, std::vector<HBITMAP>& fresh);

    std::size_t CachedCount() const { return entries_.size(); }

private:
    struct Entry {
        int cell;
        int width;
        int height;
        HBITMAP image;
    };

    HBITMAP Cut(int cell, int width, int height) const;

    HBITMAP strip_ = nullptr;
    std::vector<Entry> entries_;
};

} // namespace tollwick
