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
#include <QWidget>

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
        if (model_.image && model_.image->width > 0)
            picture_ = QImage(model_.image->pixels.data(), model_.image->width,
                              model_.image->height, model_.image->width, QImage::Format_Grayscale8);
        else
            picture_ = QImage();
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), toColor(model_.background));
        if (!picture_.isNull() && model_.scale > 0) {
            const QRectF target(model_.left, model_.top, picture_.width() * model_.scale,
                                picture_.height() * model_.scale);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(target, picture_);
        }
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
    static void drawText(QPainter& p, const OverlayText& t) {
        if (t.text.empty())
            return;
        QFont f(QString::fromStdString(t.font));
        f.setPointSize(t.size);
        f.setBold(t.bold);
        p.setFont(f);
        p.setPen(toColor(t.colour));
        const QFontMetrics fm(f);
        p.drawText(QPoint(t.x, t.y + fm.ascent()), QString::fromUtf8(t.text.c_str()));
    }

    DisplayModel model_;
    QImage picture_; // views model_.image's pixels
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
