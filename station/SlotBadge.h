#pragma once
// A small mark painted over a corner of a slot viewer, so that a glance at the main window
// tells what each slot holds. The slot's NFIQ score is one such mark (bottom right); another
// mark of a slot can take another corner of the same viewer.
#include <QColor>
#include <QString>
#include <QWidget>

class TImageViewer;

class TSlotBadge : public QWidget {
    Q_OBJECT
  public:
    // Lies over the viewer's picture area, in the given corner; hidden until it has a text.
    // Mouse events pass through it to the viewer.
    TSlotBadge(TImageViewer* viewer, Qt::Corner corner);

    void ShowMark(const QString& text, const QColor& background, const QColor& foreground);
    void Clear();
    QString Text() const { return FText; }
    QColor Background() const { return FBackground; }

  protected:
    void paintEvent(QPaintEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Place();

    Qt::Corner FCorner;
    QString FText;
    QColor FBackground;
    QColor FForeground;
};

// What a slot's score mark shows for a scoring result (status and score as the NFIQ scoring
// gives them): "NFIQ " + score on the colour of its band (1–2 green, 3 amber, 4–5 red), or
// "NFIQ ?" on grey when the print could not be scored. An unscored slot shows no mark.
struct SlotScoreMark {
    bool shown = false;
    QString text;
    QColor background;
    QColor foreground;
};
SlotScoreMark ScoreMark(int status, int score);
