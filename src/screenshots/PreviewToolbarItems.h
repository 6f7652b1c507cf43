#pragma once

#include "app/ServerSettings.h"
#include "app/UploadProvider.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QPushButton>
#include <QString>

#include <functional>
#include <optional>

class QAbstractButton;
class QToolButton;

// The tool bar items the screenshot and the video preview share: the symbol buttons, and the
// "upload" item with the provider choice. Without a provider the upload item is a disabled symbol
// button, with one it is a button for that provider, with more it is a split button whose main part
// shows the active provider (the last used one when offered, else the first) and whose arrow opens
// a menu of all of them. The owner says what the clicks do. GUI thread only.
class PreviewToolbarItems : public QObject {
    Q_OBJECT
public:
    static constexpr double symbolSize = 20;
    // The upload buttons' bezel, without a checked state.
    static const QString bezelStyle;

    struct Actions {
        // A click on the single provider's button or on a menu item.
        std::function<void(UploadProvider)> uploadWith;
        // A click on the split button's main part.
        std::function<void()> uploadWithActive;
    };

    // `menuPalette` makes the palette of each new provider menu; `buttonStyle` is the upload buttons'
    // style sheet.
    PreviewToolbarItems(std::function<QPalette()> menuPalette, const QString& buttonStyle, Actions actions,
                        QObject* parent = nullptr);

    // The upload item named `identifier` for `providers`, which it keeps; `lastUsed` picks the split
    // button's active provider.
    QWidget* uploadItem(const QString& identifier, const QList<UploadProvider>& providers, UploadProvider lastUsed);
    // Restyles the split button and rechecks the menu for the active provider by `lastUsed`.
    void followLastUsedProvider(UploadProvider lastUsed);
    // The provider the split button's main part stands for by `lastUsed`.
    UploadProvider activeProvider(UploadProvider lastUsed) const { return activeProvider(m_providers, lastUsed); }
    // Forgets the providers and the split button, as when its window goes.
    void clear();

    const QList<UploadProvider>& providers() const { return m_providers; }
    // The split button's provider menu, while there is one.
    QMenu* providerMenu() const { return m_providerMenu; }

    // What the upload item offers, in menu order: the cloud service when signed in, then each
    // provider `settings` configures and the window has an uploader for (`canUpload`; all when unset).
    static QList<UploadProvider> configuredProviders(const ServerSettings& settings, bool signedIn,
                                                     const std::function<bool(UploadProvider)>& canUpload = {});
    // The last used provider when `providers` offers it (or offers none), else the first offered.
    static UploadProvider activeProvider(const QList<UploadProvider>& providers, UploadProvider lastUsed);
    // Pops up the menu the split button's arrow `sender` carries, under it.
    static void showProviderMenu(QAbstractButton* sender);

    // A 32 x 28 symbol-only button named `identifier`, labelled `label` for accessibility.
    static QToolButton* iconItem(const QString& identifier, const QString& label, const QString& toolTip,
                                 const std::optional<QImage>& image);
    // The "save" item (a blue tray arrow) and the "done" item (a green check mark), with the
    // window's own tool tip.
    static QToolButton* saveItem(const QString& toolTip);
    static QToolButton* doneItem(const QString& toolTip);
    // A tool bar symbol tinted the way the bar's items are: covered by `tint` at `opacity`.
    static std::optional<QImage> symbol(const QString& name, const QColor& tint, double opacity);
    // The preview windows' dark palette.
    static QPalette darkPalette();

    // The keys the items' tool tips name, for a preview window. An empty action has no key.
    struct Keys {
        std::function<void()> save;   // Ctrl+S
        std::function<void()> copy;   // Ctrl+C
        std::function<void()> upload; // Ctrl+U
        std::function<void()> done;   // Return, Enter
        std::function<void()> close;  // Escape
    };
    // Window-wide shortcuts on `window`. A focused text field that claims a key (the inline text
    // field claims all of them) keeps it.
    static void installKeys(QWidget* window, const Keys& keys);

private:
    QPushButton* makeUploadButton(UploadProvider provider);
    void styleUploadButton(QPushButton* button, UploadProvider provider);
    QWidget* createSplitUploadButton(const QList<UploadProvider>& providers, UploadProvider activeProvider);

    const std::function<QPalette()> m_menuPalette;
    const QString m_buttonStyle;
    const Actions m_actions;
    QList<UploadProvider> m_providers;
    QPointer<QPushButton> m_splitMainButton;
    QPointer<QMenu> m_providerMenu;
};
