// Calls from the field editor and the selection menus into the low-vision and
// review aids (the magnified strip, screen review). Those modules install
// their operations here when they start; until one is installed each call does
// nothing, which is also what the strip does while it is off (the default).
#pragma once

#include <functional>
#include <string_view>

namespace ondaria {

// The strip shows `text` with the cursor on the 1-based index `cursor`.
using StripShowHook = std::function<void(std::string_view text, int cursor)>;
// The strip is redrawn from the grid (after an edit ends).
using StripRefreshHook = std::function<void()>;
// Screen review runs until the user leaves it (Alt+Ctrl+F9).
using ScreenReviewHook = std::function<void()>;

void setStripShowHook(StripShowHook hook);
void setStripRefreshHook(StripRefreshHook hook);
void setScreenReviewHook(ScreenReviewHook hook);

// Used by the editor and the menus; each does nothing without its hook.
void stripShow(std::string_view text, int cursor);
void stripRefresh();
void runScreenReview();

}  // namespace ondaria
