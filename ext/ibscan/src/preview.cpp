// The live preview: a child widget inside the host's QWidget, drawn on the GUI thread.
// The simulator calls the hooks below from any thread with its lock held, so they only
// queue work to the GUI thread: the newest picture of each device is kept here and one
// queued call at a time takes it to the widget.
#include "display.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPainter>
#include <QPointer>
#include <QPolygon>
#include <QTextOption>
#include <QWidget>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

namespace ibsim {

namespace {

QColor toColor(uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

class PreviewWidget : public QWidget {
  public:
    explicit PreviewWidget(QWidget* host) : QWidget(host) {
        setObjectName(QStringLiteral("IBScanPreview"));
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    void setModel(DisplayModel m) {
        model_ = std::move(m);
        picture_ = scaled(model_);
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), toColor(model_.background));
        if (!picture_.isNull())
            p.drawImage(QPoint(model_.left, model_.top), picture_);
        drawText(p, model_.clientText);
        for (const auto& t : model_.texts)
            drawText(p, t);
        p.setBrush(Qt::NoBrush);
        for (const auto& q : model_.quads) {
            if (q.hidden())
                continue;
            QPen pen(toColor(q.colour));
            pen.setWidth(q.width);
            p.setPen(pen);
            QPolygon poly;
            for (int i = 0; i < 4; ++i)
                poly << QPoint(q.c[2 * i], q.c[2 * i + 1]);
            p.drawPolygon(poly);
        }
    }

  private:
    // The image shrunk (or grown) to its place by averaging the source pixels that each
    // target pixel covers, straight into the painter's own format: Qt's scaling and format
    // conversion of big images would run on its thread pool.
    static QImage scaled(const DisplayModel& m) {
        if (!m.image || m.image->width <= 0 || m.image->height <= 0 || !(m.scale > 0))
            return {};
        const Frame& f = *m.image;
        const int tw = std::max(1, static_cast<int>(f.width * m.scale));
        const int th = std::max(1, static_cast<int>(f.height * m.scale));
        QImage out(tw, th, QImage::Format_RGB32);
        for (int ty = 0; ty < th; ++ty) {
            const int y0 = static_cast<int>(static_cast<int64_t>(ty) * f.height / th);
            const int y1 =
                std::max(y0 + 1, static_cast<int>(static_cast<int64_t>(ty + 1) * f.height / th));
            auto* row = reinterpret_cast<QRgb*>(out.scanLine(ty));
            for (int tx = 0; tx < tw; ++tx) {
                const int x0 = static_cast<int>(static_cast<int64_t>(tx) * f.width / tw);
                const int x1 =
                    std::max(x0 + 1, static_cast<int>(static_cast<int64_t>(tx + 1) * f.width / tw));
                unsigned sum = 0;
                for (int y = y0; y < y1; ++y) {
                    const uint8_t* src = f.pixels.data() + static_cast<std::size_t>(y) * f.width;
                    for (int x = x0; x < x1; ++x)
                        sum += src[x];
                }
                const int g = static_cast<int>(sum / static_cast<unsigned>((y1 - y0) * (x1 - x0)));
                row[tx] = qRgb(g, g, g);
            }
        }
        return out;
    }

    // A text that would run past the right edge wraps onto further lines inside the preview
    // (at blanks, or anywhere in a word longer than a line), as far as the preview reaches.
    void drawText(QPainter& p, const OverlayText& t) const {
        if (t.text.empty())
            return;
        QFont f(QString::fromStdString(t.font));
        f.setPointSize(t.size);
        f.setBold(t.bold);
        p.setFont(f);
        p.setPen(toColor(t.colour));
        const QRectF box(t.x, t.y, std::max(1, width() - t.x - 10), std::max(1, height() - t.y));
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        p.drawText(box, QString::fromUtf8(t.text.c_str()), option);
    }

    DisplayModel model_;
    QImage picture_; // the image at its size on screen
};

std::mutex gMutex;
std::map<int, DisplayModel> gLatest; // newest model per device, not yet taken
std::set<int> gPosted;               // devices with a queued call on its way

// GUI thread only.
std::map<int, QPointer<PreviewWidget>>& widgets() {
    static std::map<int, QPointer<PreviewWidget>> w;
    return w;
}

void attachHook(int handle, void* host, int left, int top, int right, int bottom) {
    if (!QCoreApplication::instance())
        return;
    auto* h = static_cast<QWidget*>(host);
    // Queued to the host: if the host goes first, Qt drops the call.
    QMetaObject::invokeMethod(
        h,
        [h, handle, left, top, right, bottom] {
            auto& w = widgets()[handle];
            if (w && w->parentWidget() != h) {
                delete w.data();
                w = nullptr;
            }
            if (!w)
                w = new PreviewWidget(h);
            w->setGeometry(left, top, right - left, bottom - top);
            w->show();
            w->raise();
        },
        Qt::QueuedConnection);
}

void takeLatest(int handle) {
    DisplayModel m;
    {
        std::lock_guard lk(gMutex);
        gPosted.erase(handle);
        auto it = gLatest.find(handle);
        if (it == gLatest.end())
            return;
        m = std::move(it->second);
        gLatest.erase(it);
    }
    auto it = widgets().find(handle);
    if (it != widgets().end() && it->second)
        it->second->setModel(std::move(m));
}

void updateHook(int handle, const DisplayModel& model) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    std::lock_guard lk(gMutex);
    gLatest[handle] = model;
    if (gPosted.insert(handle).second)
        QMetaObject::invokeMethod(
            app, [handle] { takeLatest(handle); }, Qt::QueuedConnection);
}

void detachHook(int handle) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    {
        std::lock_guard lk(gMutex);
        gLatest.erase(handle);
    }
    QMetaObject::invokeMethod(
        app,
        [handle] {
            auto it = widgets().find(handle);
            if (it == widgets().end())
                return;
            delete it->second.data();
            widgets().erase(it);
        },
        Qt::QueuedConnection);
}

const DisplayHooks kHooks{attachHook, updateHook, detachHook};

struct Install {
    Install() { setDisplayHooks(&kHooks); }
} gInstall;

} // namespace

} // namespace ibsim
