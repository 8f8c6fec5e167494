// The access controllers the driver talks to: one TController per listed controller with its link
// state, and the owning list TControllers with its XML form (the setting ControllersList).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "driver/seq_window.h"

class TController {
 public:
  static constexpr std::array<std::uint8_t, 10> kDefaultConfig = {0x83, 0x94, 0x8A, 0x8A, 0x80,
                                                                   0x81, 0xC2, 0x9C, 0x8E, 0x88};

  // CreateWith: identifier and address (normalised).
  TController(std::string_view id, std::string_view ipAddr);
  // Create: empty identifier.
  explicit TController(std::string_view ipAddr);

  // IPAddr := the dotted print of the address as inet_addr parses the text: leading zeros make a
  // part octal, fewer than four parts are expanded, anything unparsable becomes 255.255.255.255.
  void SetIPAddr(std::string_view text);
  void SetOnline(bool value) { Online = value; }
  // The number for the next frame; SendSeq then moves on by one, 255 wrapping to 0.
  std::uint8_t NextSeq();
  // The ten configuration bytes as 20 upper-case hexadecimal digits.
  std::string ConfigToHex() const;
  // Exactly 20 characters: byte i := hexadecimal pair i (either case; a pair that is not hexadecimal
  // gives 0). Any other length changes nothing.
  void HexToConfig(std::string_view text);
  // The ten configuration bytes as raw bytes, byte 0 first.
  std::string ConfigToBytes() const;

  std::string ID;
  std::string Name;
  std::string IPAddr;
  bool Online = false;
  std::uint8_t SendSeq = 0;
  // The numbers of the frames accepted from the controller; RecvSeq() is the newest (255 before
  // any, though "nothing accepted yet" is a state of its own, see TSeqWindow).
  TSeqWindow Received;
  std::uint8_t RecvSeq() const noexcept { return Received.Last(); }
  std::uint16_t Status = 0;
  bool Replied = false;
  std::array<std::uint8_t, 10> Config = kDefaultConfig;
  bool EntranceControl = false;
  bool ExitControl = false;
};

// An ordered list that owns its controllers: an item leaving the list is destroyed with it.
class TControllers {
 public:
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  // The controller at the index; nullptr outside 0..Count-1.
  TController* GetItem(int index) const noexcept;
  TController* operator[](int index) const noexcept { return GetItem(index); }

  // Appends a controller made by the caller and returns it.
  TController* Add(std::unique_ptr<TController> controller);
  // Identifier = the count before, name "Controller <count after>".
  TController* AddNew(std::string_view ipAddr);
  // A controller with an empty identifier and the normalised empty address.
  TController* AddEmpty();
  // Removes and destroys the item; an index outside the list does nothing.
  void DeleteAt(int index);
  void Clear() noexcept { items_.clear(); }

  // The first controller whose field equals the text exactly (no normalisation); nullptr when none.
  TController* FindByIP(std::string_view ipAddr) const noexcept;
  TController* FindByID(std::string_view id) const noexcept;

  bool AllOnline() const noexcept;         // false for an empty list
  bool AllOnlineReplied() const noexcept;  // false when none is online
  void SetAllOffline() noexcept;
  void ClearReplied() noexcept;

  // The whole list as XML text (version "1.0", encoding "windows-1251").
  std::string SaveToXML() const;
  // Replaces the contents with the controllers of the XML text; the empty text leaves the list
  // empty. Errors (EDOMParseError, EXMLDocError, conversion errors of the flags) pass on; the
  // controllers read before the failure stay, the one being read included.
  void LoadFromXML(std::string_view text);

  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }

 private:
  std::vector<std::unique_ptr<TController>> items_;
};
