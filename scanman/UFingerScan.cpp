#include "UFingerScan.h"

#include "Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QObject>
#include <QSocketNotifier>
#include <QtGlobal>

#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include <sys/eventfd.h>
#include <unistd.h>

TFingerScan* FingerScan = nullptr;
std::atomic<bool> AcceptScans{false};

namespace {

const char* const ConfigFileName = "ScannerConfig.CFG";

// x rounded to the nearest integer, halves to the even neighbour.
double RoundEven(double x) {
    return std::nearbyint(x);
}

// Size of the rescaled picture; false when it is empty or too large.
bool ScaledSize(int32_t w, int32_t h, double factor, int32_t& w4, int32_t& h2) {
    if (!(factor > 0) || !std::isfinite(factor) || w <= 0 || h <= 0)
        return false;
    const double sw = RoundEven(w / factor), sh = RoundEven(h / factor);
    if (!(sw >= 1) || !(sh >= 1) || sw > FingerScanMaxSide || sh > FingerScanMaxSide)
        return false;
    w4 = RoundUp4(static_cast<int32_t>(sw));
    h2 = static_cast<int32_t>(sh);
    return w4 <= FingerScanMaxSide && int64_t(w4) * h2 <= FingerScanMaxPixels;
}

bool ParseDecimal(const QString& text, int32_t& value) {
    if (text.isEmpty())
        return false;
    int i = 0;
    bool negative = false;
    if (text[0] == u'-' || text[0] == u'+') {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c.unicode() - u'0');
        if (v > int64_t(INT32_MAX) + 1)
            return false;
    }
    v = negative ? -v : v;
    if (v > INT32_MAX || v < INT32_MIN)
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

struct Pending {
    QString id;
    int32_t width, height, resolution;
    std::vector<unsigned char> pixels;
};

void Dispatch();

// Wakes the GUI thread: an eventfd watched by a socket notifier that lives on the GUI
// thread. Waking allocates nothing, so it is cheap and safe from any thread, and a wake-up
// that comes after the pump is gone cannot reach anything.
class TDeliveryPump {
  public:
    TDeliveryPump() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (fd_ < 0)
            throw std::runtime_error("FingerScan: cannot create its wake-up descriptor");
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] {
            uint64_t count = 0;
            (void)!read(fd_, &count, sizeof count);
            Dispatch();
        });
    }
    ~TDeliveryPump() {
        delete notifier_;
        ::close(fd_);
    }
    TDeliveryPump(const TDeliveryPump&) = delete;
    TDeliveryPump& operator=(const TDeliveryPump&) = delete;
    void Wake() {
        const uint64_t one = 1;
        (void)!write(fd_, &one, sizeof one);
    }

  private:
    int fd_;
    QSocketNotifier* notifier_ = nullptr;
};

// State shared between the library's thread and the GUI thread.
struct Gate {
    std::mutex mutex;
    bool open = false; // between module start and end
    bool posted = false;
    std::deque<Pending> queue;
    TDeliveryPump* pump = nullptr; // lives on the GUI thread
    TFingerScanCounters counters;
    TFingerScanErrorHook hook;
    uint64_t overflow = 0; // images dropped since the queue last filled up
};

Gate& G() {
    static Gate gate;
    return gate;
}

void Report(std::exception_ptr error) {
    TFingerScanErrorHook hook;
    {
        std::lock_guard lock(G().mutex);
        hook = G().hook;
    }
    if (hook) {
        try {
            hook(error);
        } catch (...) {
            // Nothing may leave through the event loop.
            qWarning("FingerScan: the error hook raised an error");
        }
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        qWarning("FingerScan: %s", e.what());
    } catch (...) {
        qWarning("FingerScan: unknown error during a delivery");
    }
}

// Asks the GUI thread for one Dispatch; the gate's mutex is held by the caller.
void PostDispatch(Gate& g) {
    g.posted = true;
    g.pump->Wake();
}

// GUI thread: takes one waiting image and raises the events for it.
void Dispatch() {
    Gate& g = G();
    Pending item;
    uint64_t overflow = 0;
    {
        std::lock_guard lock(g.mutex);
        if (g.queue.empty()) {
            g.posted = false;
            return;
        }
        item = std::move(g.queue.front());
        g.queue.pop_front();
        if (g.queue.empty()) {
            g.posted = false;
            std::swap(overflow, g.overflow); // the queue has drained: the run of drops ends
        } else {
            PostDispatch(g); // the next one in a later turn of the event loop
        }
    }
    if (overflow > 1)
        LogDroppedScan(
            QStringLiteral("%1 imágenes en total mientras la cola estaba llena").arg(overflow));
    // A handler that runs a nested event loop may see the next image delivered inside it;
    // the windows' busy rule refuses it there, as it refuses any image during other work.
    bool ran = false;
    if (!AcceptScans.load() || !FingerScan) {
        {
            std::lock_guard lock(g.mutex);
            g.counters.dropped++;
        }
        LogDroppedScan(
            QStringLiteral("la ventana ya no acepta imágenes (scanner %1)").arg(item.id));
        return;
    }
    QString why;
    try {
        ran = FingerScan->Deliver(item.id, item.width, item.height, item.pixels.data(),
                                  item.resolution, &why);
    } catch (...) {
        ran = true;
        Report(std::current_exception());
    }
    {
        std::lock_guard lock(g.mutex);
        if (ran)
            g.counters.delivered++;
        else
            g.counters.dropped++;
    }
    if (!ran) {
        LogDroppedScan(why);
        if (FingerScan && FingerScan->Dropped)
            FingerScan->Dropped(QStringLiteral("Imagen de ScanMan descartada: ") + why);
    }
}

// Library thread: copy the image and hand it to the GUI thread. Never throws.
void ImageCallback(const char* scannerId, int width, int height, const unsigned char* pixels,
                   int resolution, void*) {
    if (!AcceptScans.load())
        return;
    Gate& g = G();
    const bool usable = scannerId && pixels && width > 0 && height > 0 &&
                        width <= FingerScanMaxSide && height <= FingerScanMaxSide &&
                        int64_t(width) * height <= FingerScanMaxPixels;
    const QString id = QString::fromLocal8Bit(scannerId ? scannerId : "");
    // A full queue drops every image until it drains; the first drop of such a run is logged
    // here and the run's count when the queue has drained (Dispatch), so a storm of images
    // writes two lines, not one per image.
    auto queueFull = [&g] { return g.queue.size() >= size_t(FingerScanMaxPending); };
    auto fullLine = [&id] {
        return QStringLiteral("la cola está llena (%1 imágenes esperan; scanner %2)")
            .arg(FingerScanMaxPending)
            .arg(id);
    };
    {
        std::unique_lock lock(g.mutex);
        if (!g.open)
            return;
        g.counters.received++;
        if (!usable) {
            g.counters.dropped++;
            lock.unlock();
            LogDroppedScan(QStringLiteral("tamaño %1 x %2 no válido (scanner %3)")
                               .arg(width)
                               .arg(height)
                               .arg(id));
            return;
        }
        if (queueFull()) {
            g.counters.dropped++;
            const bool first = g.overflow++ == 0;
            lock.unlock();
            if (first)
                LogDroppedScan(fullLine());
            return;
        }
    }
    try {
        Pending item{id, width, height, resolution,
                     std::vector<unsigned char>(pixels, pixels + size_t(width) * size_t(height))};
        std::unique_lock lock(g.mutex);
        if (!g.open)
            return;
        if (queueFull()) {
            g.counters.dropped++;
            const bool first = g.overflow++ == 0;
            lock.unlock();
            if (first)
                LogDroppedScan(fullLine());
            return;
        }
        g.queue.push_back(std::move(item));
        if (!g.posted)
            PostDispatch(g);
    } catch (...) {
        {
            std::lock_guard lock(g.mutex);
            g.counters.dropped++;
        }
        LogDroppedScan(QStringLiteral("sin memoria para la imagen (scanner %1)").arg(id));
    }
}

void StatusCallback(const char*, int, void*) {}
void MonitorCallback(int, const char*, void*) {}

QStringList ReadConfig() {
    QString path = QString::fromLatin1(ConfigFileName);
    if (!QFile::exists(path)) {
        // Also accept the name in other letter case, as the file comes from systems whose
        // file names ignore case.
        const QStringList names = QDir::current().entryList(QDir::Files);
        path.clear();
        for (const QString& name : names)
            if (name.compare(QLatin1String(ConfigFileName), Qt::CaseInsensitive) == 0) {
                path = name;
                break;
            }
        if (path.isEmpty())
            return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ParseScannerConfig(file.readAll());
}

} // namespace

QStringList ParseScannerConfig(const QByteArray& text) {
    QStringList lines;
    const QList<QByteArray> raw = text.split('\n');
    for (qsizetype i = 0; i < raw.size(); ++i) {
        QByteArray line = raw[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (i == raw.size() - 1 && line.isEmpty())
            break; // after the newline that ends the last line
        lines.append(QString::fromLocal8Bit(line));
    }
    return lines;
}

int32_t TFingerScan::ResolutionFor(const QString& id, int32_t reported) const {
    for (const QString& line : ScannerResolutions) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        if (QStringView(line).left(eq).compare(id, Qt::CaseInsensitive) != 0)
            continue;
        int32_t value = 0;
        return ParseDecimal(line.mid(eq + 1), value) ? value : reported;
    }
    return reported;
}

bool TFingerScan::Deliver(const QString& id, int32_t width, int32_t height,
                          const unsigned char* pixels, int32_t resolution, QString* why) {
    Resolution = ResolutionFor(id, resolution);
    const double factor = Resolution / 500.0;
    int32_t w4 = 0, h2 = 0;
    auto refuse = [&](const QString& reason) {
        if (why)
            *why = reason + QStringLiteral(" (scanner %1)").arg(id);
        return false;
    };
    if (!pixels)
        return refuse(QStringLiteral("imagen sin píxeles"));
    if (Resolution <= 0)
        return refuse(QStringLiteral("resolución %1 no válida").arg(Resolution));
    if (width > FingerScanMaxSide || height > FingerScanMaxSide ||
        int64_t(width) * height > FingerScanMaxPixels || !ScaledSize(width, height, factor, w4, h2))
        return refuse(QStringLiteral("tamaño %1 x %2 a resolución %3 no convertible")
                          .arg(width)
                          .arg(height)
                          .arg(Resolution));
    FImage.SetImage(width, height, pixels);
    QByteArray d1 = FImage.ToDIB();
    if (!BeforeScan)
        throw EFingerScan("BeforeScan not Attached");
    TScanStream stream;
    BeforeScan(stream);
    if (!stream)
        throw EFingerScan("BeforeScan supplied no stream");
    QByteArray d2 = ScaleDIB(d1, factor);
    d1 = QByteArray();
    WriteBitmapFile(d2, *stream);
    d2 = QByteArray();
    if (!AfterScan)
        throw EFingerScan("AfterScan not Attached");
    AfterScan(stream);
    return true;
}

QByteArray ScaleDIB(const QByteArray& source, double factor) {
    if (source.size() < DibPixelOffset)
        return {};
    const int32_t w = DibGet32(source, 4), h = DibGet32(source, 8);
    int32_t w4 = 0, h2 = 0;
    if (w <= 0 || h <= 0 || w > FingerScanMaxSide || h > FingerScanMaxSide ||
        !ScaledSize(w, h, factor, w4, h2))
        return {};
    const qsizetype srcStride = RoundUp4(w);
    if (source.size() < DibPixelOffset + srcStride * h)
        return {};
    QByteArray out(DibPixelOffset + qsizetype(w4) * h2, '\0');
    DibPutHeader(out, w4, h2, w4 * h2, DibGet32(source, 24), DibGet32(source, 28), 256);
    const char* src = source.constData();
    char* dst = out.data();
    for (int i = 0; i < 256; ++i) {
        std::memcpy(dst + DibHeaderSize + 4 * i, src + DibHeaderSize + 4 * i, 3);
        dst[DibHeaderSize + 4 * i + 3] = static_cast<char>(i);
    }
    // Source columns and rows reached beyond the picture (the columns added by rounding the
    // width up to 4, or rounding at the edge) repeat the last column or row.
    std::vector<int32_t> column(static_cast<size_t>(w4));
    for (int32_t x = 0; x < w4; ++x)
        column[size_t(x)] = static_cast<int32_t>(std::min<double>(RoundEven(x * factor), w - 1));
    for (int32_t y = 0; y < h2; ++y) {
        const auto sy = static_cast<int32_t>(std::min<double>(RoundEven(y * factor), h - 1));
        const char* srow = src + DibPixelOffset + srcStride * sy;
        char* drow = dst + DibPixelOffset + qsizetype(w4) * y;
        if (factor == 1.0) { // the usual 500 ppi scanner: whole rows
            std::memcpy(drow, srow, size_t(w));
            std::memset(drow + w, srow[w - 1], size_t(w4 - w));
            continue;
        }
        for (int32_t x = 0; x < w4; ++x)
            drow[x] = srow[column[size_t(x)]];
    }
    return out;
}

bool WriteBitmapFile(const QByteArray& block, QIODevice& stream) {
    QByteArray header(14, '\0');
    header[0] = 'B';
    header[1] = 'M';
    DibPut32(header, 2, static_cast<int32_t>(14 + block.size()));
    DibPut32(header, 10, 14 + DibPixelOffset);
    stream.write(header);
    return stream.write(block) == block.size();
}

QString UFingerScanStart() {
    if (FingerScan)
        return {}; // already started
    AcceptScans = false;
    Gate& g = G();
    bool initialized = false;
    try {
        CheckScanMan(SMInitialize());
        initialized = true;
        GetStringParameter(nullptr, 10);
        GetIntParameter(nullptr, 11);
        GetIntParameter(nullptr, 12);
        SMSetMonitor(&MonitorCallback, nullptr);
        {
            std::lock_guard lock(g.mutex);
            if (!g.pump)
                g.pump = new TDeliveryPump;
            g.open = true;
            g.posted = false;
            g.queue.clear();
            g.counters = {};
        }
        QStringList ids;
        GetScannerIds(ids);
        for (const QString& id : ids)
            StartCapturing(id, &ImageCallback, &StatusCallback); // a refusal is ignored
        FingerScan = new TFingerScan;
        FingerScan->ScannerResolutions = ReadConfig();
        return {};
    } catch (const std::exception& e) {
        if (initialized)
            UFingerScanEnd();
        return QString::fromStdString(e.what());
    }
}

void UFingerScanEnd() {
    Gate& g = G();
    {
        std::lock_guard lock(g.mutex);
        g.open = false;
        g.queue.clear();
    }
    // Waits for a callback in progress; none runs after this.
    StopCapturing();
    delete FingerScan;
    FingerScan = nullptr;
    TDeliveryPump* pump = nullptr;
    {
        std::lock_guard lock(g.mutex);
        pump = g.pump;
        g.pump = nullptr;
        g.posted = false;
    }
    delete pump; // a wake-up still pending goes with it
    SMRemoveMonitor();
    SMFinalize();
}

void LogDroppedScan(const QString& why) {
    platform::LogLine(QStringLiteral("Imagen de ScanMan descartada: ") + why);
}

void SetFingerScanErrorHook(TFingerScanErrorHook hook) {
    std::lock_guard lock(G().mutex);
    G().hook = std::move(hook);
}

TFingerScanCounters FingerScanCounters() {
    std::lock_guard lock(G().mutex);
    return G().counters;
}
