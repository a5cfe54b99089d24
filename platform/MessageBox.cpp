#include "MessageBox.h"

namespace platform {
namespace {
MessageResponder& Responder() {
    static MessageResponder responder;
    return responder;
}
} // namespace

QMessageBox::StandardButton ShowMessage(QWidget* parent, const QString& text,
                                        const QString& caption,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::Icon icon) {
    if (Responder())
        return Responder()({text, caption, buttons, icon});
    QMessageBox box(icon, caption, text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

MessageResponder SetMessageResponder(MessageResponder responder) {
    MessageResponder previous = std::move(Responder());
    Responder() = std::move(responder);
    return previous;
}

} // namespace platform
