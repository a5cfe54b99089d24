#include "UInfoWnd.h"

#include "Screen.h"

#include <QCoreApplication>
#include <QPainter>
#include <qdrawutil.h>
#include <QTextBlock>

TInfoWnd::TInfoWnd(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("InfoWnd");
    platform::UseDialogFont(this);
    platform::SetClientSize(this, 365, 131);
    Text = new QPlainTextEdit(this);
    Text->setObjectName("Text");
    Text->setGeometry(6, 6, 352, 122);
    Text->setReadOnly(true);
    Text->setFrameShape(QFrame::NoFrame);
    QPalette pal = Text->palette();
    pal.setColor(QPalette::Base, palette().color(QPalette::Button));
    pal.setColor(QPalette::Text, Qt::black);
    Text->setPalette(pal);
    platform::CenterOnScreen(this);
}

void TInfoWnd::ShowInfo(const QString& title) {
    show();
    Text->clear();
    Text->appendPlainText(title);
    QCoreApplication::processEvents();
}

void TInfoWnd::AddStep(const QString& text) {
    Text->appendPlainText(QStringLiteral("   ") + text + QStringLiteral("..."));
    QCoreApplication::processEvents();
}

void TInfoWnd::StepOk() {
    QTextCursor c(Text->document()->lastBlock());
    c.movePosition(QTextCursor::EndOfBlock);
    c.insertText(QStringLiteral("Ok."));
    QCoreApplication::processEvents();
}

void TInfoWnd::paintEvent(QPaintEvent* e) {
    QDialog::paintEvent(e);
    QPainter p(this);
    qDrawWinPanel(&p, rect(), palette(), false); // two lines, light outside and dark inside
}

void TInfoWnd::HideInfo() {
    hide();
}
