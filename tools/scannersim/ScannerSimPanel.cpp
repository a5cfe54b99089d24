#include "ScannerSimPanel.h"

#include "SimChannel.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

// LED bits of the scanner (the IB library's header values), in the order they sit on the
// scanner: left hand little to thumb, then right thumb to little.
struct FingerLed {
    const char* name;
    uint32_t green, red;
};
constexpr FingerLed kFingers[] = {
    {"MI", 0x01000000u, 0x02000000u}, {"AI", 0x04000000u, 0x08000000u},
    {"CI", 0x00100000u, 0x00200000u}, {"II", 0x00400000u, 0x00800000u},
    {"PI", 0x00010000u, 0x00020000u}, {"PD", 0x00040000u, 0x00080000u},
    {"ID", 0x00001000u, 0x00002000u}, {"CD", 0x00004000u, 0x40000000u},
    {"AD", 0x00000100u, 0x00000200u}, {"MD", 0x00000400u, 0x00000800u},
};
constexpr uint32_t kBlinkGreen = 0x10000000u, kBlinkRed = 0x20000000u;
constexpr std::pair<uint32_t, const char*> kProgress[] = {{0x00000020u, "Mano izq."},
                                                          {0x00000040u, "Pulgares"},
                                                          {0x00000080u, "Mano der."},
                                                          {0x00000010u, "Rolado"}};

// "key=value" and key="value" pairs of a status line.
std::map<std::string, std::string> fields(const std::string& line) {
    std::map<std::string, std::string> out;
    for (const std::string& w : simchannel::words(line)) {
        const auto eq = w.find('=');
        if (eq != std::string::npos)
            out[w.substr(0, eq)] = w.substr(eq + 1);
    }
    // words() keeps quoted parts whole only when the quote starts the word: take prompt apart.
    const auto p = line.find("prompt=\"");
    if (p != std::string::npos) {
        const auto end = line.rfind('"');
        out["prompt"] = end > p + 8 ? line.substr(p + 8, end - p - 8) : std::string();
    }
    return out;
}

} // namespace

class ScannerFace : public QWidget {
  public:
    uint32_t leds = 0;
    QString prompt, state;
    bool blinkOn = true;

    QSize sizeHint() const override { return {520, 172}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(rect(), QColor(40, 40, 44));
        // The finger LEDs.
        const int n = 10, d = 30, gap = 16;
        const int x0 = (width() - (n * d + (n - 1) * gap)) / 2;
        for (int i = 0; i < n; ++i) {
            const bool g = leds & kFingers[i].green, r = leds & kFingers[i].red;
            const bool blinks = (g && (leds & kBlinkGreen)) || (r && (leds & kBlinkRed));
            QColor c(70, 70, 70);
            if ((g || r) && (!blinks || blinkOn))
                c = g && r ? QColor(255, 165, 0) : g ? QColor(0, 200, 0) : QColor(230, 0, 0);
            const int x = x0 + i * (d + gap) + (i >= 5 ? gap : 0) - (i < 5 ? gap / 2 : 0);
            p.setBrush(c);
            p.setPen(QPen(Qt::black, 2));
            p.drawEllipse(x, 14, d, d);
            p.setPen(Qt::white);
            p.drawText(QRect(x - 5, 48, d + 10, 16), Qt::AlignCenter, kFingers[i].name);
        }
        // The progress LEDs.
        int x = 20;
        for (const auto& [bit, label] : kProgress) {
            p.setBrush((leds & bit) ? QColor(0, 160, 255) : QColor(70, 70, 70));
            p.setPen(QPen(Qt::black, 1));
            p.drawRect(x, 74, 14, 14);
            p.setPen(Qt::white);
            p.drawText(x + 20, 86, QString::fromUtf8(label));
            x += 125;
        }
        // The prompt, as the preview shows it.
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(10, 100, width() - 20, 36);
        p.setPen(Qt::black);
        QFont f = p.font();
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRect(16, 100, width() - 32, 36), Qt::AlignVCenter | Qt::TextWordWrap,
                   prompt.isEmpty() ? QStringLiteral("(sin indicación)") : prompt);
        f.setBold(false);
        p.setFont(f);
        p.setPen(QColor(200, 200, 200));
        p.drawText(QRect(10, 140, width() - 20, 24), Qt::AlignVCenter, state);
    }
};

ScannerSimPanel::ScannerSimPanel(int pid, QWidget* parent) : QWidget(parent), FPid(pid) {
    setWindowTitle(QStringLiteral("Simulador de escáner"));
    FFace = new ScannerFace;
    FStatus = new QLabel;
    FStatus->setObjectName(QStringLiteral("status"));
    FStatus->setWordWrap(true);
    auto* grid = new QGridLayout;
    auto repeat = [this](const char* q) {
        std::string line = "place";
        for (int i = 0; i < FFingers; ++i)
            line += std::string(" ") + q;
        return line;
    };
    struct Action {
        const char* name;
        const char* caption;
        std::function<std::string()> line;
    };
    const std::vector<Action> actions = {
        {"placeGood", "Colocar dedo bueno", [=] { return repeat("good"); }},
        {"placePoor", "Colocar dedo pobre", [=] { return repeat("poor"); }},
        {"placePartial", "Colocar dedo parcial", [=] { return repeat("top"); }},
        {"lift", "Levantar dedo", [] { return std::string("lift"); }},
        {"dirty", "Ensuciar platina", [] { return std::string("platen dirty"); }},
        {"clean", "Limpiar platina", [] { return std::string("platen clean"); }},
        {"unplug", "Desconectar escáner", [] { return std::string("unplug"); }},
        {"plug", "Conectar escáner", [] { return std::string("plug"); }},
    };
    for (std::size_t i = 0; i < actions.size(); ++i) {
        auto* b = new QPushButton(QString::fromUtf8(actions[i].caption));
        b->setObjectName(QString::fromLatin1(actions[i].name));
        const auto line = actions[i].line;
        QObject::connect(b, &QPushButton::clicked, this, [this, line] {
            FStatus->clear();
            Send(line());
            Poll();
        });
        grid->addWidget(b, static_cast<int>(i / 2), static_cast<int>(i % 2));
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FFace);
    layout->addLayout(grid);
    layout->addWidget(FStatus);
    auto* timer = new QTimer(this);
    QObject::connect(timer, &QTimer::timeout, this, [this] {
        FFace->blinkOn = !FFace->blinkOn;
        Poll();
    });
    timer->start(250);
    Poll();
}

uint32_t ScannerSimPanel::Leds() const {
    return FFace->leds;
}

QString ScannerSimPanel::Prompt() const {
    return FFace->prompt;
}

QString ScannerSimPanel::State() const {
    return FFace->state;
}

std::string ScannerSimPanel::Path() const {
    for (const auto& e : simchannel::list())
        if (e.kind == "ibscan" && (FPid == 0 || e.pid == FPid))
            return e.path;
    return {};
}

std::string ScannerSimPanel::Send(const std::string& line) {
    const std::string path = Path();
    if (path.empty()) {
        FStatus->setText(QStringLiteral("No hay ningún programa con el escáner simulado"));
        return {};
    }
    std::vector<std::string> answers;
    std::string error;
    if (!simchannel::request(path, {line}, answers, error)) {
        FStatus->setText(QString::fromStdString(error));
        return {};
    }
    if (answers[0].rfind("ok", 0) != 0)
        FStatus->setText(QString::fromStdString(answers[0]));
    return answers[0];
}

void ScannerSimPanel::Poll() {
    const std::string path = Path();
    std::vector<std::string> answers;
    std::string error;
    if (path.empty() || !simchannel::request(path, {"status"}, answers, error)) {
        FFace->state = QStringLiteral("Sin conexión con el programa");
        FFace->leds = 0;
        FFace->prompt.clear();
        FFace->update();
        return;
    }
    // The scanner that captures, else the first one listed.
    std::string chosen;
    for (const auto& line : QString::fromStdString(answers[0]).split('\n')) {
        const std::string l = line.toStdString();
        if (l.rfind("scanner ", 0) != 0)
            continue;
        if (chosen.empty() || l.find(" capturing=1") != std::string::npos)
            chosen = l;
    }
    auto f = fields(chosen);
    FFace->leds = static_cast<uint32_t>(std::stoul(f.count("leds") ? f["leds"] : "0", nullptr, 16));
    FFace->prompt = QString::fromStdString(f["prompt"]);
    const int type = std::atoi(f["type"].c_str());
    FFingers = type == 3 ? 2 : type == 4 ? 4 : 1;
    FFace->state =
        chosen.empty()
            ? QStringLiteral("Ningún escáner conectado")
            : QStringLiteral("%1 %2 — %3%4%5")
                  .arg(QString::fromStdString(f["model"]), QString::fromStdString(f["serial"]),
                       f["attached"] == "1" ? QStringLiteral("conectado")
                                            : QStringLiteral("desconectado"),
                       f["capturing"] == "1" ? QStringLiteral(", capturando") : QString(),
                       f["finger"] == "1" ? QStringLiteral(", dedo puesto") : QString());
    FFace->update();
}

int runPanel(int argc, char** argv, int pid) {
    QApplication app(argc, argv);
    ScannerSimPanel panel(pid);
    panel.show();
    return app.exec();
}
