#include "app/alerts.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

namespace {

class MessageBoxPresenter : public AlertPresenter {
  public:
    void present(QWidget *window, const Alert &alert, AlertCompletion completion) override {
        auto *box = new QMessageBox(window);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
        switch (alert.style) {
        case AlertStyle::Warning:
            box->setIcon(QMessageBox::Warning);
            break;
        case AlertStyle::Informational:
            box->setIcon(QMessageBox::Information);
            break;
        case AlertStyle::Critical:
            box->setIcon(QMessageBox::Critical);
            break;
        }
        box->setText(alert.messageText);
        box->setInformativeText(alert.informativeText);
        QStringList texts = alert.buttons.mid(0, 3);
        if (texts.isEmpty()) texts << QMessageBox::tr("OK");
        // Roles only order the buttons on screen; the code comes from the button's place.
        static const QMessageBox::ButtonRole kRoles[] = {QMessageBox::AcceptRole, QMessageBox::RejectRole,
                                                         QMessageBox::ActionRole};
        QList<QAbstractButton *> buttons;
        QPushButton *first = nullptr;
        for (int i = 0; i < texts.size(); ++i) {
            QPushButton *button = box->addButton(texts[i], kRoles[i]);
            if (!first) first = button;
            buttons.append(button);
        }
        box->setDefaultButton(first);
        box->setEscapeButton(buttons.last());
        // One answer per sheet, whether a button was clicked or the sheet was closed.
        auto answered = std::make_shared<bool>(false);
        auto finish = [buttons, completion, answered](QAbstractButton *clicked) {
            if (*answered) return;
            *answered = true;
            int index = buttons.indexOf(clicked);
            if (index < 0) index = buttons.size() - 1;
            if (completion) completion(kAlertFirstButtonReturn + index);
        };
        QObject::connect(box, &QMessageBox::buttonClicked, box, finish);
        QObject::connect(box, &QDialog::finished, box, [finish, box] { finish(box->clickedButton()); });
        box->open();
    }
};

MessageBoxPresenter gMessageBoxPresenter;
AlertPresenter *gPresenter = nullptr;

} // namespace

void beginAlertSheet(QWidget *window, const Alert &alert, AlertCompletion completion) {
    AlertPresenter *presenter = gPresenter ? gPresenter : &gMessageBoxPresenter;
    presenter->present(window, alert, std::move(completion));
}

AlertPresenter *setAlertPresenter(AlertPresenter *presenter) {
    AlertPresenter *previous = gPresenter;
    gPresenter = presenter;
    return previous;
}
