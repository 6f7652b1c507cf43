#include "screenshots/ImageEditorToolbar.h"

#include "platform/ImageAssets.h"
#include "platform/SystemColors.h"
#include "screenshots/ImageEditorModel.h"

#include <QAbstractButton>
#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

#include <cmath>

namespace {

constexpr double kSymbolSize = 14;
const char* const kCurrentWidthProperty = "currentWidth";

QColor primaryColor(const QWidget* w)
{
    return w->palette().color(QPalette::WindowText);
}

QColor withOpacity(QColor c, double opacity)
{
    c.setAlphaF(float(c.alphaF() * opacity));
    return c;
}

QFont pixelFont(int pixels, QFont::Weight weight = QFont::Normal)
{
    QFont font;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

void drawSymbol(QPainter& painter, const QRectF& box, const QString& name, const QColor& tint)
{
    if (auto image = platform::ImageAssets::symbol(name, kSymbolSize, tint)) {
        const QSizeF size = image->deviceIndependentSize();
        painter.drawImage(QRectF(box.center() - QPointF(size.width() / 2, size.height() / 2), size), *image);
    }
}

// A symbol on a faint rounded square. A tool (36 x 36) is checkable: the current tool is an accent
// square with a white symbol. An action (undo and clear, 32 x 32) fades while disabled.
class SymbolButton : public QAbstractButton {
public:
    enum class Kind { tool, action };

    SymbolButton(const QString& symbol, Kind kind, QWidget* parent)
        : QAbstractButton(parent)
        , m_symbol(symbol)
        , m_kind(kind)
    {
        const int side = kind == Kind::tool ? 36 : 32;
        setFixedSize(side, side);
        setFocusPolicy(Qt::NoFocus);
        setCheckable(kind == Kind::tool);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (m_kind == Kind::action && !isEnabled())
            p.setOpacity(0.4);
        p.setPen(Qt::NoPen);
        p.setBrush(isChecked() ? platform::SystemColors::accent() : withOpacity(primaryColor(this), 0.05));
        const double radius = m_kind == Kind::tool ? 8 : 6;
        p.drawRoundedRect(QRectF(rect()), radius, radius);
        drawSymbol(p, QRectF(rect()), m_symbol, isChecked() ? QColor(Qt::white) : primaryColor(this));
    }

private:
    QString m_symbol;
    Kind m_kind;
};

// A 28 x 28 colour swatch: a 20-point circle, ringed in white when selected.
class ColorButton : public QAbstractButton {
public:
    ColorButton(const QColor& color, QWidget* parent)
        : QAbstractButton(parent)
        , m_color(color)
    {
        setFixedSize(28, 28);
        setFocusPolicy(Qt::NoFocus);
        setCheckable(true);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF circle(4, 4, 20, 20);
        p.setPen(Qt::NoPen);
        p.setBrush(m_color);
        p.drawEllipse(circle);
        if (isChecked()) {
            p.setPen(QPen(Qt::white, 2));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(circle);
        }
    }

private:
    QColor m_color;
};

// The width menu's label: a bar as high as the width, then its name, on a faint rounded plate.
class WidthButton : public QToolButton {
public:
    WidthButton(ImageEditorModel* model, QWidget* parent)
        : QToolButton(parent)
        , m_model(model)
    {
        setFocusPolicy(Qt::NoFocus);
        setAutoRaise(true);
        setPopupMode(QToolButton::InstantPopup);
    }

    QSize sizeHint() const override
    {
        if (!m_model)
            return QToolButton::sizeHint();
        const QFontMetrics fm(pixelFont(11));
        const int textWidth = fm.horizontalAdvance(m_model->lineWidthLabel());
        const int contentHeight = std::max(int(std::ceil(m_model->lineWidth())), fm.height());
        return QSize(8 + 20 + 6 + textWidth + 8, 6 + contentHeight + 6);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!m_model)
            return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(withOpacity(primaryColor(this), 0.1));
        p.drawRoundedRect(QRectF(rect()), 6, 6);
        const double w = m_model->lineWidth();
        const QRectF bar(8, (height() - w) / 2, 20, w);
        p.setBrush(primaryColor(this));
        p.drawRoundedRect(bar, w / 2, w / 2);
        p.setPen(primaryColor(this));
        p.setFont(pixelFont(11));
        p.drawText(QRectF(8 + 20 + 6, 0, width() - (8 + 20 + 6), height()), Qt::AlignLeft | Qt::AlignVCenter,
                   m_model->lineWidthLabel());
    }

private:
    QPointer<ImageEditorModel> m_model;
};

// A menu item's picture: the 16-point check-mark slot, then a 24-point bar as high as the width.
QIcon widthItemIcon(double width, bool current, const QColor& primary)
{
    const double dpr = 2;
    const QSizeF size(16 + 24, std::max(8.0, width));
    QImage image((size * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(dpr);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (current)
        drawSymbol(p, QRectF(0, 0, 16, size.height()), QStringLiteral("checkmark"), primary);
    p.setPen(Qt::NoPen);
    p.setBrush(primary);
    p.drawRoundedRect(QRectF(16, (size.height() - width) / 2, 24, width), width / 2, width / 2);
    p.end();
    return QIcon(QPixmap::fromImage(image));
}

QWidget* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::VLine);
    line->setFixedSize(1, 18);
    return line;
}

} // namespace

ImageEditorToolbar::ImageEditorToolbar(ImageEditorModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(10);

    auto* tools = new QHBoxLayout;
    tools->setSpacing(4);
    for (const auto& info : ImageEditorModel::tools()) {
        auto* button = new SymbolButton(info.symbol, SymbolButton::Kind::tool, this);
        button->setToolTip(info.toolTip);
        button->setObjectName(QStringLiteral("tool.") + AnnotationTypes::rawValue(info.tool));
        const AnnotationType tool = info.tool;
        connect(button, &QAbstractButton::clicked, this, [this, tool] {
            if (m_model)
                m_model->setSelectedTool(tool);
        });
        tools->addWidget(button);
        m_toolButtons.append(button);
    }
    row->addLayout(tools);
    row->addWidget(divider(this));

    auto* colors = new QHBoxLayout;
    colors->setSpacing(4);
    for (const QColor& color : ImageEditorModel::colors()) {
        auto* button = new ColorButton(color, this);
        button->setObjectName(QStringLiteral("color.%1").arg(m_colorButtons.size()));
        connect(button, &QAbstractButton::clicked, this, [this, color] {
            if (m_model)
                m_model->setSelectedColor(color);
        });
        colors->addWidget(button);
        m_colorButtons.append(button);
    }
    row->addLayout(colors);
    row->addWidget(divider(this));

    m_widthButton = new WidthButton(model, this);
    m_widthButton->setObjectName(QStringLiteral("lineWidth"));
    m_widthButton->setToolTip(QStringLiteral("Толщина линии"));
    m_widthMenu = new QMenu(m_widthButton);
    for (const auto& option : ImageEditorModel::lineWidths()) {
        QAction* action = m_widthMenu->addAction(option.label);
        const double width = option.width;
        action->setData(width);
        connect(action, &QAction::triggered, this, [this, width] {
            if (m_model)
                m_model->setLineWidth(width);
        });
    }
    m_widthButton->setMenu(m_widthMenu);
    row->addWidget(m_widthButton);

    row->addStretch(1);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(6);
    m_undoButton = new SymbolButton(QStringLiteral("arrow.uturn.backward"), SymbolButton::Kind::action, this);
    m_undoButton->setObjectName(QStringLiteral("undo"));
    // The tooltip names the shortcut as it is on Linux, Ctrl+Z (set up in ImageEditorView).
    m_undoButton->setToolTip(QStringLiteral("Отменить (Ctrl+Z)"));
    connect(m_undoButton, &QAbstractButton::clicked, this, [this] {
        if (m_model)
            m_model->undoLastAnnotation();
    });
    m_clearButton = new SymbolButton(QStringLiteral("trash"), SymbolButton::Kind::action, this);
    m_clearButton->setObjectName(QStringLiteral("clear"));
    m_clearButton->setToolTip(QStringLiteral("Очистить"));
    connect(m_clearButton, &QAbstractButton::clicked, this, [this] {
        if (m_model)
            m_model->clearAllAnnotations();
    });
    actions->addWidget(m_undoButton);
    actions->addWidget(m_clearButton);
    row->addLayout(actions);

    connect(model, &ImageEditorModel::selectedToolChanged, this, &ImageEditorToolbar::refresh);
    connect(model, &ImageEditorModel::selectedColorChanged, this, &ImageEditorToolbar::refresh);
    connect(model, &ImageEditorModel::lineWidthChanged, this, &ImageEditorToolbar::refresh);
    connect(model, &ImageEditorModel::annotationsChanged, this, &ImageEditorToolbar::refresh);
    refresh();
}

QAbstractButton* ImageEditorToolbar::toolButton(AnnotationType tool) const
{
    const auto index = AnnotationTypes::allCases().indexOf(tool);
    return index >= 0 && index < m_toolButtons.size() ? m_toolButtons[index] : nullptr;
}

QAbstractButton* ImageEditorToolbar::colorButton(int index) const
{
    return index >= 0 && index < m_colorButtons.size() ? m_colorButtons[index] : nullptr;
}

bool ImageEditorToolbar::isCurrentWidthItem(const QAction* action)
{
    return action && action->property(kCurrentWidthProperty).toBool();
}

void ImageEditorToolbar::refresh()
{
    if (!m_model)
        return;
    const auto& tools = ImageEditorModel::tools();
    for (qsizetype i = 0; i < m_toolButtons.size(); ++i)
        m_toolButtons[i]->setChecked(tools[i].tool == m_model->selectedTool());
    const auto& colors = ImageEditorModel::colors();
    for (qsizetype i = 0; i < m_colorButtons.size(); ++i)
        m_colorButtons[i]->setChecked(colors[i] == m_model->selectedColor());
    const bool enabled = m_model->hasAnnotations();
    m_undoButton->setEnabled(enabled);
    m_clearButton->setEnabled(enabled);
    refreshWidthMenu();
    m_widthButton->updateGeometry();
    m_widthButton->update();
}

void ImageEditorToolbar::refreshWidthMenu()
{
    for (QAction* action : m_widthMenu->actions()) {
        const double width = action->data().toDouble();
        const bool current = width == m_model->lineWidth();
        action->setProperty(kCurrentWidthProperty, current);
        action->setIcon(widthItemIcon(width, current, primaryColor(this)));
    }
}

void ImageEditorToolbar::paintEvent(QPaintEvent*)
{
    // The tool bar's translucent material background.
    QPainter p(this);
    p.fillRect(rect(), withOpacity(palette().color(QPalette::Window), 0.72));
}
