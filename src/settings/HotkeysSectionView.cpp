#include "settings/HotkeysSectionView.h"

#include "app/Localization.h"
#include "settings/HotkeyRecorderView.h"
#include "settings/HotkeySaveToast.h"
#include "settings/SettingsStyle.h"
#include "settings/SettingsViewModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

void addDivider(QVBoxLayout* layout, QWidget* parent)
{
    layout->addSpacing(12);
    layout->addWidget(SettingsStyle::divider(parent));
    layout->addSpacing(12);
}

} // namespace

HotkeysSectionView::HotkeysSectionView(SettingsViewModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("HotkeysSectionView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    struct Row {
        QString russian;
        QString english;
        QString ServerSettings::*field;
    };
    const Row rows[] = {
        {QStringLiteral("Захват области:"), QStringLiteral("Capture Area:"), &ServerSettings::screenshotHotkey},
        {QStringLiteral("Весь экран:"), QStringLiteral("Full Screen:"), &ServerSettings::fullScreenHotkey},
        {QStringLiteral("Запись экрана:"), QStringLiteral("Screen Recording:"), &ServerSettings::screenRecordingHotkey},
    };
    for (const Row& row : rows) {
        const auto field = row.field;
        HotkeyRecorderView::Binding binding{
            [model, field] { return model->settings().*field; },
            [model, field](const QString& value) { model->edit([&](ServerSettings& s) { s.*field = value; }); },
        };
        auto* recorder = new HotkeyRecorderView(std::move(binding), L::text(row.russian, row.english),
                                                [model] { model->hotkeyRecorderChanged(); }, this);
        m_recorders.append(recorder);
        layout->addWidget(recorder);
    }
    connect(m_model, &SettingsViewModel::settingsChanged, this, [this] {
        for (HotkeyRecorderView* recorder : m_recorders)
            recorder->refresh();
    });

    addDivider(layout, this);
    layout->addWidget(SettingsStyle::label(L::text(QStringLiteral("Нажмите на поле и введите комбинацию клавиш"),
                                                   QStringLiteral("Click on the field and press a key combination")),
                                           SettingsStyle::captionFont(), SettingsStyle::secondaryColor(), this));
    layout->addWidget(SettingsStyle::label(L::text(QStringLiteral("Требуется минимум один модификатор (Ctrl, Alt, Shift, Super)"),
                                                   QStringLiteral("At least one modifier required (Ctrl, Alt, Shift, Super)")),
                                           SettingsStyle::captionFont(), SettingsStyle::secondaryColor(), this));
    addDivider(layout, this);

    auto* saveLine = new QHBoxLayout;
    saveLine->addStretch(1);
    auto* save = new QPushButton(L::text(QStringLiteral("Сохранить"), QStringLiteral("Save")), this);
    save->setObjectName(QStringLiteral("saveHotkeysButton"));
    save->setCursor(Qt::PointingHandCursor);
    save->setMinimumHeight(28);
    save->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border-radius: 6px; padding: 4px 14px; }")
                            .arg(SettingsStyle::css(SettingsStyle::accentColor())));
    saveLine->addWidget(save);
    layout->addLayout(saveLine);
    layout->addStretch(1);

    m_toast = new HotkeySaveToast(this);
    connect(save, &QPushButton::clicked, m_model, &SettingsViewModel::saveHotkeys);
    connect(m_model, &SettingsViewModel::showHotkeySaveNotificationChanged, this,
            [this] { m_toast->setShowing(m_model->showHotkeySaveNotification()); });
    m_toast->setShowing(m_model->showHotkeySaveNotification());
}
