// The reply splitter and the command texts, fed chunk by chunk as the serial line
// delivers them.
#include "comdatapacket.h"
#include "protocol.h"

#include <QtTest>

using Chunks = QList<QByteArray>;

class tst_ComDataPacket : public QObject {
  Q_OBJECT

 private slots:
  void framing_data();
  void framing();
  void limit_data();
  void limit();
  void commands_data();
  void commands();
  void payloads_data();
  void payloads();
};

namespace {

struct Run {
  QList<QByteArray> payloads;
  QByteArray pending;
};

Run Feed(const Chunks& chunks) {
  ComDataPacket splitter;
  Run run;
  splitter.OnPacket = [&](ComDataPacket* sender, const std::string& str) {
    QCOMPARE(sender, &splitter);
    run.payloads << QByteArray(str.data(), static_cast<qsizetype>(str.size()));
  };
  for (const auto& chunk : chunks) splitter.HandleData({chunk.constData(), size_t(chunk.size())});
  run.pending = QByteArray::fromStdString(splitter.Pending());
  return run;
}

}  // namespace

void tst_ComDataPacket::framing_data() {
  QTest::addColumn<Chunks>("chunks");
  QTest::addColumn<QList<QByteArray>>("payloads");
  QTest::addColumn<QByteArray>("pending");
  using L = QList<QByteArray>;
  const QByteArray normal = "*L00501.00#";

  QTest::newRow("normal reply: cut at ten, its # stays") << Chunks{normal} << L{"00501.00"} << QByteArray("#");
  QTest::newRow("two chunks of normal replies") << Chunks{normal, normal} << L{"00501.00", "00501.00"} << QByteArray("#");
  QTest::newRow("noise in front is dropped") << Chunks{"xy" + normal} << L{"00501.00"} << QByteArray("#");
  QTest::newRow("two replies in one chunk") << Chunks{normal + "*L00601.00#"} << L{"00501.00", "00601.00"} << QByteArray("#");
  QTest::newRow("reply split after *L005") << Chunks{"*L005", "01.00#"} << L{"00501.00"} << QByteArray("#");
  QTest::newRow("start split between * and L") << Chunks{"*", "L00501.00#"} << L{"00501.00"} << QByteArray("#");
  QTest::newRow("# arrives alone later") << Chunks{"*L00501.00", "#"} << L{"00501.00"} << QByteArray("#");
  QTest::newRow("longer than ten") << Chunks{"*L00501.00X#"} << L{"00501.00"} << QByteArray("X#");
  QTest::newRow("longer than ten, misplaced dot") << Chunks{"*L0050101.00#"} << L{"0050101."} << QByteArray("00#");
  QTest::newRow("lone #") << Chunks{"#"} << L{} << QByteArray("#");
  QTest::newRow("lower-case l is no start") << Chunks{"*l00501.00#"} << L{} << QByteArray("*l00501.00#");
  QTest::newRow("empty reply") << Chunks{"*L#"} << L{""} << QByteArray();
  QTest::newRow("short reply") << Chunks{"*L12#"} << L{"12"} << QByteArray();
  QTest::newRow("short reply with dot") << Chunks{"*L12345.#"} << L{"12345."} << QByteArray();
  QTest::newRow("short then normal, one chunk: size test wins")
      << Chunks{"*L12#" + normal} << L{"12#*L005"} << QByteArray("01.00#");
  QTest::newRow("short then normal, two chunks") << Chunks{"*L12#", normal} << L{"12", "00501.00"} << QByteArray("#");
  QTest::newRow("partial reply joined to the next")
      << Chunks{"*L005", normal} << L{"005*L005"} << QByteArray("01.00#");
  QTest::newRow("*L inside a reply is ordinary") << Chunks{"*L0*L01.00#"} << L{"0*L01.00"} << QByteArray("#");
  QTest::newRow("NUL inside a reply takes a place")
      << Chunks{QByteArray("*L0\0" "501.00#", 11)} << L{QByteArray("0\0" "501.00", 8)} << QByteArray("#");
  QTest::newRow("one byte at a time") << Chunks{"*", "L", "0", "0", "5", "0", "1", ".", "0", "0", "#"}
                                      << L{"00501.00"} << QByteArray("#");
  QTest::newRow("1500 noise bytes then a reply, one chunk")
      << Chunks{QByteArray(1500, 'x') + normal} << L{"00501.00"} << QByteArray("#");
}

void tst_ComDataPacket::framing() {
  QFETCH(Chunks, chunks);
  QFETCH(QList<QByteArray>, payloads);
  QFETCH(QByteArray, pending);
  const Run run = Feed(chunks);
  QCOMPARE(run.payloads, payloads);
  QCOMPARE(run.pending, pending);
}

// Only text without a start can reach the 1024-character limit; it is dropped whole once
// a chunk leaves 1024 or more pending, which decides whether a start split over the
// boundary is found.
void tst_ComDataPacket::limit_data() {
  QTest::addColumn<Chunks>("chunks");
  QTest::addColumn<QList<QByteArray>>("payloads");
  QTest::addColumn<int>("pendingSize");
  using L = QList<QByteArray>;
  QTest::newRow("1023 bytes stay pending") << Chunks{QByteArray(1023, 'x')} << L{} << 1023;
  QTest::newRow("1024 bytes are dropped") << Chunks{QByteArray(1023, 'x'), "y"} << L{} << 0;
  QTest::newRow("* as the 1024th byte is dropped with the rest")
      << Chunks{QByteArray(1023, 'x'), "*", "L00501.00#"} << L{} << 10;
  QTest::newRow("* as the 1023rd byte joins the next chunk's L")
      << Chunks{QByteArray(1022, 'x') + "*", "L00501.00#"} << L{"00501.00"} << 1;
  // Forty chunks of 100: dropped at 1100 after the 11th, 22nd and 33rd; seven remain.
  QTest::newRow("noise is dropped in many small chunks") << Chunks(40, QByteArray(100, 'z')) << L{} << 700;
}

void tst_ComDataPacket::limit() {
  QFETCH(Chunks, chunks);
  QFETCH(QList<QByteArray>, payloads);
  QFETCH(int, pendingSize);
  const Run run = Feed(chunks);
  QCOMPARE(run.payloads, payloads);
  QCOMPARE(run.pending.size(), pendingSize);
}

void tst_ComDataPacket::commands_data() {
  QTest::addColumn<int>("address");
  QTest::addColumn<QByteArray>("command");
  QTest::newRow("lowest address") << 1 << QByteArray("*L001#");
  QTest::newRow("one digit") << 5 << QByteArray("*L005#");
  QTest::newRow("two digits") << 42 << QByteArray("*L042#");
  QTest::newRow("highest address") << 126 << QByteArray("*L126#");
}

void tst_ComDataPacket::commands() {
  QFETCH(int, address);
  QFETCH(QByteArray, command);
  QCOMPARE(QByteArray::fromStdString(SetAddressCommand(address)), command);
  QCOMPARE(QByteArray(QueryCommand.data(), QueryCommand.size()), QByteArray::fromHex("2a4c3f23"));
}

void tst_ComDataPacket::payloads_data() {
  QTest::addColumn<QByteArray>("payload");
  QTest::addColumn<bool>("read");
  QTest::addColumn<QByteArray>("address");
  QTest::addColumn<QByteArray>("revision");
  QTest::newRow("normal") << QByteArray("00501.00") << true << QByteArray("005") << QByteArray("01.00");
  QTest::newRow("six characters") << QByteArray("12345.") << true << QByteArray("123") << QByteArray("45.");
  QTest::newRow("too short") << QByteArray("12") << false << QByteArray() << QByteArray();
  QTest::newRow("sixth not a dot") << QByteArray("0050101.") << false << QByteArray() << QByteArray();
  QTest::newRow("empty") << QByteArray() << false << QByteArray() << QByteArray();
  QTest::newRow("longer: revision stops at eight") << QByteArray("00501.00xyz") << true << QByteArray("005") << QByteArray("01.00");
}

void tst_ComDataPacket::payloads() {
  QFETCH(QByteArray, payload);
  QFETCH(bool, read);
  const auto reading = ReadPayload({payload.constData(), size_t(payload.size())});
  QCOMPARE(reading.has_value(), read);
  if (!reading) return;
  QFETCH(QByteArray, address);
  QFETCH(QByteArray, revision);
  QCOMPARE(QByteArray::fromStdString(reading->Address), address);
  QCOMPARE(QByteArray::fromStdString(reading->Revision), revision);
}

QTEST_APPLESS_MAIN(tst_ComDataPacket)
#include "tst_comdatapacket.moc"
