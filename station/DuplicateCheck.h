#pragma once
// The duplicate-finger check: each print that lands in a slot is compared with the prints of
// the other slots, so that the same finger captured twice (the index presented again for the
// middle finger, the thumb again for the index) is noticed while the person is still at the
// desk. A template is made from the slot file's bytes on a worker thread of the check's own;
// the GUI thread collects it (a short timer runs while work is under way: nothing is posted
// from the worker) and runs the comparisons, a fraction of a millisecond each. Amputated and empty
// slots take no part. A pair found is named in the message line, both slots carry a mark, and
// saving asks for confirmation while a pair stands.
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct fpmatch_template;
class TFTrazel;
class TSlotBadge;

class TDuplicateCheck : public QObject {
    Q_OBJECT
  public:
    struct Pair {
        int slot;  // the print that landed last of the two
        int other; // the slot it looks like
        int score;
    };

    explicit TDuplicateCheck(TFTrazel* window);
    ~TDuplicateCheck() override;

    // A print has been written to slot n's file: any pair with n ends, and n is checked anew.
    void PrintLanded(int n);
    // Slot n takes no part any more (amputated, or its file is gone).
    void Forget(int n);
    void ForgetAll();

    // Waits for checks under way, then, while a pair stands, asks whether to save anyway.
    // True: save.
    bool ConfirmSave();

    // The setting (Config, "DuplicateCheck"), as the settings dialog shows it.
    static bool Enabled();

    const std::vector<Pair>& Pairs() const { return FPairs; }
    int Pending() const { return FPending; }
    // "Atención: el X parece el mismo dedo que el Y" for a pair.
    static QString WarningText(const Pair& p);
    // Finishes the checks under way at once (for saving, and for tests).
    void Finish();

  signals:
    void changed();

  private:
    using Template = std::shared_ptr<fpmatch_template>;
    struct Job {
        int slot;
        unsigned generation;
        std::vector<uint8_t> bytes;
    };
    struct Done {
        int slot;
        unsigned generation;
        Template t;
    };
    void Work();
    void Drain();
    void Apply(const Done& d);
    void DropPairsOf(int n);
    void ShowMarks();

    TFTrazel* FWindow;
    QTimer FPoll;
    std::array<Template, 11> FTemplates{}; // [1..10]
    std::array<unsigned, 11> FGeneration{};
    std::array<TSlotBadge*, 11> FMarks{};
    std::vector<Pair> FPairs;
    int FPending = 0; // jobs handed to the worker and not yet collected

    std::mutex FMutex; // guards what follows
    std::condition_variable FWake, FIdle;
    std::deque<Job> FJobs;
    std::vector<Done> FDone;
    bool FBusy = false, FStop = false;
    std::thread FWorker; // last: starts once the rest exists
};
