// The simulated device's framing, answers and command line, as tables. The end-to-end
// tests run the same device as a process against the real window.
#include "simdevice.h"
#include "simoptions.h"

#include <QtTest>

#include <optional>
#include <string>
#include <vector>

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

std::vector<std::string> Strings(std::initializer_list<std::string> items) {
  return {items.begin(), items.end()};
}

QString Show(const std::vector<std::string>& items) {
  QStringList shown;
  for (const auto& item : items) shown << QString::fromLatin1(Printable(item).c_str());
  return shown.join(QLatin1String(" | "));
}

}  // namespace

class TestSim : public QObject {
  Q_OBJECT

 private slots:
  void framing_data();
  void framing();
  void answers_data();
  void answers();
  void setAddressChangesLaterReadings();
  void options_data();
  void options();
  void badOptions_data();
  void badOptions();
  void usageListsEveryOption();
};

void TestSim::framing_data() {
  QTest::addColumn<std::vector<std::string>>("chunks");
  QTest::addColumn<std::vector<std::string>>("commands");
  QTest::addColumn<QByteArray>("pending");

  QTest::newRow("query in one chunk") << Strings({"*L?#"}) << Strings({"*L?#"}) << QByteArray();
  QTest::newRow("two commands in one chunk")
      << Strings({"*L?#*L007#"}) << Strings({"*L?#", "*L007#"}) << QByteArray();
  QTest::newRow("command split byte by byte")
      << Strings({"*", "L", "0", "0", "7", "#"}) << Strings({"*L007#"}) << QByteArray();
  QTest::newRow("start split over two chunks")
      << Strings({"xx*", "L?#"}) << Strings({"*L?#"}) << QByteArray();
  QTest::newRow("text in front of a start is dropped")
      << Strings({"junk#*L?#"}) << Strings({"*L?#"}) << QByteArray();
  QTest::newRow("text without a start is dropped")
      << Strings({"hello#"}) << Strings({}) << QByteArray();
  QTest::newRow("a lone star waits for its L")
      << Strings({"abc*"}) << Strings({}) << QByteArray("*");
  QTest::newRow("lower-case l is no start")
      << Strings({"*l?#"}) << Strings({}) << QByteArray();
  QTest::newRow("unfinished command stays pending")
      << Strings({"*L00"}) << Strings({}) << QByteArray("*L00");
  QTest::newRow("a new start abandons the unfinished command")
      << Strings({"*L0", "*L?#"}) << Strings({"*L?#"}) << QByteArray();
  QTest::newRow("a start inside a command restarts it")
      << Strings({"*L1*L?#"}) << Strings({"*L?#"}) << QByteArray();
  QTest::newRow("empty command is framed")
      << Strings({"*L#"}) << Strings({"*L#"}) << QByteArray();
  QTest::newRow("overlong text after a start is skipped")
      << Strings({"*L" + std::string(CommandFramer::MaxCommandLength, 'x').append("*L?#")})
      << Strings({"*L?#"}) << QByteArray();
  QTest::newRow("overlong text without any end is not kept")
      << Strings({"*L" + std::string(40, 'x')}) << Strings({}) << QByteArray();
  QTest::newRow("NUL bytes are ordinary characters")
      << std::vector<std::string>{std::string("\0*L\0#", 5)}
      << std::vector<std::string>{std::string("*L\0#", 4)} << QByteArray();
}

void TestSim::framing() {
  QFETCH(std::vector<std::string>, chunks);
  QFETCH(std::vector<std::string>, commands);
  QFETCH(QByteArray, pending);

  CommandFramer framer;
  std::vector<std::string> framed;
  for (const auto& chunk : chunks)
    for (auto& command : framer.Feed(chunk)) framed.push_back(std::move(command));
  QCOMPARE(Show(framed), Show(commands));
  QCOMPARE(QByteArray::fromStdString(framer.Pending()), pending);
}

void TestSim::answers_data() {
  QTest::addColumn<QByteArray>("command");
  QTest::addColumn<QByteArray>("reply");  // empty: ignored
  QTest::addColumn<int>("addressAfter");

  QTest::newRow("query") << QByteArray("*L?#") << QByteArray("*L00501.00#") << 5;
  QTest::newRow("set address 7") << QByteArray("*L007#") << QByteArray("*L00701.00#") << 7;
  QTest::newRow("set lowest address") << QByteArray("*L001#") << QByteArray("*L00101.00#") << 1;
  QTest::newRow("set highest address") << QByteArray("*L126#") << QByteArray("*L12601.00#") << 126;
  QTest::newRow("address 0 is ignored") << QByteArray("*L000#") << QByteArray() << 5;
  QTest::newRow("address 127 is ignored") << QByteArray("*L127#") << QByteArray() << 5;
  QTest::newRow("two digits are ignored") << QByteArray("*L07#") << QByteArray() << 5;
  QTest::newRow("four digits are ignored") << QByteArray("*L0007#") << QByteArray() << 5;
  QTest::newRow("non-digits are ignored") << QByteArray("*L0x7#") << QByteArray() << 5;
  QTest::newRow("signed number is ignored") << QByteArray("*L+07#") << QByteArray() << 5;
  QTest::newRow("empty command is ignored") << QByteArray("*L#") << QByteArray() << 5;
  QTest::newRow("query with extra text is ignored") << QByteArray("*L??#") << QByteArray() << 5;
}

void TestSim::answers() {
  QFETCH(QByteArray, command);
  QFETCH(QByteArray, reply);
  QFETCH(int, addressAfter);

  SimDevice device(5, "01.00");
  const auto answer = device.Answer(command.toStdString());
  QCOMPARE(answer.has_value(), !reply.isEmpty());
  if (answer) QCOMPARE(QByteArray::fromStdString(*answer), reply);
  QCOMPARE(device.Address(), addressAfter);
}

void TestSim::setAddressChangesLaterReadings() {
  SimDevice device(12, "2A.7z");
  QCOMPARE(QByteArray::fromStdString(*device.Answer("*L?#")), QByteArray("*L0122A.7z#"));
  QVERIFY(device.Answer("*L099#"));
  QVERIFY(!device.Answer("*L999#"));
  QCOMPARE(QByteArray::fromStdString(*device.Answer("*L?#")), QByteArray("*L0992A.7z#"));
}

void TestSim::options_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("address");
  QTest::addColumn<QString>("revision");
  QTest::addColumn<QString>("link");
  QTest::addColumn<int>("delayMs");
  QTest::addColumn<QString>("flags");  // c: chunks, n: noise, m: mute, h: help

  QTest::newRow("defaults") << QStringList() << 5 << "01.00" << "/dev/ttyVRT0" << 0 << "";
  QTest::newRow("every value option")
      << QStringList{"--address", "126", "--revision", "02.10", "--link", "/tmp/p",
                     "--delay", "250"}
      << 126 << "02.10" << "/tmp/p" << 250 << "";
  QTest::newRow("values after =")
      << QStringList{"--address=1", "--revision=x.y.z", "--link=/tmp/a=b", "--delay=0"}
      << 1 << "x.y.z" << "/tmp/a=b" << 0 << "";
  QTest::newRow("flags") << QStringList{"--chunks", "--noise", "--mute"} << 5 << "01.00"
                         << "/dev/ttyVRT0" << 0 << "cnm";
  QTest::newRow("help") << QStringList{"--help"} << 5 << "01.00" << "/dev/ttyVRT0" << 0 << "h";
  QTest::newRow("later option wins")
      << QStringList{"--address", "9", "--address", "10"} << 10 << "01.00" << "/dev/ttyVRT0"
      << 0 << "";
  QTest::newRow("longest delay") << QStringList{"--delay", "60000"} << 5 << "01.00"
                                 << "/dev/ttyVRT0" << 60000 << "";
}

void TestSim::options() {
  QFETCH(QStringList, args);
  std::vector<std::string> argv;
  for (const auto& arg : args) argv.push_back(arg.toStdString());

  const auto result = ParseSimOptions(argv);
  QCOMPARE(QString::fromStdString(result.error), QString());
  const SimOptions& options = result.options;
  QTEST(options.address, "address");
  QTEST(QString::fromStdString(options.revision), "revision");
  QTEST(QString::fromStdString(options.link), "link");
  QTEST(options.delayMs, "delayMs");
  QString flags;
  if (options.chunks) flags += QLatin1Char('c');
  if (options.noise) flags += QLatin1Char('n');
  if (options.mute) flags += QLatin1Char('m');
  if (options.help) flags += QLatin1Char('h');
  QTEST(flags, "flags");
}

void TestSim::badOptions_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QString>("errorPart");

  QTest::newRow("unknown option") << QStringList{"--colour"} << "unknown argument '--colour'";
  QTest::newRow("stray argument") << QStringList{"/dev/ttyVRT0"} << "unknown argument";
  QTest::newRow("single dash") << QStringList{"-h"} << "unknown argument";
  QTest::newRow("address 0") << QStringList{"--address", "0"} << "1 to 126";
  QTest::newRow("address 127") << QStringList{"--address", "127"} << "1 to 126";
  QTest::newRow("negative address") << QStringList{"--address=-5"} << "1 to 126";
  QTest::newRow("address with junk") << QStringList{"--address", "5x"} << "1 to 126";
  QTest::newRow("huge address") << QStringList{"--address", "99999999999"} << "1 to 126";
  QTest::newRow("missing value") << QStringList{"--address"} << "needs a value N";
  QTest::newRow("option as value") << QStringList{"--link", "--mute"} << "needs a value PATH";
  QTest::newRow("short revision") << QStringList{"--revision", "1.0"} << "five printable";
  QTest::newRow("long revision") << QStringList{"--revision", "01.000"} << "five printable";
  QTest::newRow("control character in revision")
      << QStringList{"--revision", QStringLiteral("01\t00")} << "'01\\x0900'";
  QTest::newRow("empty link") << QStringList{"--link="} << "takes a path";
  QTest::newRow("delay too long") << QStringList{"--delay", "60001"} << "0 to 60000";
  QTest::newRow("flag with value") << QStringList{"--mute=yes"} << "--mute takes no value";
}

void TestSim::badOptions() {
  QFETCH(QStringList, args);
  QFETCH(QString, errorPart);
  std::vector<std::string> argv;
  for (const auto& arg : args) argv.push_back(arg.toStdString());

  const QString error = QString::fromStdString(ParseSimOptions(argv).error);
  QVERIFY2(error.contains(errorPart), qPrintable(error));
  QVERIFY(!error.contains(QLatin1Char('\n')));
}

void TestSim::usageListsEveryOption() {
  const QString usage = QString::fromStdString(SimUsage());
  for (const char* option : {"--address N", "--revision TEXT", "--link PATH", "--chunks", "--noise",
                             "--delay MS", "--mute", "--help"})
    QVERIFY2(usage.contains(QLatin1String(option)), option);
}

QTEST_APPLESS_MAIN(TestSim)
#include "tst_sim.moc"
