// Dialog units to pixels, the way Windows converts them (MapDialogRect), shared by both backends
// so the GTK windows come out the same size as the Win32 dialogs.
#include "platform/dialog.h"

#include <cstdint>

namespace platform {

namespace {

// MulDiv: the 64-bit product divided with rounding of halves away from zero.
int mulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  int64_t product = static_cast<int64_t>(number) * numerator;
  int64_t half = (denominator < 0 ? -denominator : denominator) / 2;
  bool negative = (product < 0) != (denominator < 0);
  int64_t magnitude = (product < 0 ? -product : product);
  int64_t den = denominator < 0 ? -static_cast<int64_t>(denominator) : denominator;
  int64_t q = (magnitude + half) / den;
  return static_cast<int>(negative ? -q : q);
}

} // namespace

int dialogUnitsToPixelsX(int x, const DialogBaseUnits& base) { return mulDiv(x, base.cx, 4); }
int dialogUnitsToPixelsY(int y, const DialogBaseUnits& base) { return mulDiv(y, base.cy, 8); }

Rect mapDialogRect(int x, int y, int cx, int cy, const DialogBaseUnits& base) {
  // Windows maps the corners, not the size: right = map(x + cx).
  Rect r;
  r.left = dialogUnitsToPixelsX(x, base);
  r.top = dialogUnitsToPixelsY(y, base);
  r.right = dialogUnitsToPixelsX(x + cx, base);
  r.bottom = dialogUnitsToPixelsY(y + cy, base);
  return r;
}

// GdiGetCharDimensions: the width of the 52 letters, halved and rounded: (w / 26 + 1) / 2.
int averageCharWidth(int widthOf52Letters) { return (widthOf52Letters / 26 + 1) / 2; }

int pointsToPixels(int points) { return mulDiv(points, 96, 72); }

} // namespace platform
