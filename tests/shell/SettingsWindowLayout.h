#pragma once
// Where the program's settings window has its controls, for tests that click into the window of
// the running program: the same window is built here, on the same X server with the same fonts and
// style, and each control's centre is measured from the window's top-left corner. The upload
// section is measured with the own server chosen, the hot-keys section with its three recorders.
#include "app/AppState.h"
#include "settings/HotkeyRecorderView.h"
#include "settings/SettingsView.h"
#include "settings/SettingsViewModel.h"
#include "shell/SettingsWindowController.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QMap>
#include <QPoint>
#include <QPushButton>
#include <QWidget>

#include <optional>

namespace test {

class SettingsWindowLayout {
public:
    SettingsWindowLayout()
    {
        AppState appState;
        SettingsWindowController host(&appState);
        host.showSettings();
        QWidget* window = host.window();
        auto* view = window->findChild<SettingsView*>();
        test::spin(std::chrono::milliseconds(100));
        auto centre = [window](const QWidget* widget) { return widget->mapTo(window, widget->rect().center()); };
        for (SettingsSection section : SettingsSections::allCases())
            m_rows.insert(section, centre(view->sidebarRow(section)));

        view->model()->selectSection(SettingsSection::upload);
        view->model()->chooseProvider(UploadProvider::ssh);
        test::spin(std::chrono::milliseconds(100));
        for (const char* name : {"hostField", "userField", "passwordField"})
            if (const auto* field = view->currentSection()->findChild<QWidget*>(QString::fromLatin1(name)))
                m_fields.insert(QString::fromLatin1(name), centre(field));

        view->model()->selectSection(SettingsSection::hotkeys);
        test::spin(std::chrono::milliseconds(100));
        for (const auto* recorder : view->currentSection()->findChildren<HotkeyRecorderView*>())
            m_recorders.append(centre(recorder->findChild<QWidget*>(QStringLiteral("hotkeyField"))));
        m_size = window->size();
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QPoint row(SettingsSection section) const { return m_rows.value(section); }
    // A field of the upload section by its object name; nullopt when it lies outside the window.
    std::optional<QPoint> field(const QString& name) const
    {
        if (!m_fields.contains(name) || !QRect(QPoint(0, 0), m_size).contains(m_fields.value(name)))
            return std::nullopt;
        return m_fields.value(name);
    }
    // The field of the recorder at `index`: area, full screen, recording.
    QPoint recorder(int index) const { return m_recorders.value(index); }

private:
    QMap<SettingsSection, QPoint> m_rows;
    QMap<QString, QPoint> m_fields;
    QList<QPoint> m_recorders;
    QSize m_size;
};

} // namespace test
