#include "driver/controllers.h"

#include <gtest/gtest.h>

#include "platform/exceptions.h"
#include "platform/xml_document.h"

namespace {

TEST(Controller, NewControllerState) {
  TController c("7", "192.168.1.20");
  EXPECT_EQ(c.ID, "7");
  EXPECT_EQ(c.Name, "");
  EXPECT_EQ(c.IPAddr, "192.168.1.20");
  EXPECT_FALSE(c.Online);
  EXPECT_EQ(c.SendSeq, 0);
  EXPECT_EQ(c.RecvSeq(), 255);
  EXPECT_TRUE(c.Received.Empty());
  EXPECT_EQ(c.Status, 0);
  EXPECT_FALSE(c.Replied || c.EntranceControl || c.ExitControl);
  EXPECT_EQ(c.ConfigToHex(), "83948A8A8081C29C8E88");
  EXPECT_EQ(c.ConfigToBytes(), std::string("\x83\x94\x8A\x8A\x80\x81\xC2\x9C\x8E\x88", 10));
}

TEST(Controller, NextSeqWraps) {
  TController c("");
  c.SendSeq = 254;
  EXPECT_EQ(c.NextSeq(), 254);
  EXPECT_EQ(c.NextSeq(), 255);
  EXPECT_EQ(c.SendSeq, 0);
  EXPECT_EQ(c.NextSeq(), 0);
  EXPECT_EQ(c.SendSeq, 1);
}

TEST(Controller, AddressNormalisedLikeThePlatformParse) {
  TController c("");
  EXPECT_EQ(c.IPAddr, "255.255.255.255");
  c.SetIPAddr("192.168.001.010");  // leading zeros: octal parts
  EXPECT_EQ(c.IPAddr, "192.168.1.8");
  c.SetIPAddr("10.1");
  EXPECT_EQ(c.IPAddr, "10.0.0.1");
  c.SetIPAddr("127.1.2");
  EXPECT_EQ(c.IPAddr, "127.1.0.2");
  c.SetIPAddr("0x7f.0.0.1");
  EXPECT_EQ(c.IPAddr, "127.0.0.1");
  c.SetIPAddr("контроллер");
  EXPECT_EQ(c.IPAddr, "255.255.255.255");
  c.SetIPAddr("1.2.3.256");
  EXPECT_EQ(c.IPAddr, "255.255.255.255");
  c.SetIPAddr("8.8.4.4");
  EXPECT_EQ(c.IPAddr, "8.8.4.4");
}

TEST(Controller, HexToConfigNeedsExactlyTwentyCharacters) {
  TController c("");
  c.HexToConfig("0102030405060708090");  // 19
  EXPECT_EQ(c.ConfigToHex(), "83948A8A8081C29C8E88");
  c.HexToConfig("0102030405060708090A0");  // 21
  EXPECT_EQ(c.ConfigToHex(), "83948A8A8081C29C8E88");
  c.HexToConfig("0102030405060708090a");
  EXPECT_EQ(c.ConfigToHex(), "0102030405060708090A");
  c.HexToConfig("ff02zz0405060708-9 A");  // bad pairs become 0
  EXPECT_EQ(c.ConfigToHex(), "FF020004050607080000");
  // Twenty characters that are not all one byte long: counted as characters.
  c.HexToConfig("ЖЖ0102030405060708AB");
  EXPECT_EQ(c.ConfigToHex(), "000102030405060708AB");
}

TEST(ControllerList, AddNewNumbersAndNames) {
  TControllers list;
  TController* first = list.AddNew("10.0.0.1");
  EXPECT_EQ(first->ID, "0");
  EXPECT_EQ(first->Name, "Controller 1");
  list.AddNew("10.0.0.2");
  TController* third = list.AddNew("10.0.0.3");
  EXPECT_EQ(third->ID, "2");
  EXPECT_EQ(third->Name, "Controller 3");
  list.DeleteAt(0);
  TController* again = list.AddNew("10.0.0.4");
  EXPECT_EQ(again->ID, "2");  // no uniqueness
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.FindByID("2"), list.GetItem(1));
}

TEST(ControllerList, IndexesOutsideTheListAreIgnored) {
  TControllers list;
  list.AddEmpty();
  EXPECT_EQ(list.GetItem(-1), nullptr);
  EXPECT_EQ(list.GetItem(1), nullptr);
  list.DeleteAt(1);
  list.DeleteAt(-1);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetItem(0)->ID, "");
  EXPECT_EQ(list.GetItem(0)->IPAddr, "255.255.255.255");
}

TEST(ControllerList, FindIsExact) {
  TControllers list;
  list.AddNew("192.168.1.8");
  list.GetItem(0)->ID = "Door";
  EXPECT_EQ(list.FindByIP("192.168.1.8"), list.GetItem(0));
  EXPECT_EQ(list.FindByIP("192.168.001.010"), nullptr);
  EXPECT_EQ(list.FindByID("door"), nullptr);
  EXPECT_EQ(list.FindByID("Door"), list.GetItem(0));
}

TEST(ControllerList, OnlineAndRepliedScans) {
  TControllers list;
  EXPECT_FALSE(list.AllOnline());
  EXPECT_FALSE(list.AllOnlineReplied());
  TController* a = list.AddNew("10.0.0.1");
  TController* b = list.AddNew("10.0.0.2");
  EXPECT_FALSE(list.AllOnlineReplied());  // none online
  a->SetOnline(true);
  EXPECT_FALSE(list.AllOnline());
  EXPECT_FALSE(list.AllOnlineReplied());
  a->Replied = true;
  EXPECT_TRUE(list.AllOnlineReplied());  // b is offline and not looked at
  b->SetOnline(true);
  EXPECT_TRUE(list.AllOnline());
  EXPECT_FALSE(list.AllOnlineReplied());
  b->Replied = true;
  EXPECT_TRUE(list.AllOnlineReplied());
  list.ClearReplied();
  EXPECT_FALSE(a->Replied || b->Replied);
  list.SetAllOffline();
  EXPECT_FALSE(a->Online || b->Online);
}

TEST(ControllerXml, FormOfTheText) {
  TControllers list;
  TController* c = list.AddNew("10.0.0.1");
  c->EntranceControl = true;
  const std::string text = list.SaveToXML();
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"windows-1251\"?>", 0), 0u);
  EXPECT_NE(text.find("<controllers><controller><id>0</id><name>Controller 1</name><ipaddr>10.0.0.1</ipaddr>"
                      "<ctrlconfig>83948A8A8081C29C8E88</ctrlconfig><entrancecontrol>true</entrancecontrol>"
                      "<exitcontrol>false</exitcontrol></controller></controllers>"),
            std::string::npos)
      << text;
}

// The frames a controller sends, in the order they reach the device: each step is a number, whether
// it is an announcement (always taken), whether it is new, and RecvSeq afterwards.
struct SeqStep {
  int n;
  bool announcement;
  bool isNew;
  int last;
};

void RunSeqScript(const char* name, std::initializer_list<SeqStep> steps) {
  TSeqWindow window;
  int i = 0;
  for (const SeqStep& s : steps) {
    const auto n = static_cast<std::uint8_t>(s.n);
    if (!s.announcement) {
      EXPECT_EQ(window.IsNewSeq(n), s.isNew) << name << ", step " << i << ": " << s.n;
    }
    EXPECT_EQ(window.Accept(n, s.announcement), s.announcement || s.isNew) << name << ", step " << i;
    EXPECT_EQ(window.Last(), s.last) << name << ", step " << i;
    ++i;
  }
}

TEST(SeqWindow, NewNumbersRepeatsAndReannouncements) {
  constexpr bool A = true, F = false;  // announcement or not
  RunSeqScript("nothing accepted yet: any number, 255 too",
               {{255, F, true, 255}, {255, F, false, 255}, {0, F, true, 0}});
  RunSeqScript("the first number taken is Last, though not ahead of 255",
               {{200, F, true, 200}, {100, F, true, 200}, {200, F, false, 200}});
  RunSeqScript("1 to 127 ahead are new, the rest only when not taken",
               {{5, F, true, 5}, {6, F, true, 6}, {6, F, false, 6}, {5, F, false, 6}, {4, F, true, 6},
                {4, F, false, 6}, {133, F, true, 133}, {5, F, false, 133}, {6, F, false, 133},
                {134, F, true, 134}});
  RunSeqScript("through 255 to 0",
               {{253, A, true, 253}, {254, F, true, 254}, {255, F, true, 255}, {0, F, true, 0},
                {1, F, true, 1}, {254, F, false, 1}, {255, F, false, 1}, {0, F, false, 1}});
  RunSeqScript("a frame overtaken by an announcement is still taken once",
               {{20, A, true, 20}, {22, A, true, 22}, {21, F, true, 22}, {21, F, false, 22},
                {23, F, true, 23}});
  RunSeqScript("an announcement numbered 255 does not reopen taken numbers",
               {{249, A, true, 249}, {250, F, true, 250}, {255, A, true, 255}, {250, F, false, 255},
                {0, F, true, 0}, {250, F, false, 0}});
  RunSeqScript("a controller that starts again at 0",
               {{1, A, true, 1}, {2, F, true, 2}, {100, F, true, 100}, {2, F, false, 100}, {0, A, true, 0},
                {1, F, true, 1}, {2, F, true, 2}, {100, F, true, 100}});
  RunSeqScript("numbers passed by two moves of 120 are forgotten",
               {{10, F, true, 10}, {130, F, true, 130}, {10, F, false, 130}, {250, F, true, 250},
                {114, F, true, 114}, {10, F, true, 114}});
  RunSeqScript("a move forgets all 127 numbers ahead",
               {{127, F, true, 127}, {254, F, true, 254}, {0, F, true, 0}, {250, A, true, 250},
                {127, F, true, 250}});
}

TEST(ControllerXml, RoundTripKeepsEverythingAndResetsLinkState) {
  TControllers list;
  TController* a = list.AddNew("192.168.0.10");
  a->Name = "Проходная «Север» & <склад>";
  a->HexToConfig("00112233445566778899");
  a->ExitControl = true;
  a->Online = true;
  a->SendSeq = 9;
  a->Received.Accept(3);
  a->Status = 0x1234;
  TController* b = list.AddEmpty();  // empty identifier and name
  b->EntranceControl = true;
  TControllers back;
  back.AddEmpty();
  back.LoadFromXML(list.SaveToXML());
  ASSERT_EQ(back.Count(), 2);
  const TController& x = *back.GetItem(0);
  EXPECT_EQ(x.ID, "0");
  EXPECT_EQ(x.Name, a->Name);
  EXPECT_EQ(x.IPAddr, "192.168.0.10");
  EXPECT_EQ(x.ConfigToHex(), "00112233445566778899");
  EXPECT_FALSE(x.EntranceControl);
  EXPECT_TRUE(x.ExitControl);
  EXPECT_FALSE(x.Online);
  EXPECT_EQ(x.SendSeq, 0);
  EXPECT_TRUE(x.Received.Empty());
  EXPECT_EQ(x.Status, 0);
  const TController& y = *back.GetItem(1);
  EXPECT_EQ(y.ID, "");
  EXPECT_EQ(y.Name, "");
  EXPECT_EQ(y.IPAddr, "255.255.255.255");
  EXPECT_TRUE(y.EntranceControl);
}

TEST(ControllerXml, EmptyListAndEmptyText) {
  TControllers list;
  TControllers back;
  back.AddEmpty();
  back.LoadFromXML(list.SaveToXML());
  EXPECT_EQ(back.Count(), 0);
  back.AddEmpty();
  back.LoadFromXML("");
  EXPECT_EQ(back.Count(), 0);
}

TEST(ControllerXml, AnEmptyListWrittenOverTwoLinesHasNoControllers) {
  TControllers list;
  list.LoadFromXML("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<controllers>\n  \n</controllers>\n");
  EXPECT_EQ(list.Count(), 0);
}

TEST(ControllerXml, PrettyPrintedListAndLooseShapes) {
  const char* text =
      "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
      "<list>\r\n"
      "  <controller>\r\n"
      "    <id>A1</id>\r\n"
      "    <name>Вход</name>\r\n"
      "    <ipaddr>10.0.0.7</ipaddr>\r\n"
      "    <ctrlconfig>0102030405060708090A0</ctrlconfig>\r\n"
      "    <entrancecontrol>TRUE</entrancecontrol>\r\n"
      "    <exitcontrol>-1</exitcontrol>\r\n"
      "  </controller>\r\n"
      "  <other><ID>x</ID><id></id><ipaddr/></other>\r\n"
      "  <controller/>\r\n"
      "</list>\r\n";
  TControllers list;
  list.LoadFromXML(text);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[0]->ID, "A1");
  EXPECT_EQ(list[0]->Name, "Вход");
  EXPECT_EQ(list[0]->IPAddr, "10.0.0.7");
  EXPECT_EQ(list[0]->ConfigToHex(), "83948A8A8081C29C8E88");  // 21 characters: ignored
  EXPECT_TRUE(list[0]->EntranceControl);
  EXPECT_TRUE(list[0]->ExitControl);
  EXPECT_EQ(list[1]->ID, "");  // names are case-sensitive; the empty <id> wins
  EXPECT_EQ(list[1]->IPAddr, "255.255.255.255");
  EXPECT_EQ(list[2]->ConfigToHex(), "83948A8A8081C29C8E88");
  EXPECT_FALSE(list[2]->EntranceControl);
}

TEST(ControllerXml, MalformedTextRaisesAndLeavesTheListEmpty) {
  TControllers list;
  list.AddEmpty();
  EXPECT_THROW(list.LoadFromXML("<controllers><controller><id>1</id></controllers>"), EDOMParseError);
  EXPECT_EQ(list.Count(), 0);
}

TEST(ControllerXml, BadFieldStopsTheLoadKeepingWhatWasRead) {
  TControllers list;
  EXPECT_THROW(list.LoadFromXML("<c><controller><id>1</id></controller>"
                                "<controller><id>2</id><name>n</name><entrancecontrol>yes</entrancecontrol>"
                                "<exitcontrol>true</exitcontrol></controller><controller/></c>"),
               Exception);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[1]->ID, "2");
  EXPECT_EQ(list[1]->Name, "n");
  EXPECT_FALSE(list[1]->ExitControl);

  EXPECT_THROW(list.LoadFromXML("<c><controller><exitcontrol></exitcontrol></controller></c>"), Exception);
  EXPECT_EQ(list.Count(), 1);

  EXPECT_THROW(list.LoadFromXML("<c><x/><controller><id>1</id><name><b>n</b></name></controller></c>"),
               EXMLDocError);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[1]->ID, "1");
}

}  // namespace
