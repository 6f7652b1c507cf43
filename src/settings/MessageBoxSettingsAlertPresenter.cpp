#include "settings/MessageBoxSettingsAlertPresenter.h"

#include <QMessageBox>
#include <QPushButton>

void MessageBoxSettingsAlertPresenter::present(QWidget* window, const Alert& alert, std::function<void()> onDismiss)
{
    auto* box = new QMessageBox(window);
    box->setObjectName(QStringLiteral("settingsAlert"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(alert.title);
    box->setText(alert.title);
    box->setInformativeText(alert.message);
    box->addButton(alert.button, QMessageBox::AcceptRole);
    QObject::connect(box, &QMessageBox::finished, box, [onDismiss = std::move(onDismiss)] {
        if (onDismiss)
            onDismiss();
    });
    // open(), not exec(): the window's event loop goes on.
    box->open();
}
