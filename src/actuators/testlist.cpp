// The main window's test list: the tests of each ECU type, run with diagnostic mode, a test code
// and a verdict counted in seconds on the progress bar.
#include "actuators/testlist.h"

#include "host/host.h"
#include "serial/byteexchange.h"

namespace kline {

const TestList kTestList15m = {{{"80 fuel pump", 80},
                                {"81 Coil H ", 81},
                                {"82 Coil V", 82},
                                {"83 Clear DTC", 83, true},
                                {"85 rev counter", 85},
                                {"86 H Inj", 86},
                                {"87 V inj", 87}}};
const TestList kTestListAtLoad = {{{"80 fuel pump", 80},
                                   {"81 Coil H ", 81},
                                   {"82 Coil V", 82},
                                   {"83 clear DTC", 83, true},
                                   {"85 rev counter", 85},
                                   {"86 H Inj", 86},
                                   {"87 V inj", 87}}};
const TestList kTestListP8 = {{{"80 fuel pump", 80},
                               {"81 H inj", 81},
                               {"82 Coil 1", 82},
                               {"83 Coil 2", 83},
                               {"85  ???", 85},
                               {"86 rev Counter", 86},
                               {"87 V inj", 87}}};
const TestList kTestList16m = {{{"80 fuel pump", 80},
                                {"81 H Inj ", 81},
                                {"82 Coil H", 82},
                                {"83 Coil V", 83},
                                {"86 rev counter", 86},
                                {"87 V inj", 87},
                                {"84 Clear DTC", 84, true}}};

bool TestListEntryClearsFaults(const std::string& text) {
  for (const TestList* list : {&kTestList15m, &kTestListAtLoad, &kTestListP8, &kTestList16m})
    for (const TestEntry& e : *list)
      if (text == e.text) return e.clearsFaults;
  return false;
}

int TestCodeOf(int itemCode) {
  return (itemCode / 10) * 16 + itemCode % 10;
}

int TestDurationOf(int itemCode, int previous) {
  if (itemCode == 80) return 40;
  if (itemCode == 84) return previous;
  return 5;
}

void FillTestList(ControlModel& ctl, TestItemData& itemData, const TestList& list) {
  std::vector<std::string> items;
  for (std::size_t i = 0; i < list.size(); ++i) {
    items.emplace_back(list[i].text);
    itemData[i] = list[i].itemCode;
  }
  ctl.setItems("List1", items);
}

namespace {

// The verdict wait of the selected entry: one step of the progress bar "Pg1" a second until the
// ECU sends FF or EE (shown in "Label5" and copied to `shown`) or the bar is full.
void WaitTestListVerdict(ControlModel& ctl, MainWindowLink& main, const TestItemData& itemData,
                         std::string& shown) {
  Host& host = main.host();
  ctl.setCaption("Label5", "");
  ctl.setEnabled("List1", false);
  int index = ctl.value("List1");
  if (index >= 0 && index < 7)
    ctl.setMax("Pg1",
               TestDurationOf(itemData[static_cast<std::size_t>(index)], ctl.get("Pg1").max));
  while (ctl.value("Pg1") < ctl.get("Pg1").max) {
    host.DoEvents();
    // A port that went away sends no verdict: the wait ends at once. The port is asked for
    // again at every look: a Connect pressed meanwhile replaces it.
    if (main.port() && main.port()->lost()) break;
    ctl.setValue("Pg1", ctl.value("Pg1") + 1);
    PauseWhileAttached(main.port(), host, 1000);
    if (main.portOpen() && main.port()->inBufferCount() >= 1) {
      std::string reply = ToHex(main.port()->readAll());
      // A verdict counts only as the one byte waiting at a look.
      if (reply == "FF" || reply == "EE") {
        shown = reply == "FF" ? "OK" : "Erreur";
        ctl.setCaption("Label5", shown);
        ctl.setValue("Pg1", ctl.get("Pg1").max);
        ctl.appendLog(reply);
        main.port()->write(ByteString(1, static_cast<char>(0xFF)));
      }
    }
  }
  main.TimerOn(50);
  ctl.setEnabled("List1", true);
  ctl.setValue("Pg1", 0);
}

}  // namespace

void RunTestListEntry(ControlModel& ctl, MainWindowLink& main, const TestItemData& itemData,
                      std::string& shown) {
  Host& host = main.host();
  ctl.setCaption("Label5", "");
  ctl.setValue("Pg1", 0);
  host.DoEvents();
  main.pauseLoop("a test runs");
  std::string last;
  bool started = false;
  std::string name;
  shown.clear();
  int64_t elapsed = 0;
  // The elapsed value is that of the last wait that had to poll.
  auto note = [&](const ExchangeClock& c) {
    if (c.polls) elapsed = static_cast<int64_t>(c.t1 - c.t0);
  };
  int index = ctl.value("List1");
  if (main.portOpen() && index >= 0 && index < 7) {
    SerialPort& com = *main.port();
    ExchangeParams p;
    p.timeLimit = 2000;
    p.poll2 = 1;
    ExchangeClock clk;
    auto reply = ByteExchange(com, host, 0xAA, p, clk);
    note(clk);
    if (reply) {
      last = *reply;
      ctl.appendLog(last);
      host.Sleep(50);
      int item = itemData[static_cast<std::size_t>(index)];
      com.write(ByteString(1, static_cast<char>(TestCodeOf(item))));
      ctl.appendLog(std::to_string(item));
      started = true;
      name = ctl.get("List1").items.at(static_cast<std::size_t>(index));
      main.publish(ev::TestStarted{ctl.window(), name, TestCodeOf(item)});
      ExchangeClock wait;
      wait.t0 = host.timeGetTime();
      bool ok = WaitForBytes(com, host, 2, 5000, 1, 3, wait);
      note(wait);
      if (ok) {
        last = ToHex(com.readAll());
        ctl.appendLog(last);
        WaitTestListVerdict(ctl, main, itemData, shown);
      }
    }
  }
  ctl.appendLog(last + "  elapsed " + std::to_string(elapsed));
  main.TimerOn(50);
  if (started) {
    main.publish(ev::TestEnded{ctl.window(), name, ev::VerdictOfShown(shown), shown});
  }
}

}  // namespace kline
