#pragma once
// The main window's message line: a word-wrapped label that always shows its whole text. A
// text too long for the line at the window's font is drawn with a smaller face (down to
// 8 pixels); one that does not fit even then is cut at a word with "…", and the whole text is
// always in the tooltip.
#include <QLabel>

class TMessageLine : public QLabel {
    Q_OBJECT
  public:
    explicit TMessageLine(QWidget* parent = nullptr);
    void SetMessage(const QString& text);
    const QString& Message() const { return FMessage; }
    static constexpr int kSmallestPixelSize = 8;

  protected:
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;

  private:
    void Fit();
    QString FMessage;
    bool FFitting = false;
};
