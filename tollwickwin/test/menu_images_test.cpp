// Menu images cut from the strip, and the Windows version that starts the service-control program
// elevated.
#include "MenuImageCache.hpp"
#include "WindowsVersion.hpp"
#include "check.hpp"

#include <windows.h>

namespace {

const COLORREF keyColour = RGB(255, 0, 255);
const COLORREF cellColours[] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)};
const int cellSize = 4;

// Three 4 x 4 cells on the key colour, each with a 2 x 2 square of its own colour in the middle.
HBITMAP MakeStrip() {
    HDC screen = GetDC(nullptr);
    HBITMAP strip = CreateCompatibleBitmap(screen, 3 * cellSize, cellSize);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(dc, strip);
    for (int x = 0; x < 3 * cellSize; ++x)
        for (int y = 0; y < cellSize; ++y) {
            const bool middle = x % cellSize >= 1 && x % cellSize <= 2 && y >= 1 && y <= 2;
            SetPixel(dc, x, y, middle ? cellColours[x / cellSize] : keyColour);
        }
    SelectObject(dc, previous);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return strip;
}

COLORREF PixelOf(HBITMAP image, int x, int y) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, image);
    const COLORREF colour = GetPixel(dc, x, y);
    SelectObject(dc, previous);
    DeleteDC(dc);
    return colour;
}

SIZE SizeOf(HBITMAP image) {
    BITMAP info{};
    GetObject(image, sizeof info, &info);
    return SIZE{info.bmWidth, info.bmHeight};
}

}  // namespace

TEST_CASE(menu_image_is_its_cell_stretched_on_the_menu_colour) {
    tollwick::MenuImageCache cache;
    cache.SetStrip(MakeStrip());
    std::vector<HBITMAP> fresh;
    for (int cell = 0; cell < 3; ++cell) {
        HBITMAP image = cache.Image(cell, 16, 12, fresh);
        CHECK(image != nullptr);
        if (image == nullptr) continue;
        const SIZE size = SizeOf(image);
        CHECK_EQ(size.cx, 16L);
        CHECK_EQ(size.cy, 12L);
        CHECK_EQ(PixelOf(image, 8, 6), cellColours[cell]);
        CHECK_EQ(PixelOf(image, 0, 0), GetSysColor(COLOR_MENU));
    }
    CHECK(fresh.empty());
}

TEST_CASE(menu_images_are_cached_up_to_fifty) {
    tollwick::MenuImageCache cache;
    cache.SetStrip(MakeStrip());
    std::vector<HBITMAP> fresh;
    HBITMAP first = cache.Image(1, 16, 16, fresh);
    CHECK_EQ(cache.Image(1, 16, 16, fresh), first);
    CHECK_EQ(cache.CachedCount(), size_t{1});
    for (int width = 1; cache.CachedCount() < tollwick::MenuImageCache::kCapacity && width < 100; ++width)
        cache.Image(0, width, 8, fresh);
    CHECK_EQ(cache.CachedCount(), size_t{50});
    CHECK(fresh.empty());

    HBITMAP extra = cache.Image(2, 20, 20, fresh);
    CHECK(extra != nullptr);
    CHECK_EQ(cache.CachedCount(), size_t{50});
    CHECK_EQ(fresh.size(), size_t{1});
    if (!fresh.empty()) CHECK_EQ(fresh.front(), extra);
    CHECK_EQ(cache.Image(1, 16, 16, fresh), first);
    for (HBITMAP image : fresh) DeleteObject(image);
}

TEST_CASE(no_menu_image_without_strip_or_cell) {
    std::vector<HBITMAP> fresh;
    tollwick::MenuImageCache empty;
    CHECK(empty.Image(0, 16, 16, fresh) == nullptr);

    tollwick::MenuImageCache cache;
    cache.SetStrip(MakeStrip());
    CHECK(cache.Image(3, 16, 16, fresh) == nullptr);
    CHECK(cache.Image(-1, 16, 16, fresh) == nullptr);
    CHECK(fresh.empty());
    CHECK_EQ(cache.CachedCount(), size_t{0});
}

TEST_CASE(only_windows_6_0_starts_elevated) {
    CHECK(tollwick::IsElevationVersion(VER_PLATFORM_WIN32_NT, 6, 0));
    CHECK(!tollwick::IsElevationVersion(VER_PLATFORM_WIN32_NT, 6, 1));
    CHECK(!tollwick::IsElevationVersion(VER_PLATFORM_WIN32_NT, 6, 2));
    CHECK(!tollwick::IsElevationVersion(VER_PLATFORM_WIN32_NT, 5, 1));
    CHECK(!tollwick::IsElevationVersion(VER_PLATFORM_WIN32_NT, 10, 0));
    CHECK(!tollwick::IsElevationVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 90));
}
