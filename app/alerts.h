// Alert sheets: a message with up to three buttons, modal to one window only, whose completion
// receives the button chosen as 1000 (first), 1001 (second) or 1002 (third).
//
// The texts come translated from the caller (tr() with the English text). By default the sheet
// is a QMessageBox; tests install a presenter of their own and answer without a display.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

constexpr int kAlertFirstButtonReturn = 1000;
constexpr int kAlertSecondButtonReturn = 1001;
constexpr int kAlertThirdButtonReturn = 1002;

enum class AlertStyle { Warning, Informational, Critical };

struct Alert {
    QString messageText;
    QString informativeText;
    // First to third button; the first is the default, the last the answer to Escape when there
    // are two or more.
    QStringList buttons;
    AlertStyle style = AlertStyle::Informational;
};

using AlertCompletion = std::function<void(int returnCode)>;

class AlertPresenter {
  public:
    virtual ~AlertPresenter() = default;
    virtual void present(QWidget *window, const Alert &alert, AlertCompletion completion) = 0;
};

// Shows the alert as a sheet on `window` (any window when null) without waiting; `completion`,
// when set, runs once on the GUI thread with the return code of the button chosen.
void beginAlertSheet(QWidget *window, const Alert &alert, AlertCompletion completion = {});

// Replaces the presenter (null: back to the message box); answers the one it replaces.
AlertPresenter *setAlertPresenter(AlertPresenter *presenter);
