#include "video/MessageBoxVideoAlertPresenter.h"

#include <QMessageBox>

void MessageBoxVideoAlertPresenter::present(QWidget* window, const Alert& alert)
{
    auto* box = new QMessageBox(alert.style == Style::warning ? QMessageBox::Warning : QMessageBox::Information,
                                QStringLiteral("Kestrova"), alert.messageText, QMessageBox::Ok, window);
    box->setInformativeText(alert.informativeText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // open(): modal to its window only, and it returns at once.
    box->open();
}
