// The window's layout: twips to pixels as MulDiv rounds, and the controls at common DPIs.
#include "app/form_layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace vorse {
namespace {

TEST(FormLayoutTest, TwipsToPixelsRoundsHalfAwayFromZero) {
  struct Case {
    std::int32_t Twips, Dpi, Pixels;
  };
  const Case cases[] = {
      {15, 96, 1},
      {7, 96, 0},
      {8, 96, 1},
      {855, 144, 86},
      {-855, 144, -86},
      {-7, 96, 0},
      {1440, 120, 120},
      {4710, 96, 314},
      {3795, 96, 253},
      // No overflow on the way: the product is taken in 64 bits.
      {std::numeric_limits<std::int32_t>::max(), 1440, std::numeric_limits<std::int32_t>::max()},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.Twips) + " twips at " + std::to_string(c.Dpi) + " DPI");
    EXPECT_EQ(TwipsToPixels(c.Twips, c.Dpi), c.Pixels);
  }
}

TEST(FormLayoutTest, ControlsAtStandardDpiMatchTheirPixelPlaces) {
  struct Case {
    FormControl Control;
    LayoutRect Pixels;
  };
  const Case cases[] = {
      {FormControl::LblInfo, {8, 24, 297, 57}},    {FormControl::LblFound, {8, 88, 305, 17}},
      {FormControl::List1, {8, 104, 297, 95}},     {FormControl::CmdFFix, {8, 224, 105, 25}},
      {FormControl::CmdExit, {200, 224, 105, 25}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Control));
    EXPECT_EQ(ToPixels(TwipsOf(c.Control), 96), c.Pixels);
  }
}

TEST(FormLayoutTest, EveryControlStaysInsideTheClientAreaAtEveryScale) {
  for (const std::int32_t dpi : {96, 120, 144, 168, 192, 288}) {
    const std::int32_t width = TwipsToPixels(kClientWidthTwips, dpi);
    const std::int32_t height = TwipsToPixels(kClientHeightTwips, dpi);
    for (const ControlLayout &entry : kFormLayout) {
      SCOPED_TRACE("DPI " + std::to_string(dpi) + ", control " +
                   std::to_string(static_cast<int>(entry.Control)));
      const LayoutRect r = ToPixels(entry.Twips, dpi);
      EXPECT_GE(r.Left, 0);
      EXPECT_GE(r.Top, 0);
      EXPECT_LE(r.Left + r.Width, width);
      EXPECT_LE(r.Top + r.Height, height);
    }
  }
}

TEST(FormLayoutTest, TabOrderRunsListThenFindAndFixThenExit) {
  ASSERT_GE(kFormLayout.size(), 3u);
  EXPECT_EQ(kFormLayout[0].Control, FormControl::List1);
  EXPECT_EQ(kFormLayout[1].Control, FormControl::CmdFFix);
  EXPECT_EQ(kFormLayout[2].Control, FormControl::CmdExit);
}

} // namespace
} // namespace vorse
