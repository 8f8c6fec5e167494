// Which sequence numbers of one controller's frames the device has accepted: the anti-replay window
// of IPsec and DTLS over 8-bit numbers. Last is the newest number accepted; the 127 numbers after it
// (modulo 256) lie ahead and are always new, and of the others (at and behind Last) the window
// remembers which were accepted. So a frame overtaken by a re-announcement is still taken once, a
// stale repeat is never taken twice, and no number value stands for "nothing accepted yet".
#pragma once

#include <bitset>
#include <cstdint>

class TSeqWindow {
 public:
  // n is new when nothing was accepted yet, when it lies ahead of Last, or when it lies at or behind
  // Last and was not accepted.
  bool IsNewSeq(std::uint8_t n) const noexcept;
  // Takes n when it is new or an announcement (always taken) and remembers it; false, changing
  // nothing, for a repeat. A number ahead of Last (or the first one) becomes Last; so does an
  // announcement, whatever its number. When Last moves, the numbers now ahead of it are forgotten.
  bool Accept(std::uint8_t n, bool announcement = false) noexcept;

  bool Empty() const noexcept { return accepted_.none(); }
  // The newest number accepted; 255 while nothing was.
  std::uint8_t Last() const noexcept { return last_; }

 private:
  static constexpr int kAhead = 127;  // how far ahead of Last a number counts as new

  static bool Ahead(std::uint8_t n, std::uint8_t last) noexcept;
  void MoveTo(std::uint8_t n) noexcept;

  std::bitset<256> accepted_;
  std::uint8_t last_ = 255;
};
