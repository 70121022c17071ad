// SPDX-License-Identifier: GPL-3.0-or-later
#include "embeddedfonts.h"
#include "framelesswidget.h"
#include "languages.h"
#include "messagedialog.h"
#include "settingsdialog.h"
#include "ui_mainwindow.h"

#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QImageReader>
#include <QMovie>
#include <QRegularExpression>
#include <QResource>
#include <QTranslator>
#include <QtTest>

namespace {

// The main window as the controller builds it: the form on a frameless base.
struct Window
{
    FramelessWidget widget;
    Ui::MainWindow ui;
    Window() { ui.setupUi(&widget); }
};

QString styleSheetText()
{
    QFile file(QStringLiteral(":/ui/style.qss"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// Share of the image's pixels within a small distance of colour.
double shareOf(const QImage &image, const QColor &colour)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    qint64 near = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const int d = qAbs(qRed(line[x]) - colour.red())
                + qAbs(qGreen(line[x]) - colour.green()) + qAbs(qBlue(line[x]) - colour.blue());
            near += d <= 48;
        }
    }
    return rgb.isNull() ? 0.0 : double(near) / (qint64(rgb.width()) * rgb.height());
}

} // namespace

class tst_MainWindowForm : public QObject
{
    Q_OBJECT

private slots:
    void sizeIsFixed();
    void widgetTree_data();
    void widgetTree();
    void layoutOrder_data();
    void layoutOrder();
    void pagesAndFixedPositions();
    void textsFollowCatalogue();
    void styleSheetResource();
    void resourcesLoad();
    void styleSheetPaintsPictures_data();
    void styleSheetPaintsPictures();
    void focusIsVisible_data();
    void focusIsVisible();
};

void tst_MainWindowForm::sizeIsFixed()
{
    Window w;
    QCOMPARE(w.widget.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(w.widget.size(), QSize(520, 708));
    QCOMPARE(w.widget.minimumSize(), QSize(520, 708));
    QCOMPARE(w.widget.maximumSize(), QSize(520, 708));
    w.widget.show();
    w.widget.resize(800, 300);
    QCOMPARE(w.widget.size(), QSize(520, 708));

    // A name given before setupUi is kept.
    FramelessWidget named;
    named.setObjectName(QStringLiteral("Other"));
    Ui::MainWindow ui;
    ui.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("Other"));
}

void tst_MainWindowForm::widgetTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");

    const QList<std::array<const char *, 3>> rows = {
        { "verticalLayout", "QVBoxLayout", "MainWindow" },
        { "frame_Header", "QFrame", "MainWindow" },
        { "horizontalLayout", "QHBoxLayout", "frame_Header" },
        { "toolButton_Network", "QToolButton", "frame_Header" },
        { "label_Title", "QLabel", "frame_Header" },
        { "toolButton_Close", "QToolButton", "frame_Header" },
        { "stackedWidget", "QStackedWidget", "MainWindow" },
        { "page_Start", "QWidget", "stackedWidget" },
        { "verticalLayout_3", "QVBoxLayout", "page_Start" },
        { "label_Busying", "QLabel", "page_Start" },
        { "label_Info", "QLabel", "page_Start" },
        { "page_Unconnected", "QWidget", "stackedWidget" },
        { "label_PC", "QLabel", "page_Unconnected" },
        { "label", "QLabel", "page_Unconnected" },
        { "page_Connected", "QWidget", "stackedWidget" },
        { "verticalLayout_2", "QVBoxLayout", "page_Connected" },
        { "label_ProductConnected", "QLabel", "page_Connected" },
        { "label_CurrentVersion", "QLabel", "page_Connected" },
        { "progressBar", "QProgressBar", "page_Connected" },
        { "horizontalLayout_3", "QHBoxLayout", "verticalLayout_2" },
        { "label_Version", "QLabel", "page_Connected" },
        { "comboBox_Version", "QComboBox", "page_Connected" },
        { "toolButton_VersionInfo", "QToolButton", "page_Connected" },
        { "toolButton_OpenFile", "QToolButton", "page_Connected" },
        { "pushButton_Update", "QPushButton", "page_Connected" },
        { "pushButton_Restore", "QPushButton", "page_Connected" },
        { "horizontalLayout_4", "QHBoxLayout", "verticalLayout" },
        { "toolButton_Settings", "QToolButton", "MainWindow" },
        { "label_Copyright", "QLabel", "MainWindow" },
        { "comboBox_Languages", "QComboBox", "MainWindow" },
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1])
                              << QString::fromLatin1(row[2]);
}

void tst_MainWindowForm::widgetTree()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);

    Window w;
    const QList<QObject *> found = w.widget.findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QString::fromLatin1(found.first()->metaObject()->className()), className);
    QVERIFY(found.first()->parent());
    QCOMPARE(found.first()->parent()->objectName(), parentName);
}

void tst_MainWindowForm::layoutOrder_data()
{
    QTest::addColumn<QString>("layoutName");
    QTest::addColumn<QString>("items"); // "-" stands for a spacer

    QTest::newRow("window") << "verticalLayout"
                            << "frame_Header stackedWidget horizontalLayout_4";
    QTest::newRow("header") << "horizontalLayout"
                            << "toolButton_Network label_Title toolButton_Close";
    QTest::newRow("start page") << "verticalLayout_3"
                                << "- label_Busying label_Info -";
    QTest::newRow("connected page") << "verticalLayout_2"
                                    << "label_ProductConnected label_CurrentVersion progressBar "
                                       "horizontalLayout_3 pushButton_Update pushButton_Restore";
    QTest::newRow("version row")
        << "horizontalLayout_3"
        << "label_Version comboBox_Version toolButton_VersionInfo - toolButton_OpenFile";
    QTest::newRow("bottom row") << "horizontalLayout_4"
                                << "toolButton_Settings label_Copyright comboBox_Languages";
}

void tst_MainWindowForm::layoutOrder()
{
    QFETCH(QString, layoutName);
    QFETCH(QString, items);

    Window w;
    auto *layout = w.widget.findChild<QBoxLayout *>(layoutName);
    QVERIFY(layout);
    QStringList names;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget())
            names << item->widget()->objectName();
        else if (item->layout())
            names << item->layout()->objectName();
        else
            names << QStringLiteral("-");
        // Every item is added with stretch 0 and no alignment.
        QCOMPARE(int(item->alignment()), 0);
        QCOMPARE(layout->stretch(i), 0);
    }
    QCOMPARE(names.join(QLatin1Char(' ')), items);
}

void tst_MainWindowForm::pagesAndFixedPositions()
{
    Window w;
    QCOMPARE(w.ui.stackedWidget->count(), 3);
    QCOMPARE(w.ui.stackedWidget->widget(0), w.ui.page_Start);
    QCOMPARE(w.ui.stackedWidget->widget(1), w.ui.page_Unconnected);
    QCOMPARE(w.ui.stackedWidget->widget(2), w.ui.page_Connected);
    QCOMPARE(w.ui.stackedWidget->currentIndex(), 0);
    QVERIFY(!w.ui.page_Unconnected->layout());

    // The unconnected page keeps its pictures and text where they are, whatever the text.
    w.widget.setStyleSheet(styleSheetText());
    w.ui.stackedWidget->setCurrentIndex(1);
    w.widget.show();
    w.ui.label->setText(QStringLiteral("A much longer instruction than usual, which has to wrap "
                                       "inside its box and must not move or grow the box."));
    QCoreApplication::processEvents();
    QCOMPARE(w.ui.label_PC->geometry(), QRect(40, 30, 431, 301));
    // Tall enough for the connect instruction's three or four wrapped lines.
    QCOMPARE(w.ui.label->geometry(), QRect(50, 400, 400, 84));
    QVERIFY(w.ui.label->wordWrap());
    QCOMPARE(w.widget.size(), QSize(520, 708));
}

void tst_MainWindowForm::textsFollowCatalogue()
{
    Window w;
    const QStringList languages = { QStringLiteral("English"), QStringLiteral("Chinese"),
        QStringLiteral("Japanese"), QStringLiteral("Russian"), QStringLiteral("French") };
    QCOMPARE(w.ui.comboBox_Languages->count(), 5);
    for (int i = 0; i < languages.size(); ++i)
        QCOMPARE(w.ui.comboBox_Languages->itemText(i), languages.at(i));
    QCOMPARE(w.widget.windowTitle(), QStringLiteral("Corvane Firmware Tool"));
    QCOMPARE(w.ui.pushButton_Update->text(), QStringLiteral("Update Firmware"));
    QVERIFY(w.ui.label_Title->text().isEmpty());

    QTranslator english;
    QVERIFY(english.load(QStringLiteral(":/translations/CorvaneFirmwareTool_en_EN.qm")));
    QCoreApplication::installTranslator(&english);
    w.ui.comboBox_Languages->setCurrentIndex(3);
    w.ui.retranslateUi(&w.widget);
    QCoreApplication::removeTranslator(&english);

    QCOMPARE(w.ui.comboBox_Languages->count(), 5);
    QCOMPARE(w.ui.comboBox_Languages->itemText(1), QStringLiteral("中文"));
    QCOMPARE(w.ui.label->text(), english.translate("MainWindow", "connect Corvane X9 to PC."));
    QVERIFY(w.ui.label->text() != QLatin1String("connect Corvane X9 to PC."));
    QCOMPARE(w.ui.label_Info->text(),
        english.translate("MainWindow", "connect clould and sync information..."));
}

void tst_MainWindowForm::styleSheetResource()
{
    QFile file(QStringLiteral(":/ui/style.qss"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray raw = file.readAll();
    QVERIFY(raw.startsWith("\xEF\xBB\xBF"));

    QString text = QString::fromUtf8(raw);
    text.remove(QRegularExpression(
        QStringLiteral("/\\*.*?\\*/"), QRegularExpression::DotMatchesEverythingOption));
    const QRegularExpression rule(QStringLiteral("([^{}]+)\\{([^{}]*)\\}"));
    QStringList selectors;
    for (auto it = rule.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        selectors << m.captured(1).trimmed().remove(QChar(0xFEFF));
        QVERIFY2(!m.captured(2).trimmed().isEmpty(), qPrintable(selectors.last()));
    }
    // The 58 rules of the window's look, then only rules for disabled and focused controls
    // and for the message dialog's frame and warning look.
    QCOMPARE(selectors.size(), 87);
    QCOMPARE(text.count(QLatin1Char('{')), 87);
    QCOMPARE(selectors.first(), QStringLiteral("QWidget#MessageWidget"));
    QCOMPARE(selectors.at(57), QStringLiteral("QFrame#frame_Header"));
    for (const QString &selector : selectors.mid(58)) {
        for (const QString &part : selector.split(QLatin1Char(',')))
            QVERIFY2(part.trimmed().endsWith(QLatin1String(":disabled"))
                    || part.contains(QLatin1String(":focus"))
                    || part.contains(QLatin1String("[warning=\"true\"]"))
                    || part == QLatin1String("QDialog#MessageDialog"),
                qPrintable(selector));
    }
    QCOMPARE(selectors.removeDuplicates(), 0);

    // Every picture that the sheet names is in the bundle and decodes.
    const QRegularExpression url(QStringLiteral("url\\((:/[^)]+)\\)"));
    int urls = 0;
    for (auto it = url.globalMatch(text); it.hasNext(); ++urls) {
        const QString path = it.next().captured(1);
        QVERIFY2(!QImage(path).isNull(), qPrintable(path));
    }
    QCOMPARE(urls, 50);
}

void tst_MainWindowForm::resourcesLoad()
{
    QStringList images;
    for (const char *name :
        { "threedots", "settings", "UF-normal", "UF-hover", "UF-anxia", "RD-normal", "RD-hover",
            "RD-anxia", "wangluo", "duanwang", "guanb-anxia", "guanbi-hover", "guanbi-noamal",
            "jingshi-normal", "jingshi-hover", "jingshi-anxia", "xiala", "beijing", "xialak",
            "jindu", "di", "xiala-xuanzekuang", "jiantou", "finger" })
        images << QStringLiteral(":/images/K1/%1.png").arg(QLatin1String(name));
    for (const char *name : { "beijing", "fuwuqi", "chanpin", "lianjiexian" })
        images << QStringLiteral(":/images/K2/%1.png").arg(QLatin1String(name));
    for (const char *name : { "button-normal", "button-hover", "button-press" })
        images << QStringLiteral(":/images/K3/%1.png").arg(QLatin1String(name));
    for (const QString &path : qAsConst(images)) {
        QImageReader reader(path);
        QVERIFY2(reader.canRead(), qPrintable(path));
        const QSize size = reader.read().size();
        QVERIFY2(size.isValid(), qPrintable(path));
        // Screens scaled 2x get the picture drawn at twice the size, not enlarged.
        const QString twice = path.chopped(4) + QLatin1String("@2x.png");
        QVERIFY2(QImage(twice).size() == size * 2, qPrintable(twice));
    }
    // The pictures drawn in fixed boxes fit them.
    QCOMPARE(QImage(QStringLiteral(":/images/K2/fuwuqi.png")).size(), QSize(431, 301));
    QVERIFY(QImage(QStringLiteral(":/images/K2/chanpin.png")).height() <= 286);
    QCOMPARE(QImage(QStringLiteral(":/images/K1/wangluo.png")).size(), QSize(28, 28));

    QMovie busy(QStringLiteral(":/images/loading.gif"));
    QVERIFY(busy.isValid());
    QVERIFY(busy.frameCount() > 10);
    QVERIFY(busy.jumpToFrame(0));
    QCOMPARE(busy.currentImage().size(), QSize(168, 168));

    // The fonts are handed to the font database where they lie in the program, which only
    // works while the bundle keeps them uncompressed (else each is copied whole into memory).
    QVERIFY(EmbeddedFonts::registerAll());
    const char *const families[EmbeddedFonts::Count] = { "Droid Sans Fallback", "Liberation Sans",
        "IPAPGothic", "DejaVu Sans", "Roboto Slab", "FontAwesome" };
    for (int font = 0; font < EmbeddedFonts::Count; ++font) {
        const QString path = EmbeddedFonts::resourcePath(EmbeddedFonts::Font(font));
        QVERIFY2(
            QResource(path).compressionAlgorithm() == QResource::NoCompression, qPrintable(path));
        QCOMPARE(QFontDatabase::applicationFontFamilies(font),
            QStringList(QString::fromLatin1(families[font])));
    }
    // No language is drawn in a monospaced face by the family that stands in for its own.
    Languages::installFontSubstitutions();
    for (int language = 0; language < Languages::Count; ++language) {
        const QFontInfo face(QFont(Languages::fontFamily(language)));
        QVERIFY2(!face.fixedPitch(), qPrintable(face.family()));
    }

    // The form's icons come from the bundle.
    Window w;
    QVERIFY(!w.ui.toolButton_OpenFile->icon().pixmap(32, 32).isNull());
    QVERIFY(!w.ui.toolButton_Settings->icon().pixmap(24, 24).isNull());
    QCOMPARE(w.ui.toolButton_OpenFile->iconSize(), QSize(32, 32));
    QCOMPARE(w.ui.toolButton_Settings->iconSize(), QSize(24, 24));
}

void tst_MainWindowForm::styleSheetPaintsPictures_data()
{
    QTest::addColumn<QString>("widgetName");
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<double>("minShare");
    QTest::addColumn<double>("maxShare");

    const QColor blue(0x07, 0x94, 0xFD);
    const QColor green(0x65, 0xC8, 0x53);
    QTest::newRow("network synced") << "toolButton_Network" << 0 << true << blue << 0.15 << 1.0;
    QTest::newRow("network not synced") << "toolButton_Network" << 0 << false << blue << 0.0 << 0.0;
    QTest::newRow("update button") << "pushButton_Update" << 2 << true << blue << 0.5 << 1.0;
    QTest::newRow("update button disabled")
        << "pushButton_Update" << 2 << false << blue << 0.0 << 0.02;
    QTest::newRow("restore button") << "pushButton_Restore" << 2 << true << green << 0.5 << 1.0;
    QTest::newRow("computer picture")
        << "label_PC" << 1 << true << QColor(0x2C, 0x36, 0x43) << 0.03 << 1.0;
    QTest::newRow("device picture")
        << "label_ProductConnected" << 2 << true << QColor(0x33, 0x3D, 0x4A) << 0.03 << 1.0;
}

void tst_MainWindowForm::styleSheetPaintsPictures()
{
    QFETCH(QString, widgetName);
    QFETCH(int, page);
    QFETCH(bool, enabled);
    QFETCH(QColor, colour);
    QFETCH(double, minShare);
    QFETCH(double, maxShare);

    Window w;
    w.widget.setStyleSheet(styleSheetText());
    w.ui.stackedWidget->setCurrentIndex(page);
    auto *target = w.widget.findChild<QWidget *>(widgetName);
    QVERIFY(target);
    target->setEnabled(enabled);
    w.widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.widget));

    const double share = shareOf(target->grab().toImage(), colour);
    QVERIFY2(share >= minShare && share <= maxShare, qPrintable(QString::number(share)));
}

void tst_MainWindowForm::focusIsVisible_data()
{
    QTest::addColumn<QString>("dialog"); // "" for the window itself
    QTest::addColumn<QString>("widgetName");
    for (const char *name :
        { "toolButton_Close", "comboBox_Version", "toolButton_VersionInfo", "toolButton_OpenFile",
            "pushButton_Update", "pushButton_Restore", "comboBox_Languages" })
        QTest::newRow(name) << QString() << QString::fromLatin1(name);
    for (const char *name : { "toolButton_Close", "textBrowser", "pushButton_MsgOK" })
        QTest::newRow(name) << QStringLiteral("MessageDialog") << QString::fromLatin1(name);
    QTest::newRow("pushButton_DataBackup")
        << QStringLiteral("SettingsDialog") << QStringLiteral("pushButton_DataBackup");
}

// A keyboard user sees which control has the focus.
void tst_MainWindowForm::focusIsVisible()
{
    QFETCH(QString, dialog);
    QFETCH(QString, widgetName);
    Window w;
    w.widget.setStyleSheet(styleSheetText());
    w.ui.stackedWidget->setCurrentIndex(2);
    w.widget.show();
    MessageDialog message(&w.widget);
    SettingsDialog settings(&w.widget);
    QWidget *window = &w.widget;
    if (dialog == QLatin1String("MessageDialog")) {
        message.showMessage(QStringLiteral("Error"), QStringLiteral("Hardware failure!"));
        window = &message;
    } else if (dialog == QLatin1String("SettingsDialog")) {
        settings.show();
        window = &settings;
    }
    window->activateWindow();
    QTRY_VERIFY(window->isActiveWindow());
    auto *target = window->findChild<QWidget *>(widgetName);
    QVERIFY(target);
    QVERIFY(target->focusPolicy() & Qt::TabFocus);

    target->clearFocus();
    const QImage plain = target->grab().toImage();
    target->setFocus(Qt::TabFocusReason);
    QVERIFY(target->hasFocus());
    QVERIFY(target->grab().toImage() != plain);
}

QTEST_MAIN(tst_MainWindowForm)
#include "tst_mainwindowform.moc"
