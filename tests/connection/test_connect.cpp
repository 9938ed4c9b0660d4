#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
using ::testing::ElementsAre;

namespace {

SimConfig config(EcuType t) {
  SimConfig c;
  c.type = t;
  c.burst = SimConfig::DefaultBurst();
  return c;
}

}  // namespace

TEST(Connect, FifteenMWakesIdentifiesAndReachesLiveData) {
  SimSession s(config(EcuType::E15m));
  s.connect();
  s.run(5000);
  for (auto& l : s.rec.logLines()) printf("%s\n", l.c_str());
  for (auto& l : s.rec.txTimeline()) printf("%s ", l.c_str());
  printf("\n%s\n", s.form->ctl.text("Text4").c_str());
}
