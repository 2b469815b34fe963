// Message catalogues: the language chosen at start, where its catalogues are found, the
// serial error texts and the toolkit's texts translated from them, the window's own texts
// left alone, and damaged catalogues read as no catalogue at all. The catalogues are real
// ones, compiled by msgfmt from the .po files in tests/fixtures.
#include "catalogtranslator.h"
#include "comerror.h"
#include "comport.h"
#include "mainwindow.h"
#include "mocatalog.h"
#include "translation.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <vector>

namespace {

const QString kPlainOpenError = QStringLiteral("Unable to open com port (win error code: 2)");
const QString kGermanOpenError =
    QString::fromUtf8("Der COM-Port lässt sich nicht öffnen (Windows-Fehlercode: 2)");
const QString kFrenchOpenError =
    QString::fromUtf8("Impossible d'ouvrir le port série (code d'erreur système : 2)");
const QString kGermanOk = QStringLiteral("Einverstanden");

QByteArray Catalogue(const QString& name) {
  QFile file(QStringLiteral(CATALOGUE_DIR "/") + name + QStringLiteral(".mo"));
  if (!file.open(QIODevice::ReadOnly)) qFatal("missing compiled catalogue %s", qPrintable(name));
  return file.readAll();
}

// A folder standing in for the executable's: catalogues are placed in its "locale".
class ProgramDir {
 public:
  // Each placement reads "<language>/<domain>=<compiled fixture>".
  explicit ProgramDir(const QStringList& placements = {}) {
    for (const auto& placement : placements) {
      const auto parts = placement.split(QLatin1Char('='));
      const auto where = parts[0].split(QLatin1Char('/'));
      Place(where[0], where[1], Catalogue(parts[1]));
    }
  }

  void Place(const QString& language, const QString& domain, const QByteArray& bytes) {
    const QString folder = dir_.filePath(QStringLiteral("locale/%1/LC_MESSAGES").arg(language));
    QDir().mkpath(folder);
    QFile file(folder + QLatin1Char('/') + domain + QStringLiteral(".mo"));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
      qFatal("cannot place a catalogue in %s", qPrintable(folder));
  }

  std::string Path() const { return QFile::encodeName(dir_.path()).toStdString(); }

  std::shared_ptr<const Translator> TranslatorFor(const std::string& language) const {
    return std::make_shared<const Translator>(Path(), language);
  }

  // A device name that cannot exist: opening it fails with ENOENT (2).
  std::string MissingPort() const { return Path() + "/no-such-tty"; }

 private:
  QTemporaryDir dir_;
};

QString OpenErrorMessage(const std::string& portName) {
  ComPort port;
  port.SetPort(portName);
  try {
    port.SetConnected(true);
  } catch (const EComPort& error) {
    return QString::fromUtf8(error.what());
  }
  return QStringLiteral("(the port opened)");
}

std::uint32_t WordAt(const QByteArray& bytes, int offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}

QByteArray WithWord(QByteArray bytes, int offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i) & 0xff);
  return bytes;
}

// The layout of a little-endian catalogue's header.
constexpr int kCountAt = 8;
constexpr int kOriginalsAt = 12;
constexpr int kTranslationsAt = 16;

// What a real message box shows while it is up, read by a watcher on the event loop of
// the box's own modal loop; the box is then closed with its OK button.
struct ShownBox {
  QString title, text, ok;
};

std::optional<ShownBox> ClickAndReadBox(QPushButton* button) {
  std::optional<ShownBox> shown;
  QTimer watcher;
  watcher.setInterval(5);
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    watcher.stop();
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    shown = ShownBox{box->windowTitle(), box->text(), ok ? ok->text() : QString()};
    if (ok) ok->click(); else box->reject();
  });
  watcher.start();
  button->click();
  return shown;
}

}  // namespace

class TranslationTest : public QObject {
  Q_OBJECT

 private slots:
  void languageRule_data();
  void languageRule();
  void serialErrorFromCatalogue_data();
  void serialErrorFromCatalogue();
  void toolkitDomainOrder_data();
  void toolkitDomainOrder();
  void windowTextsStayAsWritten_data();
  void windowTextsStayAsWritten();
  void damagedCatalogue_data();
  void damagedCatalogue();
};

void TranslationTest::languageRule_data() {
  QTest::addColumn<bool>("langSet");
  QTest::addColumn<QByteArray>("lang");
  QTest::addColumn<QByteArray>("localeName");
  QTest::addColumn<QByteArray>("language");

  QTest::newRow("LANG with codeset") << true << QByteArray("de_DE.UTF-8") << QByteArray("en_US")
                                     << QByteArray("de_DE");
  QTest::newRow("LANG without codeset") << true << QByteArray("fr_CA") << QByteArray("en_US")
                                        << QByteArray("fr_CA");
  QTest::newRow("LANG as a bare language") << true << QByteArray("de") << QByteArray("en_US")
                                           << QByteArray("de");
  QTest::newRow("LANG keeps a modifier") << true << QByteArray("de_DE@euro") << QByteArray("C")
                                         << QByteArray("de_DE@euro");
  QTest::newRow("LANG C with codeset") << true << QByteArray("C.UTF-8") << QByteArray("de_DE")
                                       << QByteArray("C");
  QTest::newRow("LANG empty, locale used") << true << QByteArray("") << QByteArray("de_AT")
                                           << QByteArray("de_AT");
  QTest::newRow("LANG unset, locale used") << false << QByteArray() << QByteArray("pt_BR")
                                           << QByteArray("pt_BR");
  QTest::newRow("locale with codeset") << false << QByteArray() << QByteArray("pt_BR.ISO-8859-1")
                                       << QByteArray("pt_BR");
  QTest::newRow("C locale") << false << QByteArray() << QByteArray("C") << QByteArray("C");
  QTest::newRow("locale without a country") << false << QByteArray() << QByteArray("de")
                                            << QByteArray("C");
  QTest::newRow("locale with a three-letter language") << false << QByteArray()
                                                       << QByteArray("haw_US") << QByteArray("C");
}

void TranslationTest::languageRule() {
  QFETCH(bool, langSet);
  QFETCH(QByteArray, lang);
  QFETCH(QByteArray, localeName);
  QFETCH(QByteArray, language);
  const std::string chosen = Translation::LanguageCode(langSet ? lang.constData() : nullptr,
                                                       localeName.toStdString());
  QCOMPARE(QByteArray::fromStdString(chosen), language);
}

// The whole road of a serial error: a missing device opened by a real ComPort, its text
// looked up once when the translations are installed, its suffix as the error is made.
void TranslationTest::serialErrorFromCatalogue_data() {
  QTest::addColumn<QStringList>("placements");
  QTest::addColumn<QString>("language");
  QTest::addColumn<QString>("message");

  const QString german = QStringLiteral("de_DE/default=default_de");
  QTest::newRow("full language code") << QStringList{german} << "de_DE" << kGermanOpenError;
  QTest::newRow("two-letter fallback") << QStringList{"de/default=default_de"} << "de_CH"
                                       << kGermanOpenError;
  QTest::newRow("full code before two letters")
      << QStringList{german, "de/default=default_fr"} << "de_DE" << kGermanOpenError;
  QTest::newRow("big-endian catalogue") << QStringList{"de_DE/default=default_de_be"} << "de_DE"
                                        << kGermanOpenError;
  QTest::newRow("ISO-8859-1 catalogue") << QStringList{"fr_FR/default=default_fr"} << "fr_FR"
                                        << kFrenchOpenError;
  QTest::newRow("language not shipped") << QStringList{german} << "fr_FR" << kPlainOpenError;
  QTest::newRow("two letters never find a longer folder") << QStringList{german} << "de"
                                                          << kPlainOpenError;
  QTest::newRow("cport alone does not serve the serial texts")
      << QStringList{"de_DE/cport=cport_de"} << "de_DE" << kPlainOpenError;
  QTest::newRow("no catalogue at all") << QStringList{} << "de_DE" << kPlainOpenError;
}

void TranslationTest::serialErrorFromCatalogue() {
  QFETCH(QStringList, placements);
  QFETCH(QString, language);
  QFETCH(QString, message);
  const ProgramDir program(placements);
  const Translations translations(program.TranslatorFor(language.toStdString()));
  QCOMPARE(OpenErrorMessage(program.MissingPort()), message);
}

void TranslationTest::toolkitDomainOrder_data() {
  QTest::addColumn<QStringList>("placements");
  QTest::addColumn<QByteArray>("context");
  QTest::addColumn<QByteArray>("source");
  QTest::addColumn<QString>("shown");

  const QStringList both{"de_DE/default=default_de", "de_DE/cport=cport_de"};
  QTest::newRow("default before cport") << both << QByteArray("QPlatformTheme")
                                        << QByteArray("OK") << kGermanOk;
  QTest::newRow("cport when default has none") << both << QByteArray("QLineEdit")
                                               << QByteArray("Cancel") << "Abbrechen";
  QTest::newRow("context entry of default") << both << QByteArray("QPlatformTheme")
                                            << QByteArray("Cancel") << "Lieber nicht";
  QTest::newRow("plural entry found by its singular")
      << both << QByteArray("QObject") << QByteArray("%n byte") << "%n Byte";
  QTest::newRow("in neither catalogue") << both << QByteArray("QPlatformTheme")
                                        << QByteArray("Help") << "Help";
  QTest::newRow("only cport shipped") << QStringList{"de_DE/cport=cport_de"}
                                      << QByteArray("QPlatformTheme") << QByteArray("OK")
                                      << QString::fromUtf8("Bestätigen");
  QTest::newRow("each domain falls back on its own")
      << QStringList{"de_DE/default=default_de", "de/cport=cport_de"} << QByteArray("QLineEdit")
      << QByteArray("Cancel") << "Abbrechen";
}

void TranslationTest::toolkitDomainOrder() {
  QFETCH(QStringList, placements);
  QFETCH(QByteArray, context);
  QFETCH(QByteArray, source);
  QFETCH(QString, shown);
  const ProgramDir program(placements);
  const Translations translations(program.TranslatorFor("de_DE"));
  QCOMPARE(QCoreApplication::translate(context.constData(), source.constData()), shown);
}

// The catalogues translate every text of the window too, in both domains; a real
// window, built before or after the translations are installed, must show none of that,
// while the "OK" of its message box is the toolkit's and is translated.
void TranslationTest::windowTextsStayAsWritten_data() {
  QTest::addColumn<bool>("installFirst");
  QTest::newRow("installed before the window") << true;
  QTest::newRow("installed while the window is up") << false;
}

void TranslationTest::windowTextsStayAsWritten() {
  QFETCH(bool, installFirst);
  const ProgramDir program({"de_DE/default=default_de", "de_DE/cport=cport_de"});
  std::unique_ptr<Translations> translations;
  if (installFirst) translations = std::make_unique<Translations>(program.TranslatorFor("de_DE"));
  TForm1 Form1;
  Form1.show();
  QVERIFY(QTest::qWaitForWindowExposed(&Form1));
  if (!installFirst) translations = std::make_unique<Translations>(program.TranslatorFor("de_DE"));
  QCoreApplication::processEvents();
  // Asked, the catalogues would translate the window's texts.
  QCOMPARE(QCoreApplication::translate("TForm1", "Connect"), QStringLiteral("Verbinden"));
  QCOMPARE(QCoreApplication::translate("TForm1", "Please Connect first."),
           QStringLiteral("Bitte zuerst verbinden."));

  QCOMPARE(Form1.windowTitle(), QStringLiteral("VORTALIN v01.00"));
  QCOMPARE(Form1.Label1->text(), QStringLiteral("Current Address : "));
  QCOMPARE(Form1.Label2->text(), QStringLiteral("Set Address To : "));
  QCOMPARE(Form1.Label3->text(), QStringLiteral("Revision : "));
  QCOMPARE(Form1.Button1->text(), QStringLiteral("Transmit"));
  QCOMPARE(Form1.Button2->text(), QStringLiteral("Connect"));

  const auto box = ClickAndReadBox(Form1.Button1);
  QVERIFY2(box, "clicking Transmit while not connected showed no message box");
  QCOMPARE(box->text, QStringLiteral("Please Connect first."));
  QCOMPARE(box->title, QStringLiteral("Error"));
  QCOMPARE(box->ok, kGermanOk);
}

void TranslationTest::damagedCatalogue_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<bool>("sound");

  const QByteArray intact = Catalogue(QStringLiteral("default_de"));
  const std::uint32_t count = WordAt(intact, kCountAt);
  const std::uint32_t originals = WordAt(intact, kOriginalsAt);
  const int size = static_cast<int>(intact.size());
  // The first original string's descriptor: its length, then its offset.
  const int firstLength = static_cast<int>(originals);
  const std::uint32_t firstEnd = WordAt(intact, firstLength + 4) + WordAt(intact, firstLength);
  QByteArray unterminated = intact;
  unterminated[static_cast<int>(firstEnd)] = 'x';

  QTest::newRow("intact, for comparison") << intact << true;
  QTest::newRow("empty file") << QByteArray() << false;
  QTest::newRow("wrong magic") << WithWord(intact, 0, 0x12345678) << false;
  QTest::newRow("header cut short") << intact.left(20) << false;
  QTest::newRow("tables cut short") << intact.left(static_cast<int>(originals + 8 * count - 4))
                                    << false;
  QTest::newRow("strings cut short") << intact.left(size - 3) << false;
  QTest::newRow("original table past the end") << WithWord(intact, kOriginalsAt, size) << false;
  QTest::newRow("translation table past the end")
      << WithWord(intact, kTranslationsAt, size - 8) << false;
  QTest::newRow("string offset past the end") << WithWord(intact, firstLength + 4, 0xfffffff8)
                                              << false;
  QTest::newRow("string length past the end") << WithWord(intact, firstLength, 0xffffffff)
                                              << false;
  QTest::newRow("string without its terminator") << unterminated << false;
  QTest::newRow("count whose table size wraps") << WithWord(intact, kCountAt, 0x20000000) << false;
  QTest::newRow("count at its maximum") << WithWord(intact, kCountAt, 0xffffffff) << false;
  QTest::newRow("unknown major revision") << WithWord(intact, 4, 0x00010000) << false;
}

void TranslationTest::damagedCatalogue() {
  QFETCH(QByteArray, bytes);
  QFETCH(bool, sound);
  // An exactly sized copy, so that a read past the end is a read past the allocation.
  const std::vector<char> exact(bytes.begin(), bytes.end());
  MoCatalog catalog;
  QCOMPARE(catalog.Load(exact.data(), exact.size()), sound);
  QCOMPARE(catalog.Empty(), !sound);

  ProgramDir program;
  program.Place(QStringLiteral("de_DE"), QStringLiteral("default"), bytes);
  program.Place(QStringLiteral("de_DE"), QStringLiteral("cport"), bytes);
  const Translations translations(program.TranslatorFor("de_DE"));
  QCOMPARE(OpenErrorMessage(program.MissingPort()), sound ? kGermanOpenError : kPlainOpenError);
  QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"),
           sound ? kGermanOk : QStringLiteral("OK"));
}

QTEST_MAIN(TranslationTest)
#include "tst_translation.moc"
