#include "installer/win32/installer_controls.h"

namespace kq::installer {

namespace {

constexpr COLORREF kBrandDark = RGB(16, 62, 122);
constexpr COLORREF kBrandLight = RGB(38, 132, 214);

void fill(HDC dc, const RECT& area, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &area, brush);
  DeleteObject(brush);
}

// paintPicture fills the right part with a vertical gradient and a cloud.
void paintPicture(HDC dc, const HFONT* fonts) {
  const int left = scaled(kLeftPartWidth), right = scaled(kClientWidth), height = scaled(kClientHeight);
  constexpr int kBands = 64;
  for (int i = 0; i < kBands; ++i) {
    auto mix = [i](int a, int b) { return a + (b - a) * i / (kBands - 1); };
    RECT band{left, height * i / kBands, right, height * (i + 1) / kBands};
    fill(dc, band,
         RGB(mix(GetRValue(kBrandLight), GetRValue(kBrandDark)), mix(GetGValue(kBrandLight), GetGValue(kBrandDark)),
             mix(GetBValue(kBrandLight), GetBValue(kBrandDark))));
  }
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
  HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
  const int cx = (left + right) / 2, cy = height / 2 - scaled(30);
  Ellipse(dc, cx - scaled(110), cy - scaled(10), cx - scaled(10), cy + scaled(70));
  Ellipse(dc, cx - scaled(60), cy - scaled(60), cx + scaled(60), cy + scaled(60));
  Ellipse(dc, cx + scaled(10), cy - scaled(20), cx + scaled(110), cy + scaled(70));
  RECT base{cx - scaled(80), cy + scaled(20), cx + scaled(80), cy + scaled(71)};
  FillRect(dc, &base, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  RECT caption{left, cy + scaled(100), right, cy + scaled(140)};
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  HGDIOBJ oldFont = SelectObject(dc, fonts[kHeadingFont]);
  DrawTextW(dc, L"Your files, in step everywhere", -1, &caption, DT_CENTER | DT_SINGLELINE);
  SelectObject(dc, oldFont);
}

// paintLogo draws the mark and the product name at the top left.
void paintLogo(HDC dc, const HFONT* fonts) {
  RECT mark{scaled(40), scaled(24), scaled(70), scaled(54)};
  fill(dc, mark, kBrandLight);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  HGDIOBJ oldFont = SelectObject(dc, fonts[kLogoFont]);
  DrawTextW(dc, L"K", -1, &mark, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  RECT name{scaled(78), scaled(24), scaled(300), scaled(54)};
  SetTextColor(dc, kBrandDark);
  DrawTextW(dc, L"Korvalinq", -1, &name, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, oldFont);
}

}  // namespace

void paintArt(HWND, HDC dc, const HFONT* fonts) {
  paintPicture(dc, fonts);
  paintLogo(dc, fonts);
}

}  // namespace kq::installer
