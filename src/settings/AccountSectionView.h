#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class QVBoxLayout;
class SettingsViewModel;

// The account section. Signed out: an invitation to sign in (the login window) and a link to the
// sign-up page. Signed in: the account card with the user, the storage used, the per-file limit and
// the uploads of the month, and a sign-out button. It follows the account manager by itself.
class AccountSectionView : public QWidget {
    Q_OBJECT
public:
    AccountSectionView(SettingsViewModel* model, std::function<void()> showLoginWindow, QWidget* parent = nullptr);

    // Which face is shown now.
    bool showsSignedInFace() const { return m_signedInFace; }

private:
    void rebuild();
    QWidget* makeSignedOutFace();
    QWidget* makeSignedInFace();

    SettingsViewModel* m_model;
    std::function<void()> m_showLoginWindow;
    QVBoxLayout* m_layout;
    QPointer<QWidget> m_face;
    bool m_signedInFace = false;
};
