// The --do action parser on texts as long as a command-line argument can be.
#include <QtTest>
#include <stdexcept>
#include <string>

#include "scriptedaction.h"

class TestScriptedAction : public QObject {
  Q_OBJECT

 private slots:
  void longValueIsTakenWithoutExhaustingTheStack() {
    // Linux passes an argument of up to 128 KiB: a matcher that recurses per character crashed.
    const std::string value(130000, 'x');
    kline::ScriptedAction a = kline::ParseScriptedAction("2500:Form1.Text2=" + value);
    QCOMPARE(a.at, uint64_t{2500});
    QCOMPARE(a.window, std::string("Form1"));
    QCOMPARE(a.control, std::string("Text2"));
    QVERIFY(a.value && *a.value == value);
  }

  void longTextsAreRefusedWithoutExhaustingTheStack() {
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                             kline::ParseScriptedAction("1:" + std::string(130000, 'A') + "!"));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                             kline::ParseScriptedAction(std::string(130000, ' ') + "x"));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                             kline::ParseScriptedAction(std::string(130000, '0') + "1"));
    QVERIFY_THROWS_EXCEPTION(
        std::invalid_argument,
        kline::ParseScriptedAction("1:Text2=" + std::string(130000, 'x') + "\n"));
  }

  void formsKeepTheirMeaning() {
    kline::ScriptedAction a = kline::ParseScriptedAction(" 0007 : Check1(3)=0");
    QCOMPARE(a.at, uint64_t{7});
    QCOMPARE(a.window, std::string("Form2"));
    QCOMPARE(a.control, std::string("Check1(3)"));
    QVERIFY(a.value && *a.value == "0");
    a = kline::ParseScriptedAction("6000:Form3.Command1");
    QCOMPARE(a.window, std::string("Form3"));
    QVERIFY(!a.value);
    QVERIFY(kline::ParseScriptedAction("1:Text2=").value == std::string());
    for (const char* bad :
         {"", ":Command6", "1:", "1:Form3.", "1:Check1(", "1:Check1()", "1:Check1(3", "1:3x",
          "1:Form3.Check1(1).x", "1:A(1).B", "1:A B", "1:Text2=a\rb", "604800001:Command6"})
      QVERIFY_THROWS_EXCEPTION(std::invalid_argument, kline::ParseScriptedAction(bad));
  }
};

QTEST_GUILESS_MAIN(TestScriptedAction)
#include "tst_scriptedaction.moc"
