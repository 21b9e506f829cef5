// Smooth scaling of a block of a surface: each destination pixel is the
// average of the source area it covers, weighted by how much of each source
// pixel lies inside it (a box filter, the quality of GDI's halftone mode).
// Used by windows whose system cannot filter a scaled copy itself.
#pragma once

#include "platform/surface.h"

namespace telorus::platform {

// Scales `source` of `from` onto `dest` of `to` (coordinates of `to`'s
// memory), writing only the pixels inside `clip` and inside `to`. Source
// positions beyond `from` take its nearest edge pixel. Each destination
// pixel depends only on its own position, so a part drawn on its own equals
// the same part of the whole.
void ScaleAreaAverage(const Surface& from, Rect source, const SurfaceView& to, Rect dest, Rect clip);

}  // namespace telorus::platform
