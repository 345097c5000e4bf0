// Writes VorseFix's icon: one 32 x 32, 16-colour image of a red X on a transparent ground.
// Built and run on the build machine (also in cross builds), so it uses the standard library only.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 32;
constexpr int kColours = 16;
// 4 bits a pixel: 16 bytes a row; the 1-bit transparency mask: 4 bytes a row. Both are already
// multiples of four, as bitmap rows must be.
constexpr int kColourRowBytes = kSize / 2;
constexpr int kMaskRowBytes = kSize / 8;
constexpr int kHeaderBytes = 40;
constexpr int kImageBytes =
    kHeaderBytes + kColours * 4 + kColourRowBytes * kSize + kMaskRowBytes * kSize;
constexpr int kDirectoryBytes = 6 + 16;

// The standard 16-colour palette, as blue, green, red.
constexpr std::array<std::array<std::uint8_t, 3>, kColours> kPalette = {{
    {0x00, 0x00, 0x00},
    {0x00, 0x00, 0x80},
    {0x00, 0x80, 0x00},
    {0x00, 0x80, 0x80},
    {0x80, 0x00, 0x00},
    {0x80, 0x00, 0x80},
    {0x80, 0x80, 0x00},
    {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80},
    {0x00, 0x00, 0xFF},
    {0x00, 0xFF, 0x00},
    {0x00, 0xFF, 0xFF},
    {0xFF, 0x00, 0x00},
    {0xFF, 0x00, 0xFF},
    {0xFF, 0xFF, 0x00},
    {0xFF, 0xFF, 0xFF},
}};
constexpr std::uint8_t kBlack = 0;
constexpr std::uint8_t kMaroon = 1;
constexpr std::uint8_t kRed = 9;

void Put16(std::vector<std::uint8_t> &Out, unsigned Value) {
  Out.push_back(static_cast<std::uint8_t>(Value & 0xFF));
  Out.push_back(static_cast<std::uint8_t>((Value >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t> &Out, std::uint32_t Value) {
  Put16(Out, Value & 0xFFFF);
  Put16(Out, Value >> 16);
}

/// Distance, in pixels across the stroke, from (X, Y) to the nearer diagonal of the X.
int StrokeDistance(int X, int Y) {
  const int down = std::abs(X - Y);
  const int up = std::abs(X + Y - (kSize - 1));
  return down < up ? down : up;
}

/// The palette index at (X, Y), Y counted from the top, or -1 where the icon is transparent.
int PixelAt(int X, int Y) {
  constexpr int kMargin = 3;
  if (X < kMargin || Y < kMargin || X >= kSize - kMargin || Y >= kSize - kMargin)
    return -1;
  const int distance = StrokeDistance(X, Y);
  if (distance <= 2)
    return kRed;
  if (distance == 3)
    return kMaroon;
  return -1;
}

std::vector<std::uint8_t> MakeIcon() {
  std::vector<std::uint8_t> out;
  // ICONDIR: reserved, type 1 (icon), one image.
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, 1);
  // ICONDIRENTRY: width, height, colours, reserved, planes, bits, size, offset.
  out.push_back(kSize);
  out.push_back(kSize);
  out.push_back(kColours);
  out.push_back(0);
  Put16(out, 1);
  Put16(out, 4);
  Put32(out, kImageBytes);
  Put32(out, kDirectoryBytes);
  // BITMAPINFOHEADER: the height counts the colour image and the mask together.
  Put32(out, kHeaderBytes);
  Put32(out, kSize);
  Put32(out, 2 * kSize);
  Put16(out, 1);
  Put16(out, 4);
  Put32(out, 0);
  Put32(out, kColourRowBytes * kSize + kMaskRowBytes * kSize);
  for (int i = 0; i < 4; ++i)
    Put32(out, 0);
  for (const auto &colour : kPalette) {
    out.insert(out.end(), colour.begin(), colour.end());
    out.push_back(0);
  }
  // Rows are stored bottom-up. Transparent pixels are black in the image and set in the mask.
  for (int y = kSize - 1; y >= 0; --y)
    for (int x = 0; x < kSize; x += 2) {
      const int left = PixelAt(x, y);
      const int right = PixelAt(x + 1, y);
      out.push_back(static_cast<std::uint8_t>(((left < 0 ? kBlack : left) << 4) |
                                              (right < 0 ? kBlack : right)));
    }
  for (int y = kSize - 1; y >= 0; --y)
    for (int byte = 0; byte < kMaskRowBytes; ++byte) {
      unsigned bits = 0;
      for (int bit = 0; bit < 8; ++bit)
        if (PixelAt(byte * 8 + bit, y) < 0)
          bits |= 0x80u >> bit;
      out.push_back(static_cast<std::uint8_t>(bits));
    }
  return out;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icon OUTPUT.ico\n");
    return 2;
  }
  const std::vector<std::uint8_t> icon = MakeIcon();
  std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char *>(icon.data()),
             static_cast<std::streamsize>(icon.size()));
  file.close();
  if (!file) {
    std::fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
