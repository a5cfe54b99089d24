#pragma once
#include <QDialog>
#include <QPlainTextEdit>

// A captionless always-on-top window that lists the steps of a longer operation. It draws its
// own raised dialog border, so that it stands apart from the window behind it whatever the
// window manager does with a window without a caption.
class TInfoWnd : public QDialog {
    Q_OBJECT
  public:
    explicit TInfoWnd(QWidget* parent = nullptr);
    QPlainTextEdit* Text;

    void ShowInfo(const QString& title);
    void AddStep(const QString& text);
    void StepOk();
    void HideInfo();

  protected:
    void paintEvent(QPaintEvent* e) override;
};
