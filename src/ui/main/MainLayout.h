#pragma once

#include <QRect>

// Where the controls of the main window sit, in pixels at 96 dpi: the least places and
// sizes. Where the font needs more room, controls grow and what lies right of or below
// them moves along (ui/Fit.h); the window keeps the size it then has.
namespace ov::layout {

inline constexpr int kMargin = 8;
inline constexpr int kPanelWidth = 560;
inline constexpr int kPanelHeight = 300;
inline constexpr int kWindowWidth = kPanelWidth + 2 * kMargin;
inline constexpr QRect kBanner{0, 0, kWindowWidth, 64};
// The two panels lie over the same rectangle.
inline constexpr QRect kPanel{kMargin, 64 + kMargin, kPanelWidth, kPanelHeight};
inline constexpr int kCentralHeight = kPanel.y() + kPanelHeight + kMargin;

// Inside the File Cleaner panel.
inline constexpr QRect kList1{12, 26, 404, 136};
inline constexpr QRect kAddFile{428, 26, 120, 28};
inline constexpr QRect kAddFolder{428, 58, 120, 28};
inline constexpr QRect kRemoveFile{428, 90, 120, 28};
inline constexpr QRect kClearList{428, 122, 120, 28};
inline constexpr QRect kDelete{428, 170, 120, 62};
inline constexpr QRect kLabel1{12, 170, 80, 20};
inline constexpr QRect kLabel4{92, 170, 48, 20};
inline constexpr QRect kLabel2{146, 170, 92, 20};
inline constexpr QRect kLabel5{238, 170, 48, 20};
inline constexpr QRect kLabel3{292, 170, 72, 20};
inline constexpr QRect kLabel6{364, 170, 52, 20};
inline constexpr QRect kStatusStatic{12, 192, 50, 20};
inline constexpr QRect kStatus{62, 192, 354, 20};
// 15 pixels of picture inside a one-pixel frame; narrower than the 347-pixel gradient.
inline constexpr QRect kPicGrad{12, 215, 322, 17};
inline constexpr QRect kPicture2{12, 246, 36, 36};
inline constexpr QRect kLabel7{56, 240, 492, 52};

} // namespace ov::layout
