#pragma once

#include <QWidget>

class QPushButton;
class SettingsViewModel;

// The about section: icon, name and tagline, version, build and build date, the links to the
// service's site and privacy policy, and the copyright line at the bottom. Read-only.
class AboutSectionView : public QWidget {
    Q_OBJECT
public:
    explicit AboutSectionView(SettingsViewModel* model, QWidget* parent = nullptr);

private:
    QPushButton* makeLinkRow(const QString& symbol, const QString& text, const QString& name);

    SettingsViewModel* m_model;
};
