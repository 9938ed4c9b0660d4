// The main window's handlers whose work lives with the diagnosis and the tests: they stop the
// poll loop around it, give it the port and publish what it read.
#include "actuators/form1.h"
#include "actuators/testlist.h"
#include "connection/form2.h"
#include "diagnosis/faults.h"

namespace kline {

void Form2::ReadFaults() {
  pauseLoop("a fault readout");
  if (portOpen()) {
    if (auto r = kline::ReadFaults(*port(), host_, [this](const std::string& l) { log(l); }))
      publish(ev::ReadoutDone{*r});
  }
  TimerOn(50);
}

void Form2::ReadImmobiliserStatus() {
  pauseLoop("an immobiliser readout");
  if (portOpen()) {
    if (auto r =
            kline::ReadImmobiliserStatus(*port(), host_, [this](const std::string& l) { log(l); }))
      publish(ev::ReadoutDone{*r});
  }
  TimerOn(50);
}

void Form2::ReadImmobiliserStatus2() {
  pauseLoop("an immobiliser readout");
  if (portOpen()) {
    if (auto r =
            kline::ReadImmobiliserStatus2(*port(), host_, [this](const std::string& l) { log(l); }))
      publish(ev::ReadoutDone{*r});
  }
  TimerOn(50);
}

void Form2::List1_Click() {
  RunTestListEntry(ctl, *this, List1_ItemData, testShown_);
}

void Form2::TrimmerHandover() {
  form1_->TrimmerHandover(ctl.text("Text1(8)"));
}

}  // namespace kline
