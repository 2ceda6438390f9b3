#pragma once
// Process-wide fixed settings: every value is assigned once by
// InitializeSettings at start-up, before any window exists, and only read
// afterwards. Before that every value is zero.
#include "graphics/types.h"

#include <QString>

#include <cstdint>

namespace Corvanith::Settings {

enum class TBackgroundStyle : uint8_t { Solid = 0, Checkerboard = 1 };

struct TSettings {
    bool UseMultipleThreads = false;
    int32_t PageCaptureWidth = 0;
    bool HideMainFormOnCapture = false;
    Graphics::TCorvColor ViewBackgroundColor1 = 0;
    Graphics::TCorvColor ViewBackgroundColor2 = 0;
    int32_t DocumentViewPadding = 0;
    Graphics::TCorvColor BackgroundColor = 0;
    int32_t BorderWidth = 0;
    Graphics::TCorvColor BorderColor = 0;
    TBackgroundStyle BackgroundStyle = TBackgroundStyle::Solid;
    Graphics::TCorvColor ShadowColor1 = 0;
    Graphics::TCorvColor ShadowColor2 = 0;
    bool ShowShadow = false;
};

// The values in force; all zero until InitializeSettings has run.
const TSettings& Current();

// Assigns the defaults; the view colours are taken from the application
// palette of this moment (button face and dark shadow, made opaque), so later
// palette changes do not reach them. Needs a QGuiApplication.
void InitializeSettings();

inline constexpr const char* ApplicationName = "Corvanith";
inline constexpr const char* RegistryProductName = "Corvanith";
inline constexpr const char* OpenImageFilter =
    "All Images (jpeg, jpg, png, gif, bmp, tiff, tif)|*.jpeg;*.jpg;*.png;*.gif;*.bmp;*.tiff;*.tif|All Files (*.*)|*.*";
inline constexpr const char* BmpDefaultExt = "bmp";
inline constexpr const char* BmpFilter = "BMP Images (bmp)|*.bmp|All Files (*.*)|*.*";

// One of the "Description|pattern;pattern|..." filters above in the form a Qt
// file dialog takes: "Description (pattern pattern);;...". Qt reads the
// patterns from the last parentheses, so they are always appended, and "*.*"
// becomes "*" so names without a dot match too. A description without
// patterns at the end is dropped.
QString FileDialogFilter(const char* Filter);

} // namespace Corvanith::Settings
