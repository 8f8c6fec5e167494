#include "driver/controllers.h"

#include <arpa/inet.h>

#include <algorithm>

#include "platform/ole_variant.h"
#include "platform/text.h"
#include "platform/xml_document.h"

namespace {

// The characters of a UTF-8 text, each as its own slice.
std::vector<std::string_view> Characters(std::string_view text) {
  std::vector<std::string_view> chars;
  std::size_t start = 0;
  for (std::size_t i = 1; i <= text.size(); ++i) {
    if (i == text.size() || (static_cast<unsigned char>(text[i]) & 0xC0U) != 0x80U) {
      chars.push_back(text.substr(start, i - start));
      start = i;
    }
  }
  return chars;
}

// The value of two characters read as a hexadecimal number; 0 when they are not one.
std::uint8_t HexPairOrZero(std::string_view high, std::string_view low) {
  if (high.size() != 1 || low.size() != 1) return 0;
  const int h = HexDigitValue(high[0]);
  const int l = HexDigitValue(low[0]);
  return (h < 0 || l < 0) ? 0 : static_cast<std::uint8_t>(h * 16 + l);
}

const char* BoolText(bool value) { return value ? "true" : "false"; }

bool TextAsBoolean(const std::string& text) { return OleVariant(text).AsBoolean(); }

// Reads the known child elements of one list item into the controller, in the order of the form.
void ReadController(const XmlNode& node, TController& controller) {
  if (const XmlNode e = node.ChildElement("id")) controller.ID = e.Text();
  if (const XmlNode e = node.ChildElement("name")) controller.Name = e.Text();
  if (const XmlNode e = node.ChildElement("ipaddr")) controller.SetIPAddr(e.Text());
  if (const XmlNode e = node.ChildElement("ctrlconfig")) controller.HexToConfig(e.Text());
  if (const XmlNode e = node.ChildElement("entrancecontrol")) controller.EntranceControl = TextAsBoolean(e.Text());
  if (const XmlNode e = node.ChildElement("exitcontrol")) controller.ExitControl = TextAsBoolean(e.Text());
}

void WriteController(const TController& controller, XmlNode& list) {
  XmlNode node = list.AppendElement("controller");
  node.AppendElement("id", controller.ID);
  node.AppendElement("name", controller.Name);
  node.AppendElement("ipaddr", controller.IPAddr);
  node.AppendElement("ctrlconfig", controller.ConfigToHex());
  node.AppendElement("entrancecontrol", BoolText(controller.EntranceControl));
  node.AppendElement("exitcontrol", BoolText(controller.ExitControl));
}

}  // namespace

TController::TController(std::string_view id, std::string_view ipAddr) : ID(id) { SetIPAddr(ipAddr); }

TController::TController(std::string_view ipAddr) : TController(std::string_view(), ipAddr) {}

void TController::SetIPAddr(std::string_view text) {
  const std::string copy(text);  // the parse stops at a NUL, as the C string would end
  in_addr address{};
  address.s_addr = inet_addr(copy.c_str());
  char dotted[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, dotted, sizeof dotted);
  IPAddr = dotted;
}

std::uint8_t TController::NextSeq() { return SendSeq++; }

std::string TController::ConfigToHex() const {
  std::string hex;
  hex.reserve(Config.size() * 2);
  for (std::uint8_t b : Config) {
    hex.push_back(kHexDigits[b >> 4]);
    hex.push_back(kHexDigits[b & 0x0F]);
  }
  return hex;
}

void TController::HexToConfig(std::string_view text) {
  const auto chars = Characters(text);
  if (chars.size() != Config.size() * 2) return;
  for (std::size_t i = 0; i < Config.size(); ++i) Config[i] = HexPairOrZero(chars[2 * i], chars[2 * i + 1]);
}

std::string TController::ConfigToBytes() const { return std::string(Config.begin(), Config.end()); }

TController* TControllers::GetItem(int index) const noexcept {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<std::size_t>(index)].get();
}

TController* TControllers::Add(std::unique_ptr<TController> controller) {
  items_.push_back(std::move(controller));
  return items_.back().get();
}

TController* TControllers::AddNew(std::string_view ipAddr) {
  TController* controller = Add(std::make_unique<TController>(std::to_string(Count()), ipAddr));
  controller->Name = "Controller " + std::to_string(Count());
  return controller;
}

TController* TControllers::AddEmpty() { return Add(std::make_unique<TController>(std::string_view())); }

void TControllers::DeleteAt(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
}

TController* TControllers::FindByIP(std::string_view ipAddr) const noexcept {
  for (const auto& c : items_) {
    if (c->IPAddr == ipAddr) return c.get();
  }
  return nullptr;
}

TController* TControllers::FindByID(std::string_view id) const noexcept {
  for (const auto& c : items_) {
    if (c->ID == id) return c.get();
  }
  return nullptr;
}

bool TControllers::AllOnline() const noexcept {
  return !items_.empty() && std::all_of(items_.begin(), items_.end(), [](const auto& c) { return c->Online; });
}

bool TControllers::AllOnlineReplied() const noexcept {
  bool anyOnline = false;
  for (const auto& c : items_) {
    if (!c->Online) continue;
    if (!c->Replied) return false;
    anyOnline = true;
  }
  return anyOnline;
}

void TControllers::SetAllOffline() noexcept {
  for (const auto& c : items_) c->SetOnline(false);
}

void TControllers::ClearReplied() noexcept {
  for (const auto& c : items_) c->Replied = false;
}

std::string TControllers::SaveToXML() const {
  XmlDocument doc;
  doc.SetVersion("1.0");
  doc.SetEncoding("windows-1251");
  XmlNode list = doc.CreateDocumentElement("controllers");
  for (const auto& c : items_) WriteController(*c, list);
  return doc.SaveToXML();
}

void TControllers::LoadFromXML(std::string_view text) {
  Clear();
  if (text.empty()) return;
  XmlDocument doc;
  doc.LoadFromXML(text);
  for (XmlNode node = doc.DocumentElement().FirstChild(); node; node = node.NextSibling()) {
    ReadController(node, *AddEmpty());
  }
}
