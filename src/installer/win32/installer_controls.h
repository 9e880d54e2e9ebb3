#pragma once
// The controls of the installer window: their layout and creation, and the
// drawing of the logo and the picture.
#include <windows.h>

namespace kq::installer {

constexpr int kClientWidth = 759;
constexpr int kClientHeight = 458;
constexpr int kLeftPartWidth = 380;

enum FontIndex { kTextFont, kHeadingFont, kBigFont, kLogoFont, kFontCount };

// createFonts fills fonts[kFontCount].
void createFonts(HFONT* fonts);
// createControls builds both pages; the second page (Notebook1) stays hidden.
void createControls(HWND window, HINSTANCE instance, const HFONT* fonts);
// paintArt draws the logo at the top left and the picture in the right part.
void paintArt(HWND window, HDC dc, const HFONT* fonts);
// scaled converts 96-dpi pixels to the screen's pixels.
int scaled(int pixels);

}  // namespace kq::installer
