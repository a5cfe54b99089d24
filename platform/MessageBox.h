#pragma once
// Message boxes that tests can answer without a person: a test installs a responder, which
// receives every request (text, caption, buttons, icon) and returns the button pressed.
#include <QMessageBox>
#include <QString>

#include <functional>
#include <memory>

namespace platform {

struct MessageRequest {
    QString text;
    QString caption;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
};

using MessageResponder = std::function<QMessageBox::StandardButton(const MessageRequest&)>;

// Shows a modal message box and returns the button the operator pressed.
QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text,
                                        const QString& caption,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::Icon icon = QMessageBox::Information);

// The message box ShowMessage runs, not yet shown. Its standard buttons carry the station's
// Spanish captions ("Sí", "No", "Aceptar", "Cancelar") whatever the desktop's language.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const QString& text,
                                            const QString& caption,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::Icon icon);

// Installs a responder (an empty one restores real message boxes). Returns the previous one.
MessageResponder SetMessageResponder(MessageResponder responder);

} // namespace platform
