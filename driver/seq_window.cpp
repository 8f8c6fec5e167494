#include "driver/seq_window.h"

bool TSeqWindow::Ahead(std::uint8_t n, std::uint8_t last) noexcept {
  const auto distance = static_cast<std::uint8_t>(n - last);
  return distance >= 1 && distance <= kAhead;
}

bool TSeqWindow::IsNewSeq(std::uint8_t n) const noexcept {
  return Empty() || Ahead(n, last_) || !accepted_.test(n);
}

bool TSeqWindow::Accept(std::uint8_t n, bool announcement) noexcept {
  if (announcement || Empty() || Ahead(n, last_)) {
    MoveTo(n);
  } else if (accepted_.test(n)) {
    return false;
  }
  accepted_.set(n);
  return true;
}

void TSeqWindow::MoveTo(std::uint8_t n) noexcept {
  last_ = n;
  // What was accepted under these numbers belongs to an earlier round of the counter.
  for (int i = 1; i <= kAhead; ++i) accepted_.reset(static_cast<std::uint8_t>(n + i));
}
