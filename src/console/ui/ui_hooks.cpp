#include "console/ui/ui_hooks.h"

#include <utility>

namespace ondaria {

namespace {

struct Hooks {
  StripShowHook show;
  StripRefreshHook refresh;
  ScreenReviewHook review;
};

Hooks& hooks() {
  static Hooks h;
  return h;
}

}  // namespace

void setStripShowHook(StripShowHook hook) {
  hooks().show = std::move(hook);
}

void setStripRefreshHook(StripRefreshHook hook) {
  hooks().refresh = std::move(hook);
}

void setScreenReviewHook(ScreenReviewHook hook) {
  hooks().review = std::move(hook);
}

void stripShow(std::string_view text, int cursor) {
  if (hooks().show) hooks().show(text, cursor);
}

void stripRefresh() {
  if (hooks().refresh) hooks().refresh();
}

void runScreenReview() {
  if (hooks().review) hooks().review();
}

}  // namespace ondaria
