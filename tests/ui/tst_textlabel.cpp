#include "ui/brandlogo.h"
#include "ui/textlabel.h"

#include <QApplication>
#include <QFile>
#include <QTest>

// The start-up shortcuts of the window: a label that remembers its measured heights must still
// measure what it shows now, and the logo sizes must come out as shown without a guessing reader.
class TestTextLabel final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void heightsFollowTextFontAndMargins();
    void logoComesAtEachShownSize();
};

static void initResources()
{
    // The logo is compiled into the widgets library, a static one.
    Q_INIT_RESOURCE(resources);
}

void TestTextLabel::initTestCase()
{
    initResources();
}

namespace {

// A label as the window made them before: what the remembered heights must agree with.
int plainHeight(const TextLabel &label, int width)
{
    QLabel plain(label.text());
    plain.setWordWrap(true);
    plain.setTextFormat(Qt::PlainText);
    plain.setFont(label.font());
    plain.setContentsMargins(label.contentsMargins());
    return plain.heightForWidth(width);
}

} // namespace

void TestTextLabel::heightsFollowTextFontAndMargins()
{
    const QString longText = QStringLiteral(
        "Use the account number from Quillmor management. We send a verification code, then you "
        "connect the MikroTik that should join this account.");
    TextLabel label(longText);
    QCOMPARE(label.textFormat(), Qt::PlainText);
    QVERIFY(label.wordWrap());

    const QList<int> widths{120, 240, 480, 960};
    // Asked twice over, in an order the remembered widths do not follow.
    for (int round = 0; round < 2; ++round) {
        for (int width : widths)
            QCOMPARE(label.heightForWidth(width), plainHeight(label, width));
    }
    const int narrow = label.heightForWidth(120);

    // A short text after a long one: every remembered width is measured again.
    label.setText(QStringLiteral("Sign in"));
    for (int width : widths)
        QCOMPARE(label.heightForWidth(width), plainHeight(label, width));
    QVERIFY(label.heightForWidth(120) < narrow);

    label.setText(longText);
    const int before = label.heightForWidth(240);
    QFont bigger = label.font();
    bigger.setPointSizeF(bigger.pointSizeF() * 2);
    label.setFont(bigger);
    QVERIFY(label.heightForWidth(240) > before);
    QCOMPARE(label.heightForWidth(240), plainHeight(label, 240));

    // Margins, from code and from a style sheet's padding, take room from the text.
    label.setContentsMargins(40, 10, 40, 10);
    QCOMPARE(label.heightForWidth(240), plainHeight(label, 240));
    label.setStyleSheet(QStringLiteral("font-size: 9pt;"));
    QCOMPARE(label.heightForWidth(240), plainHeight(label, 240));

    // More widths than it remembers: the oldest are measured again, never answered wrongly.
    for (int width = 100; width < 400; width += 10)
        QCOMPARE(label.heightForWidth(width), plainHeight(label, width));
}

void TestTextLabel::logoComesAtEachShownSize()
{
    for (int size : {34, 56, 84}) {
        const QPixmap logo = brandLogo(size);
        QCOMPARE(logo.deviceIndependentSize().toSize(), QSize(size, size));
        // Asked again, the same decoded image comes back.
        QCOMPARE(brandLogo(size).cacheKey(), logo.cacheKey());
    }
    // A size that is not shipped is made from the largest copy.
    QCOMPARE(brandLogo(40).size(), QSize(40, 40));

    QVERIFY(readShippedPng(QStringLiteral(":/logo-34.png")).hasAlphaChannel());
#ifdef Q_OS_LINUX
    // Reading a PNG whose format is known loads no image format plugin; a guessing reader
    // loads every one there is before it settles on the built-in PNG reader.
    QFile maps(QStringLiteral("/proc/self/maps"));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    QVERIFY2(!maps.readAll().contains("/imageformats/"), "an image format plugin was loaded");
#endif
}

QTEST_MAIN(TestTextLabel)
#include "tst_textlabel.moc"
