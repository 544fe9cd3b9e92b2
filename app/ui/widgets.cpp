#include "app/ui/widgets.h"

#include "model/controls.h"

#include <QBackingStore>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QWindow>
#include <qdrawutil.h>

#include <algorithm>
#include <cmath>
#include <cstring>

Caption_Label::Caption_Label(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

void Caption_Label::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) pressed_ = true;
    e->accept();
}

void Caption_Label::mouseReleaseEvent(QMouseEvent* e) {
    const bool was_pressed = pressed_;
    pressed_ = false;
    e->accept();
    if (was_pressed && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        emit clicked();
}

void Caption_Label::mouseMoveEvent(QMouseEvent* e) {
    e->accept();
    emit mouse_moved();
}

Caption_Button::Caption_Button(QWidget* parent) : QPushButton(parent) {}

void Caption_Button::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);
    const QString caption = opt.text;
    opt.text.clear();
    p.drawControl(QStyle::CE_PushButtonBevel, opt);
    QRect r = style()->subElementRect(QStyle::SE_PushButtonContents, &opt, this);
    if (isDown()) {
        r.translate(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &opt, this),
                    style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &opt, this));
    }
    p.drawItemText(r, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, palette(),
                   isEnabled(), caption, QPalette::ButtonText);
    if (hasFocus()) {
        QStyleOptionFocusRect f;
        f.initFrom(this);
        f.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &opt, this);
        p.drawPrimitive(QStyle::PE_FrameFocusRect, f);
    }
}

Caption_Frame::Caption_Frame(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setMouseTracking(true);
}

void Caption_Frame::set_caption(const QString& c) {
    if (c == caption_) return;
    caption_ = c;
    update();
}

void Caption_Frame::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFontMetrics fm(font());
    const int top = fm.height() / 2;
    qDrawShadeRect(&p, QRect(0, top, width(), height() - top), palette(), true, 1);
    if (caption_.isEmpty()) return;
    const int x = 6;
    const QRect text(x, 0, fm.horizontalAdvance(caption_) + 4, fm.height());
    p.fillRect(text, palette().color(QPalette::Window));
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(text.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, caption_);
}

void Caption_Frame::mouseMoveEvent(QMouseEvent* e) {
    // Moves over a child that has no tracking of its own come up here too.
    if (!childAt(e->position().toPoint())) emit background_mouse_move();
    e->accept();
}

Option_Toggle::Option_Toggle(Kind kind, QWidget* parent) : QAbstractButton(parent), kind_(kind) {
    setCheckable(true);
    setAutoExclusive(false);
    setFocusPolicy(Qt::StrongFocus);
    // Painted like a label on its container, not like a button face.
    setBackgroundRole(QPalette::Window);
    setForegroundRole(QPalette::WindowText);
}

QRect Option_Toggle::indicator_rect() const {
    const bool check = kind_ == Check;
    QStyleOptionButton opt;
    opt.initFrom(this);
    const int w = style()->pixelMetric(
        check ? QStyle::PM_IndicatorWidth : QStyle::PM_ExclusiveIndicatorWidth, &opt, this);
    const int h = style()->pixelMetric(
        check ? QStyle::PM_IndicatorHeight : QStyle::PM_ExclusiveIndicatorHeight, &opt, this);
    const int sw = std::max(1, int(std::lround(w * indicator_scale_)));
    const int sh = std::max(1, int(std::lround(h * indicator_scale_)));
    return QRect(1, (height() - sh) / 2, sw, sh);
}

void Option_Toggle::set_indicator_scale(double scale) {
    if (scale == indicator_scale_) return;
    indicator_scale_ = scale;
    update();
}

void Option_Toggle::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton opt;
    opt.initFrom(this);
    opt.state |= isChecked() ? QStyle::State_On : QStyle::State_Off;
    if (isDown()) opt.state |= QStyle::State_Sunken;
    opt.rect = indicator_rect();
    p.drawPrimitive(kind_ == Check ? QStyle::PE_IndicatorCheckBox : QStyle::PE_IndicatorRadioButton,
                    opt);
    const QRect text = text_rect();
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
    p.drawItemText(text, flags, palette(), isEnabled(), this->text(), QPalette::WindowText);
    if (hasFocus()) {
        QStyleOptionFocusRect f;
        f.initFrom(this);
        f.rect = p.boundingRect(text, flags, this->text()).adjusted(-1, 0, 1, 0) & rect();
        p.drawPrimitive(QStyle::PE_FrameFocusRect, f);
    }
}

QRect Option_Toggle::text_rect() const {
    QStyleOptionButton opt;
    opt.initFrom(this);
    const int spacing = int(std::lround(
        indicator_scale_ * style()->pixelMetric(kind_ == Check ? QStyle::PM_CheckBoxLabelSpacing
                                                               : QStyle::PM_RadioButtonLabelSpacing,
                                                &opt, this)));
    return rect().adjusted(indicator_rect().right() + 1 + spacing, 0, 0, 0);
}

bool Option_Toggle::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

void Option_Toggle::nextCheckState() {
    // A selected option stays selected when clicked again; a check box toggles.
    setChecked(kind_ == Option ? true : !isChecked());
}

Filled_Shape::Filled_Shape(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Filled_Shape::set_shape(int shape) {
    if (shape == shape_) return;
    shape_ = shape;
    forget_faces();
    update();
}

void Filled_Shape::set_fill(const QColor& c) {
    if (c == fill_) return;
    fill_ = c;
    forget_faces();
    update();
}

void Filled_Shape::set_lit(bool lit) {
    if (lit == lit_) return;
    lit_ = lit;
    if (!copy_into_store()) update();
}

void Filled_Shape::forget_cover() {
    cover_ = Cover::Unknown;
}

// A lamp blinks four times a poll. The widget tree's repaint of each blink (regions of every
// ancestor, a painter set up from font and palette, then the flush) costs more than all the
// rest an idle tool does. A lamp that nothing covers therefore copies a ready image of itself,
// lit or dark, into the window's backing store and shows that rectangle alone; whatever stands
// in the way of that (a covered lamp, a fractional scale, a window not shown) takes the usual
// repaint.
bool Filled_Shape::copy_into_store() {
    if (!isVisible() || !testAttribute(Qt::WA_OpaquePaintEvent)) return false;
    // Where the lamp stands in the window, and whether anything covers it, only change when a
    // control changes; a blink reuses them.
    if (cover_ == Cover::Unknown) {
        top_ = window();
        area_ = QRect(mapTo(top_, QPoint(0, 0)), size());
        area_region_ = QRegion(area_);
        cover_ = visibleRegion() == QRegion(rect()) ? Cover::None : Cover::Some;
    }
    if (cover_ == Cover::Some) return false;
    QBackingStore* store = top_->backingStore();
    QWindow* handle = top_->windowHandle();
    if (!store || !handle || !handle->isExposed()) return false;

    store->beginPaint(area_region_);
    QPaintDevice* device = store->paintDevice();
    QImage* image =
        device && device->devType() == QInternal::Image ? static_cast<QImage*>(device) : nullptr;
    const qreal ratio = image ? image->devicePixelRatio() : 0;
    const int scale = qRound(ratio);
    const QRect pixels(area_.topLeft() * scale, area_.size() * scale);
    const bool plain = image && scale >= 1 && qFuzzyCompare(ratio, qreal(scale)) &&
                       image->depth() % 8 == 0 && image->isDetached() &&
                       image->rect().contains(pixels);
    if (plain) {
        const QImage& face = this->face(image->format(), scale);
        const int bytes = image->depth() / 8;
        const qsizetype stride = image->bytesPerLine();
        uchar* row = image->bits() + pixels.top() * stride + pixels.left() * bytes;
        for (int y = 0; y < pixels.height(); ++y, row += stride)
            std::memcpy(row, face.constScanLine(y), size_t(pixels.width()) * size_t(bytes));
    }
    store->endPaint();
    if (plain) store->flush(area_region_, handle);
    return plain;
}

const QImage& Filled_Shape::face(QImage::Format format, int scale) {
    QImage& face = lit_ ? lit_face_ : dark_face_;
    if (face.format() != format || face.size() != size() * scale) {
        face = QImage(size() * scale, format);
        face.setDevicePixelRatio(scale);
        QPainter p(&face);
        draw(p);
    }
    return face;
}

void Filled_Shape::resizeEvent(QResizeEvent*) {
    forget_faces();
}

void Filled_Shape::moveEvent(QMoveEvent*) {
    forget_cover();
}

void Filled_Shape::forget_faces() {
    lit_face_ = QImage();
    dark_face_ = QImage();
    cover_ = Cover::Unknown;
}

void Filled_Shape::set_dark_fill(const QColor& c) {
    dark_ = c;
    // Painting all of itself, lit or dark, it spares its container a repaint beneath it.
    setAttribute(Qt::WA_OpaquePaintEvent, c.isValid());
    forget_faces();
    update();
}

void Filled_Shape::paintEvent(QPaintEvent*) {
    if (!lit_ && !dark_.isValid()) return;
    QPainter p(this);
    draw(p);
}

void Filled_Shape::draw(QPainter& p) {
    if (dark_.isValid()) p.fillRect(rect(), dark_);
    if (!lit_) return;
    p.setBrush(fill_);
    QRect r = rect();
    // Square, circle and the marks: the largest square centred in the control.
    if (shape_ != Control::Rectangle && shape_ != Control::Oval) {
        const int side = qMin(width(), height());
        r = QRect((width() - side) / 2, (height() - side) / 2, side, side);
    }
    if (!border_.isValid()) {
        p.setPen(Qt::NoPen);
        if (shape_ == Control::Oval || shape_ == Control::Circle) {
            p.setRenderHint(QPainter::Antialiasing);
            p.drawEllipse(QRectF(r));
        } else {
            p.drawRect(r);
        }
        return;
    }
    // The outline, and outside it a ring of the opposite lightness that keeps it apart from a
    // background as dark as itself; both lie inside the control.
    p.setRenderHint(QPainter::Antialiasing);
    const qreal line = border_width_, ring = border_width_;
    const qreal in = line / 2 + ring;
    const QRectF b = QRectF(r).adjusted(in, in, -in, -in);
    const QPointF c = b.center();
    QPainterPath path;
    switch (shape_) {
    case Control::Oval:
    case Control::Circle:
        path.addEllipse(b);
        break;
    case Control::Diamond:
        path.addPolygon(QPolygonF({QPointF(c.x(), b.top()), QPointF(b.right(), c.y()),
                                   QPointF(c.x(), b.bottom()), QPointF(b.left(), c.y())}));
        break;
    case Control::Triangle:
        path.addPolygon(QPolygonF({QPointF(c.x(), b.top()), QPointF(b.right(), b.bottom()),
                                   QPointF(b.left(), b.bottom())}));
        break;
    case Control::Cross: {
        // Two bars a third of the side thick, whose ends reach the corners.
        const qreal thick = b.width() / 3;
        const qreal length = b.width() * M_SQRT2 - thick;
        QPainterPath bar;
        bar.addRect(QRectF(-length / 2, -thick / 2, length, thick));
        path = QTransform().rotate(45).map(bar).united(QTransform().rotate(-45).map(bar));
        path.translate(c);
        break;
    }
    default:
        path.addRect(b);
        break;
    }
    path.closeSubpath();
    const QColor opposite = border_.lightness() < 128 ? Qt::white : Qt::black;
    p.strokePath(path,
                 QPen(opposite, line + 2 * ring, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    p.fillPath(path, fill_);
    p.strokePath(path, QPen(border_, line, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
}

void Filled_Shape::set_border(const QColor& c, qreal width) {
    if (c == border_ && width == border_width_) return;
    border_ = c;
    border_width_ = width;
    forget_faces();
    update();
}

Drawn_Line::Drawn_Line(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Drawn_Line::set_line(const QPoint& p1, const QPoint& p2, int width, const QColor& c) {
    p1_ = p1;
    p2_ = p2;
    width_ = qMax(1, width);
    colour_ = c;
    const int pad = (width_ + 1) / 2;
    setGeometry(QRect(p1, p2).normalized().adjusted(-pad, -pad, pad, pad));
    update();
}

void Drawn_Line::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // Round ends, so that the rows of the loop join without a notch at the corners.
    p.setPen(QPen(colour_, width_, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPoint origin = pos();
    p.drawLine(p1_ - origin, p2_ - origin);
}

Drawn_Picture::Drawn_Picture(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
}

void Drawn_Picture::set_picture(const QPixmap& pix) {
    picture_ = pix;
    update();
}

void Drawn_Picture::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) return;
    QPainter p(this);
    // Shrunk with the window when it is drawn smaller than designed.
    QSize shown = picture_.size();
    const QSize room = size() - QSize(2, 2);
    if (!room.isEmpty() && (shown.width() > room.width() || shown.height() > room.height()))
        shown.scale(room, Qt::KeepAspectRatio);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawPixmap(QRect(QPoint(1, 1), shown), picture_);
}
