#include "app/core/cycle_messages.h"

#include "app/core/window_model.h"

namespace agent {

void CycleMessages::routeThrough(WindowView& view) {
  view_ = &view;
  uiThread_ = std::this_thread::get_id();
}

void CycleMessages::show(const std::string& text, MessageIcon icon) {
  if (closed_.load()) return;
  if (view_ == nullptr || std::this_thread::get_id() == uiThread_) {
    boxes_.show(text, icon);
    return;
  }
  // Checked again on the window's thread: the window may have begun to go
  // away while this call waited in its queue.
  view_->runOnUiAndWait([&] {
    if (!closed_.load()) boxes_.show(text, icon);
  });
}

}  // namespace agent
