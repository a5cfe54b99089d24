// The duplicate-finger check (see DuplicateCheck.h).
#include "DuplicateCheck.h"

#include "MessageBox.h"
#include "SlotBadge.h"
#include "UConfigTrazel.h"
#include "UTrazel.h"
#include "fpmatch.h"
#include "greyio.h"

#include <QFile>
#include <QMessageBox>

#include <algorithm>
#include <cstdlib>

TDuplicateCheck::TDuplicateCheck(TFTrazel* window)
    : QObject(window), FWindow(window), FWorker([this] { Work(); }) {
    FPoll.setInterval(5);
    connect(&FPoll, &QTimer::timeout, this, &TDuplicateCheck::Drain);
}

TDuplicateCheck::~TDuplicateCheck() {
    {
        std::lock_guard lock(FMutex);
        FStop = true;
    }
    FWake.notify_all();
    FWorker.join();
}

// The worker: one print at a time, in landing order.
void TDuplicateCheck::Work() {
    std::unique_lock lock(FMutex);
    for (;;) {
        FWake.wait(lock, [this] { return FStop || !FJobs.empty(); });
        if (FStop)
            return;
        Job job = std::move(FJobs.front());
        FJobs.pop_front();
        FBusy = true;
        lock.unlock();
        Template t;
        greyio_image img;
        if (greyio_bmp_decode(job.bytes.data(), job.bytes.size(), &img) == GREYIO_OK) {
            fpmatch_template* raw = nullptr;
            if (img.width <= FPMATCH_MAX_SIDE && img.height <= FPMATCH_MAX_SIDE &&
                fpmatch_extract(img.pixels, static_cast<int>(img.width),
                                static_cast<int>(img.height), 0, &raw) == FPMATCH_OK)
                t = Template(raw, fpmatch_free);
            std::free(img.pixels);
        }
        lock.lock();
        FDone.push_back({job.slot, job.generation, std::move(t)});
        FBusy = false;
        if (FJobs.empty())
            FIdle.notify_all();
    }
}

bool TDuplicateCheck::Enabled() {
    return !FConfigTrazel || !FConfigTrazel->cbDuplicateCheck ||
           FConfigTrazel->cbDuplicateCheck->isChecked();
}

QString TDuplicateCheck::WarningText(const Pair& p) {
    return QStringLiteral("Atención: el %1 parece el mismo dedo que el %2")
        .arg(TFTrazel::FingerDisplayName(p.slot), TFTrazel::FingerDisplayName(p.other));
}

void TDuplicateCheck::PrintLanded(int n) {
    if (n < 1 || n > 10)
        return;
    Forget(n);
    if (!Enabled()) {
        ForgetAll();
        return;
    }
    QFile file(TFTrazel::SlotFile(n));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    {
        std::lock_guard lock(FMutex);
        FJobs.push_back(
            {n, FGeneration[n], std::vector<uint8_t>(bytes.constBegin(), bytes.constEnd())});
    }
    FWake.notify_one();
    ++FPending;
    FPoll.start();
}

void TDuplicateCheck::Forget(int n) {
    if (n < 1 || n > 10)
        return;
    ++FGeneration[n]; // a template still being made for n is dropped when it arrives
    FTemplates[n].reset();
    DropPairsOf(n);
}

void TDuplicateCheck::ForgetAll() {
    for (int n = 1; n <= 10; ++n)
        Forget(n);
}

void TDuplicateCheck::DropPairsOf(int n) {
    const auto gone = std::remove_if(FPairs.begin(), FPairs.end(),
                                     [n](const Pair& p) { return p.slot == n || p.other == n; });
    if (gone == FPairs.end())
        return;
    FPairs.erase(gone, FPairs.end());
    ShowMarks();
    emit changed();
}

void TDuplicateCheck::Finish() {
    {
        std::unique_lock lock(FMutex);
        FIdle.wait(lock, [this] { return FJobs.empty() && !FBusy; });
    }
    Drain();
}

void TDuplicateCheck::Drain() {
    std::vector<Done> done;
    {
        std::lock_guard lock(FMutex);
        done.swap(FDone);
    }
    for (const Done& d : done) {
        --FPending;
        Apply(d);
    }
    if (FPending == 0)
        FPoll.stop();
}

void TDuplicateCheck::Apply(const Done& d) {
    if (d.generation != FGeneration[d.slot] || !d.t)
        return; // re-captured, amputated or cleared meanwhile, or no picture
    FTemplates[d.slot] = d.t;
    std::vector<Pair> found;
    for (int m = 1; m <= 10; ++m) {
        if (m == d.slot || !FTemplates[m])
            continue;
        int score = 0;
        if (fpmatch_compare(d.t.get(), FTemplates[m].get(), &score) == FPMATCH_OK &&
            score >= FPMATCH_SAME_FINGER)
            found.push_back({d.slot, m, score});
    }
    if (found.empty())
        return;
    std::sort(found.begin(), found.end(),
              [](const Pair& a, const Pair& b) { return a.score > b.score; });
    FPairs.insert(FPairs.end(), found.begin(), found.end());
    ShowMarks();
    FWindow->ShowMessageLine(WarningText(found.front()));
    emit changed();
}

void TDuplicateCheck::ShowMarks() {
    std::array<bool, 11> marked{};
    for (const Pair& p : FPairs)
        marked[p.slot] = marked[p.other] = true;
    for (int n = 1; n <= 10; ++n) {
        if (!FMarks[n] && marked[n]) {
            TImageViewer* viewer = FWindow->SlotViewer(n);
            if (!viewer)
                continue;
            FMarks[n] = new TSlotBadge(viewer, Qt::TopLeftCorner);
            FMarks[n]->setObjectName(QStringLiteral("repetido%1").arg(n));
        }
        if (!FMarks[n])
            continue;
        if (marked[n])
            FMarks[n]->ShowMark(QStringLiteral("¿Repetido?"), QColor(255, 140, 0), Qt::black);
        else
            FMarks[n]->Clear();
    }
}

bool TDuplicateCheck::ConfirmSave() {
    if (!Enabled())
        return true;
    Finish();
    if (FPairs.empty())
        return true;
    const Pair& p =
        *std::max_element(FPairs.begin(), FPairs.end(),
                          [](const Pair& a, const Pair& b) { return a.score < b.score; });
    const auto answer = platform::ShowMessage(
        FWindow, WarningText(p) + QStringLiteral(". ¿Desea grabar de todos modos?"),
        QStringLiteral("Advertencia"), QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning);
    return answer == QMessageBox::Yes;
}
