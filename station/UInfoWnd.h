#pragma once
#include <QDialog>
#include <QPlainTextEdit>

// A captionless always-on-top window that lists the steps of a longer operation.
class TInfoWnd : public QDialog {
    Q_OBJECT
  public:
    explicit TInfoWnd(QWidget* parent = nullptr);
    QPlainTextEdit* Text;

    void ShowInfo(const QString& title);
    void AddStep(const QString& text);
    void StepOk();
    void HideInfo();
};
