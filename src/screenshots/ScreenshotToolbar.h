#pragma once

#include <QColor>
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>

class QHBoxLayout;

// The tool bar row at the top of the screenshot preview window. It lays out the items of a list of
// identifiers; which widget an identifier stands for is the owner's choice.
class ScreenshotToolbar : public QWidget {
    Q_OBJECT
public:
    static constexpr int barHeight = 40;
    static const QString identifierName; // "ScreenshotToolbar"
    static const QString spaceIdentifier;
    static const QString flexibleSpaceIdentifier;

    explicit ScreenshotToolbar(QWidget* parent = nullptr);

    // Replaces the items. `space` is a fixed gap, `flexibleSpace` takes the free width; any other
    // identifier is given by `makeItem`, which may return null to leave it out.
    void setItems(const QStringList& identifiers, const std::function<QWidget*(const QString&)>& makeItem);
    QWidget* item(const QString& identifier) const { return m_items.value(identifier); }
    QStringList itemIdentifiers() const { return m_identifiers; }

    // A copy of `image` with its painted pixels covered by `color` at `opacity` (source-atop).
    static QImage tinted(const QImage& image, const QColor& color, double opacity);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QHBoxLayout* m_row = nullptr;
    QStringList m_identifiers;
    QHash<QString, QPointer<QWidget>> m_items;
};
