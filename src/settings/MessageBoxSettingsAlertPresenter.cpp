#include "settings/MessageBoxSettingsAlertPresenter.h"

#include "app/DarkPalette.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

namespace {

// Beside the title, a window manager's title bar holds the window's icon and three buttons with
// their padding; Qt's own allowance for them (50 pixels) leaves the title cut to "Резуль... вания".
constexpr int kTitleBarDecorations = 120;

// The narrowest box whose title bar still shows the whole title. Title bars usually draw it bold.
int widthForTitle(const QString& title)
{
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    return QFontMetrics(font).horizontalAdvance(title) + kTitleBarDecorations;
}

} // namespace

void MessageBoxSettingsAlertPresenter::present(QWidget* window, const Alert& alert, std::function<void()> onDismiss)
{
    auto* box = new QMessageBox(window);
    box->setObjectName(QStringLiteral("settingsAlert"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    // A window of its own does not take the settings window's palette by itself.
    DarkPalette::apply(box);
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(alert.title);
    box->setText(alert.title);
    box->setInformativeText(alert.message);
    box->addButton(alert.button, QMessageBox::AcceptRole);
    // The box sizes itself from its layout when shown: a spacer across it sets the least width.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(widthForTitle(alert.title), 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    QObject::connect(box, &QMessageBox::finished, box, [onDismiss = std::move(onDismiss)] {
        if (onDismiss)
            onDismiss();
    });
    // open(), not exec(): the window's event loop goes on.
    box->open();
}
