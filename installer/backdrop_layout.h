// How large the backdrop draws the product title: shared by its painting and
// by lint, which warns of a title that wraps under the installer's dialogs.
#pragma once

#include <cstdint>

struct BackdropFontHeights {
    int Title;
    int Copyright;
};

// Cell heights of the title and copyright fonts for a screen of that width.
BackdropFontHeights BackdropFontHeightsFor(int screenWidth);
// The title is drawn this far inside the screen's edges.
constexpr int BackdropTitleMargin = 10;

// Width in pixels of text (code page 1252) in the title font, Arial Bold, of
// the given cell height, as GDI lays it out: each advance rounded.
int32_t BackdropTitleWidth(const char* text, int cellHeight);
