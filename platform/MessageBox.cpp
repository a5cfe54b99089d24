#include "MessageBox.h"

#include <QAbstractButton>

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
    const std::unique_ptr<QMessageBox> box = MakeMessageBox(parent, text, caption, buttons, icon);
    return static_cast<QMessageBox::StandardButton>(box->exec());
}

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const QString& text,
                                            const QString& caption,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::Icon icon) {
    auto box = std::make_unique<QMessageBox>(icon, caption, text, buttons, parent);
    static const struct {
        QMessageBox::StandardButton button;
        const char* text;
    } kCaptions[] = {
        {QMessageBox::Yes, "&Sí"},
        {QMessageBox::No, "&No"},
        {QMessageBox::Ok, "Aceptar"},
        {QMessageBox::Cancel, "Cancelar"},
    };
    for (const auto& c : kCaptions)
        if (QAbstractButton* b = box->button(c.button))
            b->setText(QString::fromUtf8(c.text));
    return box;
}

MessageResponder SetMessageResponder(MessageResponder responder) {
    MessageResponder previous = std::move(Responder());
    Responder() = std::move(responder);
    return previous;
}

} // namespace platform
