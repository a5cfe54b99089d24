// Printing the card through a real CUPS queue: a private cupsd with a cups-pdf queue, driven
// by the same printer path the preview's print button uses.
#include "CardTestSupport.h"
#include "TestSupport.h"
#include "dibcard.h"
#include "urpficha.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QProcess>
#include <QThread>
#include <QTransform>

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <set>

namespace {

const QString kQueue = QStringLiteral("TrazelCardPdf");
const QString kCupsd = QStringLiteral("/usr/sbin/cupsd");
const QString kBackend = QStringLiteral("/usr/lib/cups/backend/cups-pdf");
const QString kPpd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");

// Waits for a condition; the bound only keeps a broken queue from hanging the test run.
bool WaitFor(const std::function<bool()>& done, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (done())
            return true;
        QThread::msleep(100);
    }
    return done();
}

bool WriteText(const QString& fileName, const QString& text) {
    QFile f(fileName);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(text.toUtf8());
    return true;
}

// A cupsd of the test's own: configuration, spool and socket in a temporary folder.
class PrivateCups {
  public:
    bool Start(QString& why) {
        const QString root = FDir.path();
        for (const char* sub : {"spool", "tmp", "cache", "state", "log"})
            QDir(root).mkpath(QString::fromLatin1(sub));
        // cupsd runs its filters as the user lp, who must reach the spool and temporary files.
        QFile::setPermissions(root, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                        QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                        QFileDevice::ExeOther);
        ::chmod(QFile::encodeName(root + QStringLiteral("/tmp")).constData(), 01777);
        Socket = root + QStringLiteral("/cups.sock");
        const QString allowAll = QStringLiteral("  Order allow,deny\n  Allow all\n");
        WriteText(root + QStringLiteral("/cupsd.conf"),
                  QStringLiteral("Listen %1\nLogLevel warn\nBrowsing Off\nWebInterface No\n"
                                 "DefaultAuthType None\n<Location />\n%2</Location>\n"
                                 "<Location /admin>\n%2</Location>\n"
                                 "<Policy default>\n  <Limit All>\n%2  </Limit>\n</Policy>\n")
                      .arg(Socket, allowAll));
        WriteText(root + QStringLiteral("/cups-files.conf"),
                  QStringLiteral("ServerRoot %1\nRequestRoot %1/spool\nTempDir %1/tmp\n"
                                 "CacheDir %1/cache\nStateDir %1/state\n"
                                 "ErrorLog %1/log/error_log\nAccessLog %1/log/access_log\n"
                                 "PageLog %1/log/page_log\nSandboxing Relaxed\n")
                      .arg(root));
        FCupsd.setProcessChannelMode(QProcess::MergedChannels);
        FCupsd.start(kCupsd, {QStringLiteral("-f"), QStringLiteral("-c"),
                              root + QStringLiteral("/cupsd.conf"), QStringLiteral("-s"),
                              root + QStringLiteral("/cups-files.conf")});
        if (!FCupsd.waitForStarted()) {
            why = QStringLiteral("cupsd did not start");
            return false;
        }
        if (!WaitFor([&] { return QFileInfo::exists(Socket); }, 60)) {
            why = QStringLiteral("cupsd did not open its socket: ") +
                  QString::fromLocal8Bit(FCupsd.readAll()) + ErrorLog();
            return false;
        }
        // Every libcups call of this process (Qt's print support included) talks to this cupsd.
        qputenv("CUPS_SERVER", Socket.toLocal8Bit());
        QProcess lpadmin;
        lpadmin.setProcessChannelMode(QProcess::MergedChannels);
        lpadmin.start(QStringLiteral("lpadmin"),
                      {QStringLiteral("-h"), Socket, QStringLiteral("-p"), kQueue,
                       QStringLiteral("-E"), QStringLiteral("-v"), QStringLiteral("cups-pdf:/"),
                       QStringLiteral("-P"), kPpd});
        if (!lpadmin.waitForFinished(-1) || lpadmin.exitCode() != 0) {
            why = QStringLiteral("lpadmin could not add the queue: ") +
                  QString::fromLocal8Bit(lpadmin.readAll());
            return false;
        }
        return true;
    }
    QString ErrorLog() const {
        return QString::fromLocal8Bit(ReadAll(FDir.path() + QStringLiteral("/log/error_log")));
    }
    ~PrivateCups() {
        if (FCupsd.state() != QProcess::NotRunning) {
            FCupsd.terminate();
            if (!FCupsd.waitForFinished(10000))
                FCupsd.kill();
            FCupsd.waitForFinished();
        }
        qunsetenv("CUPS_SERVER");
    }
    QString Socket;

  private:
    QTemporaryDir FDir;
    QProcess FCupsd;
};

// cups-pdf writes into the PDF folder of the job's owner.
QString OutputFolder() {
    const passwd* pw = getpwuid(geteuid());
    return QString::fromLocal8Bit(pw ? pw->pw_dir : "/root") + QStringLiteral("/PDF");
}

std::set<QString> Pdfs(const QString& folder) {
    std::set<QString> found;
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.pdf")}, QDir::Files))
        found.insert(QDir(folder).filePath(name));
    return found;
}

QImage Render(const QString& pdf, const QString& stem) {
    RunTool(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QStringLiteral("40"), QStringLiteral("-gray"),
             QStringLiteral("-singlefile"), pdf, stem});
    return QImage(stem + QStringLiteral(".pgm")).convertToFormat(QImage::Format_Grayscale8);
}

// Mean absolute grey difference of two pages of the same size, or 255 when they differ in size.
// Both are first averaged over 4 × 4 pixels, so that the printer's own rasterising (edges,
// halftones) counts little and a misplaced or missing element counts much: on this page a
// shift of 2.5 mm gives about 5, a blank page about 15.
double Difference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return 255;
    const QSize small = a.size() / 4;
    const QImage sa = a.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage sb = b.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double sum = 0;
    for (int y = 0; y < sa.height(); ++y)
        for (int x = 0; x < sa.width(); ++x)
            sum += std::abs(int(sa.constScanLine(y)[x]) - int(sb.constScanLine(y)[x]));
    return sum / (double(sa.width()) * sa.height());
}

} // namespace

TEST(CardPrinting, PrintsThroughACupsPdfQueueAsOnThePage) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: the test starts its own cupsd, and the cups-pdf backend "
                        "runs only as root";
    for (const QString& f : {kCupsd, kBackend, kPpd})
        if (!QFileInfo::exists(f))
            GTEST_SKIP() << qPrintable(f)
                         << " is missing; install the Debian packages cups and "
                            "printer-driver-cups-pdf";
    for (const char* tool : {"lpadmin", "pdfinfo", "pdftoppm"})
        if (!HaveTool(QString::fromLatin1(tool)))
            GTEST_SKIP() << tool << " is missing (packages cups-client, poppler-utils)";
    const QString shippedTemplate = QStringLiteral(STATION_SOURCE_DIR "/assets/fmodelo.bemepe");
    ASSERT_TRUE(QFileInfo::exists(shippedTemplate));

    PrivateCups cups;
    QString why;
    if (!cups.Start(why))
        GTEST_SKIP() << "no private CUPS server could run here: " << qPrintable(why);

    // A card on the shipped template with ten plain grey prints.
    ScopedWorkingDir wd;
    ASSERT_TRUE(QFile::copy(shippedTemplate, kCardTemplateName));
    for (int n = 1; n <= 10; ++n)
        WriteBmp(*FilledBlock(400, 500, static_cast<uint8_t>(60 + 15 * n)),
                 QStringLiteral("dedo%1.bmp").arg(n));
    ComposeCard(wd.File(QStringLiteral("card.bmp")), QStringLiteral("dedo"));
    TrpFicha card;
    card.SetImageFile(wd.File(QStringLiteral("card.bmp")));
    card.SetReference(QStringLiteral("CUPS-1"));
    ASSERT_TRUE(card.PrintToPdf(wd.File(QStringLiteral("direct.pdf"))));

    const QString outDir = OutputFolder();
    const auto before = Pdfs(outDir);
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setPrinterName(kQueue);
        ASSERT_TRUE(printer.isValid()) << "Qt does not see the queue " << qPrintable(kQueue);
        ASSERT_EQ(printer.outputFormat(), QPrinter::NativeFormat);
        card.SetupPrinter(printer);
        ASSERT_TRUE(card.Print(printer));
    } // the job is sent when the printer's painting ends

    // The job is done when the queue is empty again and the file it left reads as a PDF
    // (cups-pdf creates the file before its converter fills it).
    std::set<QString> added;
    QString info;
    const bool arrived = WaitFor(
        [&] {
            added.clear();
            for (const QString& f : Pdfs(outDir))
                if (!before.count(f))
                    added.insert(f);
            if (added.size() != 1)
                return false;
            QProcess lpstat;
            lpstat.start(QStringLiteral("lpstat"),
                         {QStringLiteral("-h"), cups.Socket, QStringLiteral("-o"), kQueue});
            if (!lpstat.waitForFinished(-1) || !lpstat.readAllStandardOutput().trimmed().isEmpty())
                return false;
            info = RunTool(QStringLiteral("pdfinfo"), {*added.begin()});
            return info.contains(QStringLiteral("Pages:"));
        },
        180);
    ASSERT_TRUE(arrived) << "no complete PDF from the queue in " << qPrintable(outDir) << "\n"
                         << qPrintable(cups.ErrorLog());
    const QString printed = *added.begin();

    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))))
        << qPrintable(info);

    // The printed page looks like the report's own PDF (turned, if the queue turned it).
    const QImage direct =
        Render(wd.File(QStringLiteral("direct.pdf")), wd.File(QStringLiteral("direct")));
    const QImage queued = Render(printed, wd.File(QStringLiteral("queued")));
    ASSERT_FALSE(direct.isNull());
    ASSERT_FALSE(queued.isNull());
    double best = Difference(direct, queued);
    for (int angle : {90, 270})
        best = std::min(best, Difference(direct, queued.transformed(QTransform().rotate(angle))));
    QImage blank(direct.size(), QImage::Format_Grayscale8);
    blank.fill(255);
    const double blankDifference = Difference(direct, blank);
    std::printf("mean grey difference: queued %.2f, blank page %.2f\n", best, blankDifference);
    EXPECT_LT(best, 2.5) << "the queued page differs from the report's page";
    EXPECT_GT(blankDifference, 4 * best) << "the comparison cannot tell the card from a blank page";
    if (!qEnvironmentVariableIsEmpty("CARD_KEEP_PRINTED")) {
        queued.save(qEnvironmentVariable("CARD_KEEP_PRINTED") + QStringLiteral("-queued.png"));
        direct.save(qEnvironmentVariable("CARD_KEEP_PRINTED") + QStringLiteral("-direct.png"));
    }

    QFile::remove(printed);
}
