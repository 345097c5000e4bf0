// FrmVorseFix's layout in twips and its fixed texts, shared by the window and its tests.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vorse {

/// Twips to the inch: the unit of the window's layout.
inline constexpr std::int32_t kTwipsPerInch = 1440;

/// The window's caption.
inline constexpr std::string_view kFormCaption = "Quintarel Vorse Fix";
/// The buttons' captions; "&" marks the access key (Alt+X for Exit).
inline constexpr std::string_view kCmdFFixCaption = "Find and Fix";
inline constexpr std::string_view kCmdExitCaption = "E&xit";

/// A rectangle as Left, Top, Width, Height: in twips in the table, in pixels once converted.
struct LayoutRect {
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  friend bool operator==(const LayoutRect &, const LayoutRect &) = default;
};

/// The client area's size in twips.
inline constexpr std::int32_t kClientWidthTwips = 4710;
inline constexpr std::int32_t kClientHeightTwips = 3795;

/// The controls, in tab order: List1, CmdFFix, CmdExit take the focus; the labels do not.
enum class FormControl { List1, CmdFFix, CmdExit, LblInfo, LblFound };

struct ControlLayout {
  FormControl Control;
  LayoutRect Twips;
};

/// Every control's place in the client area, in twips, in the order the window creates them
/// (which is the tab order).
inline constexpr std::array<ControlLayout, 5> kFormLayout = {{
    {FormControl::List1, {120, 1560, 4455, 1425}},
    {FormControl::CmdFFix, {120, 3360, 1575, 375}},
    {FormControl::CmdExit, {3000, 3360, 1575, 375}},
    {FormControl::LblInfo, {120, 360, 4455, 855}},
    {FormControl::LblFound, {120, 1320, 4575, 255}},
}};

/// Twips to pixels at \p Dpi dots per inch, rounded half away from zero as MulDiv rounds.
constexpr std::int32_t TwipsToPixels(std::int32_t Twips, std::int32_t Dpi) {
  const std::int64_t product = static_cast<std::int64_t>(Twips) * Dpi;
  const std::int64_t half = kTwipsPerInch / 2;
  const std::int64_t rounded =
      product >= 0 ? (product + half) / kTwipsPerInch : -((-product + half) / kTwipsPerInch);
  return static_cast<std::int32_t>(rounded);
}

/// \p Twips converted to pixels at \p Dpi, each value on its own as a form converts them.
constexpr LayoutRect ToPixels(const LayoutRect &Twips, std::int32_t Dpi) {
  return {TwipsToPixels(Twips.Left, Dpi), TwipsToPixels(Twips.Top, Dpi),
          TwipsToPixels(Twips.Width, Dpi), TwipsToPixels(Twips.Height, Dpi)};
}

/// The twips rectangle of \p Control.
constexpr LayoutRect TwipsOf(FormControl Control) {
  for (const ControlLayout &entry : kFormLayout)
    if (entry.Control == Control)
      return entry.Twips;
  return {};
}

} // namespace vorse
