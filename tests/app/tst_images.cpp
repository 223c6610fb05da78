#include "TestHome.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QSet>
#include <QTest>

#include <cstdlib>

namespace {
const QStringList &toolBarImages()
{
    static const QStringList names{
        QStringLiteral("empty"),     QStringLiteral("open"),      QStringLiteral("save"),
        QStringLiteral("device"),    QStringLiteral("chipid"),    QStringLiteral("chipread"),
        QStringLiteral("verify"),    QStringLiteral("blank"),     QStringLiteral("chiperase"),
        QStringLiteral("chipwrite"), QStringLiteral("duplicate"), QStringLiteral("stop"),
        QStringLiteral("about")};
    return names;
}

QString resourcePath(const QString &name)
{
    return QStringLiteral(":/images/") + name + QStringLiteral(".png");
}

QImage loadImage(const QString &name)
{
    return QImage(resourcePath(name)).convertToFormat(QImage::Format_ARGB32);
}

// Pixels whose colour or coverage differs clearly between two images of one size.
int clearlyDifferentPixels(const QImage &a, const QImage &b)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int distance = std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                                 std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
            if (distance > 96)
                ++count;
        }
    }
    return count;
}
} // namespace

class TestImages : public QObject
{
    Q_OBJECT
private slots:
    void imageIsDrawn_data();
    void imageIsDrawn();
    void toolBarIconsDiffer_data();
    void toolBarIconsDiffer();
};

void TestImages::imageIsDrawn_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("size");
    for (const QString &name : toolBarImages())
        QTest::newRow(qPrintable(name)) << name << 32;
    QTest::newRow("usbprog") << QStringLiteral("usbprog") << 64;
    QTest::newRow("usbicon") << QStringLiteral("usbicon") << 64;
}

// Each image is compiled in, decodes at its size, and shows a real picture on
// a transparent ground: opaque pixels in several colours, some clear pixels.
void TestImages::imageIsDrawn()
{
    QFETCH(QString, name);
    QFETCH(int, size);

    QVERIFY2(QFile::exists(resourcePath(name)), qPrintable(resourcePath(name)));
    const QImage image = loadImage(name);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(size, size));

    int opaque = 0;
    int clear = 0;
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 255) {
                ++opaque;
                colours.insert(pixel);
            } else if (qAlpha(pixel) == 0) {
                ++clear;
            }
        }
    }
    const int pixels = size * size;
    QVERIFY2(opaque >= pixels / 5, qPrintable(QString::number(opaque)));
    QVERIFY2(clear >= pixels / 20, qPrintable(QString::number(clear)));
    QVERIFY2(colours.size() >= 3, qPrintable(QString::number(colours.size())));
}

void TestImages::toolBarIconsDiffer_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    const QStringList &names = toolBarImages();
    for (qsizetype i = 0; i < names.size(); ++i) {
        for (qsizetype j = i + 1; j < names.size(); ++j)
            QTest::newRow(qPrintable(names[i] + QLatin1Char('/') + names[j]))
                << names[i] << names[j];
    }
}

// No two tool-bar buttons show the same picture: at least a tenth of the
// pixels differ clearly (Read and Write share the chip, not the arrow).
void TestImages::toolBarIconsDiffer()
{
    QFETCH(QString, first);
    QFETCH(QString, second);

    const QImage a = loadImage(first);
    const QImage b = loadImage(second);
    QVERIFY(!a.isNull() && !b.isNull());
    const int differing = clearlyDifferentPixels(a, b);
    QVERIFY2(differing >= a.width() * a.height() / 10, qPrintable(QString::number(differing)));
}

KORVANE_TEST_MAIN_WITH(QGuiApplication, TestImages)

#include "tst_images.moc"
